// The background-task hook on a clock of the test's own: a turn when the interval has
// passed since the end of the last one and not before, never nested, never off the GUI
// thread, and no more turns than the time spent allows however often it is called.
#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <cstdint>
#include <thread>

#include "toolkit/BackgroundTask.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kInterval = 15 * kMs;

class BackgroundTaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        tk::SetBackgroundTaskClockForTesting([this] {
            ++reads_;
            return now_.load();
        });
    }
    void TearDown() override { tk::SetBackgroundTaskClockForTesting(nullptr); }

    // One call at the present time; true when it gave a turn.
    bool turn() {
        const std::uint64_t before = tk::BackgroundTaskTurns();
        tk::RuntimeBackgroundTask();
        return tk::BackgroundTaskTurns() != before;
    }

    std::atomic<std::int64_t> now_ = 1'000 * kMs;
    std::atomic<std::uint64_t> reads_ = 0;
};

TEST_F(BackgroundTaskTest, ATurnWhenDueAndNotBefore) {
    ASSERT_TRUE(turn());  // the first call after a quiet spell
    const struct {
        std::int64_t advance;
        bool turn;
    } steps[] = {{0, false}, {kInterval - 1, false}, {1, true}, {1, false}, {kInterval - 2, false},
                 {1, true},  {100 * kMs, true},      {0, false}};
    for (const auto& [advance, expected] : steps) {
        now_ += advance;
        EXPECT_EQ(turn(), expected) << "at " << now_ << " ns";
    }

    // Events waiting are delivered in the turn; the interval counts from the turn's end,
    // so a slow repaint does not make the next turn due at once.
    bool delivered = false;
    QTimer::singleShot(0, [&] {
        delivered = true;
        now_ += 40 * kMs;
    });
    now_ += kInterval;
    ASSERT_TRUE(turn());
    EXPECT_TRUE(delivered);
    now_ += kInterval - 1;
    EXPECT_FALSE(turn());
    now_ += 1;
    EXPECT_TRUE(turn());
}

TEST_F(BackgroundTaskTest, TurnsAreBoundedByTheTimeSpent) {
    // A million calls over one second of clock: at most one turn per interval, and each
    // call reads the clock once (plus once at the end of each turn).
    now_ += kInterval;
    const std::uint64_t turnsBefore = tk::BackgroundTaskTurns(), readsBefore = reads_;
    for (int i = 0; i < 1'000'000; ++i) {
        tk::RuntimeBackgroundTask();
        now_ += 1'000;
    }
    const std::uint64_t turns = tk::BackgroundTaskTurns() - turnsBefore;
    EXPECT_GE(turns, 60u);
    EXPECT_LE(turns, 1'000u * kMs / kInterval + 1);
    EXPECT_EQ(reads_ - readsBefore, 1'000'000u + turns);
}

TEST_F(BackgroundTaskTest, NoNestedTurnFromAnEventHandler) {
    int insideTurns = -1;
    QTimer::singleShot(0, [&] {
        now_ += 100 * kMs;  // long overdue, yet inside the hook's own turn
        insideTurns = turn() ? 1 : 0;
    });
    now_ += kInterval;
    ASSERT_TRUE(turn());
    EXPECT_EQ(insideTurns, 0);
    now_ += kInterval;
    EXPECT_TRUE(turn());  // the refusal left nothing behind
}

TEST_F(BackgroundTaskTest, OtherThreadsGetNoTurn) {
    const std::uint64_t before = tk::BackgroundTaskTurns(), readsBefore = reads_;
    std::thread other([this] {
        for (int i = 0; i < 1000; ++i) {
            now_ += kInterval;
            tk::RuntimeBackgroundTask();
        }
    });
    other.join();
    EXPECT_EQ(tk::BackgroundTaskTurns(), before);
    EXPECT_EQ(reads_, readsBefore);  // nor does it touch the GUI thread's state
}

}  // namespace
