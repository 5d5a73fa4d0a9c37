#include "toolkit/BackgroundTask.h"

#include <time.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace tk {
namespace {

// Turns come no more often than this, so a tight loop is not slowed down by the event loop.
constexpr std::int64_t kMinTurnIntervalNs = 15'000'000;

// The clock of a test, when one is set.
std::function<std::int64_t()>& TestClock() {
    static std::function<std::int64_t()> clock;
    return clock;
}
bool g_testClock = false;  // read on every call, so a plain flag rather than the function

// A clock that is cheap enough to read on every call. The coarse monotonic clock is a
// plain memory read (a few nanoseconds) with a resolution of a few milliseconds, which
// is all a 15 ms interval needs. Reading it on every call, rather than every N calls,
// means a turn is never late by more than one pass, however long passes take.
std::int64_t NowNs() noexcept {
    if (g_testClock) [[unlikely]]
        return TestClock()();
#if defined(CLOCK_MONOTONIC_COARSE)
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
        return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
#endif
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct State {
    std::int64_t lastTurnNs = INT64_MIN / 2;
    bool inTurn = false;
    std::uint64_t turns = 0;
};

State& TheState() {
    static State state;
    return state;
}

// The state below belongs to the GUI thread; a call from any other thread must not
// touch it. Asking Qt costs more than the rest of a call, so a thread remembers once it
// has been found to be the GUI thread.
bool OnGuiThread() {
    thread_local bool gui = false;
    if (!gui) {
        QCoreApplication* app = QCoreApplication::instance();
        gui = app != nullptr && app->thread() == QThread::currentThread();
    }
    return gui;
}

}  // namespace

void RuntimeBackgroundTask() {
    if (!OnGuiThread()) return;
    State& s = TheState();
    if (s.inTurn) return;  // called from an event handler during our own turn
    const std::int64_t now = NowNs();
    if (now - s.lastTurnNs < kMinTurnIntervalNs) return;
    if (QCoreApplication::instance() == nullptr) return;

    s.inTurn = true;
    ++s.turns;
    struct EndTurn {
        State& s;
        ~EndTurn() {
            s.inTurn = false;
            // Measured after the turn, so a slow repaint does not make the next turn due at once.
            s.lastTurnNs = NowNs();
        }
    } endTurn{s};
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::uint64_t BackgroundTaskTurns() noexcept { return TheState().turns; }

void SetBackgroundTaskClockForTesting(std::function<std::int64_t()> clock) {
    g_testClock = static_cast<bool>(clock);
    TestClock() = std::move(clock);
    TheState().lastTurnNs = INT64_MIN / 2;
}

}  // namespace tk
