#include "monitor/monitor_port.h"

namespace kestrova {

BOOL MonitorPort::startDocPort(LPWSTR, DWORD, DWORD, LPBYTE) { return FALSE; }

BOOL MonitorPort::writePort(LPBYTE, DWORD, LPDWORD) { return FALSE; }

}  // namespace kestrova
