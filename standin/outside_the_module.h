// A mark for the code that plays the world around the module (the stand-in
// calls, the software port monitor and what is behind it), so that a test
// that makes the module's memory run out can leave those allocations alone:
// a real spooler or port monitor does not throw into the module.
#pragma once

namespace kestrova::standin {

// Marks the calling thread as outside the module while alive.
class OutsideTheModule {
public:
    OutsideTheModule();
    ~OutsideTheModule();
    OutsideTheModule(const OutsideTheModule&) = delete;
    OutsideTheModule& operator=(const OutsideTheModule&) = delete;
};
bool outsideTheModule();

}  // namespace kestrova::standin
