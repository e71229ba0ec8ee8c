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

}  // namespace kestrova::testing
