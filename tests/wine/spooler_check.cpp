// Plays the spooler for the built module on a real Windows runtime (Wine):
// loads KestrovaLM.dll, takes its function table, prints sample jobs through
// it to the machine simulator behind our software port monitor, and sends
// control requests. The same program built natively runs the same steps
// against the Linux module, so that the two builds can be compared byte for
// byte (the status documents go to --out).
//
// The spooler client calls the module makes go to a stand-in of ours that
// records them and whose OpenPrinterW succeeds: under Wine our winspool.drv
// (run.sh puts it beside the program and selects it with WINEDLLOVERRIDES),
// natively the platform stand-in. A table of production scenarios
// (production_scenarios.h) runs through the module's whole document path;
// their spooler call records, frame records and status documents go to
// --out as well.
//
//   spooler_check --module PATH --out DIR [--label NAME]   the whole check
//   spooler_check --module PATH --exit-in-document         the process ends with a document started
//   spooler_check --reader-depth N                         depth probe (see reader_probe.h)
#include "tests/wine/reader_probe.h"
#include "tests/wine/spooler_session.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace kestrova::wine_check;

int usage() {
    std::fprintf(stderr,
                 "usage: spooler_check --module PATH --out DIR [--label NAME]\n"
                 "       spooler_check --module PATH --exit-in-document\n"
                 "       spooler_check --reader-depth LEVELS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath;
    std::string outDir;
    std::string label = "spooler_check";
    long readerDepth = -1;
    bool exitInDocument = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--module" && hasValue) {
            modulePath = argv[++i];
        } else if (arg == "--out" && hasValue) {
            outDir = argv[++i];
        } else if (arg == "--label" && hasValue) {
            label = argv[++i];
        } else if (arg == "--exit-in-document") {
            exitInDocument = true;
        } else if (arg == "--reader-depth" && hasValue) {
            readerDepth = std::strtol(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (readerDepth >= 0) return probeReaderDepth(static_cast<std::size_t>(readerDepth));
    if (exitInDocument && !modulePath.empty()) return runExitInDocument(modulePath);
    if (modulePath.empty() || outDir.empty()) return usage();

    Checks checks(label);
    runSpoolerCheck(modulePath, outDir, checks);
    checks.summary();
    return checks.failed() == 0 ? 0 : 1;
}
