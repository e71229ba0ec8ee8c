// The program's own operator new and delete (all but the over-aligned
// forms): malloc and free, with a switch that refuses large blocks on the
// thread that set it.
#include "allocation_failure.h"

#include "standin/platform_standin.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t tFailFrom = 0;  // 0: never fail
thread_local std::size_t tCountdown = 0;  // 0: off; else allocations to go, the last one fails
thread_local bool tFired = false;

void* allocate(std::size_t size) {
    if (tFailFrom != 0 && size >= tFailFrom) throw std::bad_alloc();
    if (tCountdown != 0 && !kestrova::standin::outsideTheModule() && --tCountdown == 0) {
        tFired = true;
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

}  // namespace

namespace kestrova::testing {

FailLargeAllocations::FailLargeAllocations(std::size_t minBytes) : previous_(tFailFrom) { tFailFrom = minBytes; }

FailLargeAllocations::~FailLargeAllocations() { tFailFrom = previous_; }

FailAllocationNumber::FailAllocationNumber(std::size_t n) {
    tCountdown = n;
    tFired = false;
}

FailAllocationNumber::~FailAllocationNumber() { tCountdown = 0; }

bool FailAllocationNumber::fired() const { return tFired; }

}  // namespace kestrova::testing

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
