// The background-task hook: cheap when called often, yet a turn comes regularly.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <thread>

#include "toolkit/BackgroundTask.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void Spin(std::chrono::microseconds length) {
    const auto end = Clock::now() + length;
    while (Clock::now() < end) {
    }
}

// Wall-clock bounds stay loose: CI machines may be small and busy. What is checked
// exactly is the rule itself, call by call: no turn sooner than the interval after the
// previous one (less the coarse clock's resolution), and a turn at the first call once
// the interval is well past.
TEST(BackgroundTaskTest, AMillionCallsCostLittle) {
    const auto start = Clock::now();
    for (int i = 0; i < 1'000'000; ++i) tk::RuntimeBackgroundTask();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
}

// From another thread the hook does nothing at all: no turn, and (as the thread
// sanitizer would tell) no touch of the GUI thread's state.
TEST(BackgroundTaskTest, OtherThreadsGetNoTurn) {
    const std::uint64_t before = tk::BackgroundTaskTurns();
    std::thread other([] {
        for (int i = 0; i < 1000; ++i) tk::RuntimeBackgroundTask();
    });
    other.join();
    EXPECT_EQ(tk::BackgroundTaskTurns(), before);
}

TEST(BackgroundTaskTest, TurnsComeNeitherTooOftenNorTooLate) {
    int timerShots = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&timerShots] { ++timerShots; });
    timer.start(5);

    const auto start = Clock::now();
    auto lastTurnEnd = start;
    bool sawTurn = false;
    int turns = 0, tooSoon = 0, missed = 0;
    int pass = 0;
    while (Clock::now() - start < milliseconds(400)) {
        // Passes of uneven length, as a caption loop makes them.
        Spin(std::chrono::microseconds(pass++ % 50 == 0 ? 3000 : 20));
        const auto before = Clock::now();
        const auto turnsBefore = tk::BackgroundTaskTurns();
        tk::RuntimeBackgroundTask();
        const bool turned = tk::BackgroundTaskTurns() != turnsBefore;
        if (sawTurn) {
            const auto sinceLast = before - lastTurnEnd;
            if (turned && sinceLast < milliseconds(10)) ++tooSoon;
            if (!turned && sinceLast > milliseconds(25)) ++missed;
        }
        if (turned) {
            ++turns;
            sawTurn = true;
            lastTurnEnd = Clock::now();
        }
    }
    EXPECT_GE(turns, 2);
    EXPECT_EQ(tooSoon, 0);
    EXPECT_EQ(missed, 0);
    EXPECT_GT(timerShots, 0);
}

TEST(BackgroundTaskTest, NoNestedTurnFromAnEventHandler) {
    Spin(std::chrono::milliseconds(20));
    std::uint64_t insideBefore = 0, insideAfter = 0;
    bool ran = false;
    QTimer::singleShot(0, [&] {
        Spin(std::chrono::milliseconds(20));
        insideBefore = tk::BackgroundTaskTurns();
        tk::RuntimeBackgroundTask();
        insideAfter = tk::BackgroundTaskTurns();
        ran = true;
    });
    const auto start = Clock::now();
    while (!ran && Clock::now() - start < milliseconds(500)) tk::RuntimeBackgroundTask();
    ASSERT_TRUE(ran);
    EXPECT_EQ(insideAfter, insideBefore);
}

}  // namespace
