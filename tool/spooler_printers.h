// The printers of this spooler that KestrovaLM drives, and a control
// document sent to one of them as a client sends it: OpenPrinterW, then
// GetPrinterDataW with the document as the value name, which the spooler
// hands to the printer's language monitor (our GetPrinterDataFromPort).
// Windows only; elsewhere every call says so.
#pragma once

#include "tool/control_channel.h"
#include "tool/machine_directory.h"

#include <memory>
#include <string>

namespace kestrova::tool {

// Every printer whose driver names KestrovaLM as its language monitor;
// null where there is no spooler.
std::unique_ptr<MachineDirectory> spoolerPrinterDirectory();

enum class PrinterAnswer { Answered, NoSuchPrinter, NotKestrova, AccessDenied, Failed };

// The document to the printer named `printer` (UTF-8). `changesProduction`:
// the command acts on the machine or the job (all but get_info), and the
// printer is opened for administering it. Answered: `reply` holds the
// answer (ok false with the error GetPrinterDataW returned). Otherwise the
// reason is in `error`.
PrinterAnswer askPrinter(const std::string& printer, const std::string& document, bool changesProduction,
                         ControlReply& reply, std::string& error);

}  // namespace kestrova::tool
