// Makes the memory of the test program run out on demand, on one thread.
#pragma once

#include <cstddef>

namespace kestrova::testing {

// While alive, allocations of at least `minBytes` made on this thread throw
// std::bad_alloc; smaller ones and other threads are not affected.
class FailLargeAllocations {
public:
    explicit FailLargeAllocations(std::size_t minBytes);
    ~FailLargeAllocations();
    FailLargeAllocations(const FailLargeAllocations&) = delete;
    FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;

private:
    std::size_t previous_;
};

// While alive, the `n`th allocation (1-based) that the module makes on this
// thread from now on throws std::bad_alloc; the world around the module
// (standin::OutsideTheModule) is not counted and never fails.
class FailAllocationNumber {
public:
    explicit FailAllocationNumber(std::size_t n);
    ~FailAllocationNumber();
    FailAllocationNumber(const FailAllocationNumber&) = delete;
    FailAllocationNumber& operator=(const FailAllocationNumber&) = delete;

    // Whether the failure came: false when the module made fewer allocations.
    bool fired() const;
};

}  // namespace kestrova::testing
