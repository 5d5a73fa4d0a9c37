#pragma once
// The background-task hook that long loops call once per pass. It gives the event loop
// a turn so the window repaints and stays responsive during a long import, yet costs
// next to nothing when called millions of times: a call reads a cheap coarse clock and
// processes events only when ~15 ms have passed since the last turn, so a turn comes
// within ~15-20 ms of work plus the length of one pass.
#include <cstdint>
#include <functional>

namespace tk {

// Gives the event loop a turn when one is due; otherwise returns at once. Does nothing
// without a QCoreApplication, off the application's thread, or when called from inside
// a turn it gave itself (no nested event processing).
void RuntimeBackgroundTask();

// How many turns the hook has given since the program started (for tests and
// diagnostics).
std::uint64_t BackgroundTaskTurns() noexcept;

// Test seam: the hook reads this clock (monotonic nanoseconds) instead of the system's,
// and forgets when its last turn was, so the next call with a due time gives a turn. An
// empty function puts the system's clock back.
void SetBackgroundTaskClockForTesting(std::function<std::int64_t()> clock);

}  // namespace tk
