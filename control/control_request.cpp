#include "control/control_request.h"

#include "monitor/monitor_port.h"

namespace kestrova {

BOOL getPrinterDataFromPort(MonitorPort&, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD, LPDWORD) { return FALSE; }

}  // namespace kestrova
