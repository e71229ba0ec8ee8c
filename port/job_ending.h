// How production ends a job. Each of these ends the document's part in the port (jobInfo emptied, the printer handle
// given back) and allocates nothing, as they also run when memory has run out.
#pragma once

#include "platform/windows_types.h"
#include "port/monitor_port.h"

#include <cstddef>

namespace kestrova {

// Why a job is not printed; each has its debugger text and last error.
enum class JobRefusal { DataNotStored, MemoryRanOut, ProductionFailed };

// No card left: the document beneath ends and the spooler hears that the job
// is printed and can be deleted. Returns the port monitor's EndDocPort result.
BOOL finishJob(MonitorPort& port) REQUIRES(port.portLock);

// No card of the job has been made: nothing of it is produced, the document
// beneath ends, and the spooler sees FALSE with the reason, so that the job
// can be printed again whole. `stoppedHalfWay`: an exchange may have been
// cut short, so the next job restores the machine first.
BOOL refuseJob(MonitorPort& port, JobRefusal why, bool stoppedHalfWay) REQUIRES(port.portLock);

// A card of the job may have been made: printing it again would make that
// card twice, so the job is deleted from the spooler (not reported printed),
// the next job restores the machine first, and the debugger hears how many
// of the `cardsInJob` cards had been ejected.
BOOL abandonJob(MonitorPort& port, JobRefusal why, std::size_t cardsInJob) REQUIRES(port.portLock);

// The spooler closed the port, or shut the monitor down, while the job was
// held up in a ReadPort beneath: nothing more goes beneath and the job is not
// reported printed.
BOOL leaveAbandonedPort(MonitorPort& port) REQUIRES(port.portLock);

}  // namespace kestrova
