// What the tool needs of the host around it: whether output is a terminal,
// Ctrl-C, and the platform's clock and spooler calls (the stand-in library
// outside Windows, the real system on Windows, where the clock is the same
// one as on Linux).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tool::host {

bool stdoutIsTerminal();

// The first Ctrl-C, SIGTERM or SIGHUP (Ctrl-Break on Windows) only sets a
// flag, and the tool then ends the job cleanly; a second one ends the
// process at once, with exit status 130 and the last words below. A closed
// output pipe no longer kills the process (ignoreClosedOutput).
void catchInterrupt();
bool interrupted();
// "Ctrl-C", "SIGTERM", ...; empty while not interrupted.
std::string interruptName();

// What a second stop signal leaves as the tool's last line: "interrupted by
// Ctrl-C, then by SIGTERM: the tool ended at once; " and `text`, on the
// output or, with `toErrorStream`, on the error stream. Nothing of the C++
// library may run in a signal handler, so the line is kept ready and is
// written with one write(); keep it current. `newLineFirst` moves below a
// live status line. Without last words, a second signal ends the process by
// the signal, as if none were caught.
void setLastWords(const std::string& text, bool toErrorStream, bool newLineFirst = false);
void clearLastWords();

// A closed output pipe no longer kills the process (SIGPIPE is ignored):
// the write fails and the tool notices.
void ignoreClosedOutput();

// Resets the platform clock (standin/virtual_clock.h; on Linux the whole
// platform stand-in) and selects real or virtual time. On Windows the
// module runs on it once LoadedModule::runOnVirtualClock has pointed its
// imports there.
void selectClock(bool virtualClock);
bool virtualClockActive();
std::uint64_t platformNowMs();
// Virtual time the calling thread has moved the clock on by; 0 on the real clock.
std::uint64_t thisThreadMovedClockMs();

// The virtual clock's limit (see ProductionClock); nothing on the real clock.
// The calling thread's pauses stop at the limit from now on.
void holdThisThreadAtClockLimit();
// Null: no limit.
void setClockLimit(std::optional<std::uint64_t> ms);
std::optional<std::uint64_t> clockLimit();
bool waitingAtClockLimit();

// The spooler calls the module made (SetJobW, ClosePrinter), as text; empty
// where they cannot be observed.
std::vector<std::string> spoolerCalls();

}  // namespace kestrova::tool::host
