// Where the tool's servers may listen. A control channel takes delete_job
// and restore from whoever reaches it, and the machine serves whoever
// connects: loopback only, unless the command line says otherwise.
#pragma once

#include <string>

namespace kestrova::tool {

// 127.0.0.0/8, ::1 (also as [::1]) and localhost.
bool isLoopbackHost(const std::string& host);

// Checks the address `option` (e.g. "--control") names; `exposure` says
// what a stranger could do there ("send delete_job to the job"). Not
// loopback and not `allowRemote`: false, with the reason in `error`. Not
// loopback but allowed: true, with a warning for the error stream in
// `warning`.
bool checkListenAddress(const std::string& option, const std::string& host, bool allowRemote,
                        const std::string& exposure, std::string& error, std::string& warning);

}  // namespace kestrova::tool
