// What the tool's exit status tells a script.
#pragma once

namespace kestrova::tool::exit_code {

constexpr int Success = 0;
constexpr int Failed = 1;       // the job or request ran and did not succeed; check found problems
constexpr int Usage = 2;        // bad command line
constexpr int BadInput = 3;     // a file that cannot be read (or, for a preview, written)
constexpr int Environment = 4;  // module not loadable, machine or port unreachable
// install and uninstall (kestrova.exe)
constexpr int NotElevated = 5;       // not run as an administrator (elevated)
constexpr int WrongBitness = 6;      // the DLL or this kestrova.exe does not match the spooler
constexpr int DllMissing = 7;        // no KestrovaLM.dll where it was looked for, or not a Windows DLL
constexpr int AlreadyInstalled = 8;  // the monitor is registered already
constexpr int InUse = 9;             // still a driver's language monitor, or held by the spooler
constexpr int DriverUnknown = 10;    // --driver names no printer driver of this spooler
constexpr int WindowsOnly = 11;      // install or uninstall outside Windows
// print: the job was deleted from elsewhere (a control request, or someone
// the tool does not know of) before the machine delivered every card
constexpr int JobDeleted = 12;
// control --printer (kestrova.exe)
constexpr int NoSuchPrinter = 13;       // the spooler has no printer of that name
constexpr int NotKestrovaPrinter = 14;  // the printer's driver names another language monitor, or none
constexpr int Interrupted = 130;

}  // namespace kestrova::tool::exit_code
