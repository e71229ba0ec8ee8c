#include "link/machine_state.h"

namespace kestrova {

const char* machineStateName(MachineState state) {
    static const char* const names[] = {"Unknown",           "Ready",          "Restoring",
                                        "Restore Complete",  "Loading Card",   "Loading Card",
                                        "Loading Card",      "Load Completed", "Personalizing Card",
                                        "Personalization Complete", "Ejecting Card", "Eject Complete"};
    if (state < 0 || state > 11) return "";
    return names[state];
}

}  // namespace kestrova
