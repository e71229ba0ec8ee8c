// Reading a control request: the kx_api command document carried as the
// value name of GetPrinterDataFromPort.
#pragma once

#include "control/control_tree.h"
#include "platform/windows_types.h"

#include <optional>

namespace kestrova {

// The request tree (comments kept, white space as it came); nullopt when
// the text is no XML document the monitor will read (not well-formed, or
// beyond the screen's bounds).
std::optional<ControlTree> readRequestDocument(const WCHAR* text);

// "kx_api.command.<xmlattr>.value" of the first kx_api and its first
// command; empty when absent.
TreeString requestCommand(const ControlTree& tree);

}  // namespace kestrova
