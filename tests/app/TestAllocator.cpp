// The application test program's operator new and delete (see TestAllocator.h). They
// replace the global ones for the whole program, Qt and the toolkit included.
#include "TestAllocator.h"

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace quillet::testing {

std::atomic<std::int64_t> g_liveBytes{0}, g_peakBytes{0};

namespace {
std::atomic<std::size_t> g_refuseFrom{std::numeric_limits<std::size_t>::max()};
std::atomic<std::size_t> g_refused{0};
}  // namespace

RefuseAllocationsFrom::RefuseAllocationsFrom(std::size_t bytes) : refusedBefore_(g_refused) { g_refuseFrom = bytes; }
RefuseAllocationsFrom::~RefuseAllocationsFrom() { g_refuseFrom = std::numeric_limits<std::size_t>::max(); }
std::size_t RefuseAllocationsFrom::Refused() const { return g_refused - refusedBefore_; }

}  // namespace quillet::testing

using quillet::testing::g_liveBytes;
using quillet::testing::g_peakBytes;

void* operator new(std::size_t size) {
    if (size >= quillet::testing::g_refuseFrom) {
        ++quillet::testing::g_refused;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    const std::int64_t live = g_liveBytes += static_cast<std::int64_t>(::malloc_usable_size(p));
    for (std::int64_t peak = g_peakBytes; live > peak && !g_peakBytes.compare_exchange_weak(peak, live);) {
    }
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
    if (!p) return;
    g_liveBytes -= static_cast<std::int64_t>(::malloc_usable_size(p));
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
