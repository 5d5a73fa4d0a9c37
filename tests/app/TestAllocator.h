#pragma once
// The application test program's own operator new. It counts the bytes the program holds
// through it, so that a memory guard counts instead of asking the machine, and it can
// refuse large allocations, as a machine out of memory would.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillet::testing {

// The bytes held through operator new now, and the most held since a test last set the
// peak (to the bytes held then).
extern std::atomic<std::int64_t> g_liveBytes, g_peakBytes;

// While one lives, every allocation through operator new of at least `bytes` bytes raises
// std::bad_alloc. Only large allocations are refused: the conversion's own buffers (the
// file's lines, the lists, the transcript body) are the ones a large file makes large,
// while the toolkit's and Qt's small ones go on as usual, so the failure comes where a
// real shortage would first show.
class RefuseAllocationsFrom {
public:
    explicit RefuseAllocationsFrom(std::size_t bytes);
    ~RefuseAllocationsFrom();
    RefuseAllocationsFrom(const RefuseAllocationsFrom&) = delete;
    RefuseAllocationsFrom& operator=(const RefuseAllocationsFrom&) = delete;
    // The allocations refused since this one was made.
    std::size_t Refused() const;

private:
    std::size_t refusedBefore_;
};

}  // namespace quillet::testing
