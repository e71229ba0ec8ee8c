// Plays the spooler for the built module on a real Windows runtime (Wine):
// loads KestrovaLM.dll, takes its function table, prints sample jobs through
// it to the machine simulator behind our software port monitor, and sends
// control requests. The same program built natively runs the same steps
// against the Linux module, so that the two builds can be compared byte for
// byte (the status documents go to --out).
//
// Under Wine no printer exists: OpenPrinterW fails, so StartDocPort reports
// failure, the port monitor's StartDocPort is never called for the jobs, and
// at the end of production SetJobW and ClosePrinter get a printer handle
// that was never opened and fail, which the module ignores: the spooler
// calls run on their failure paths. The production path itself still runs in
// full: every card goes to the machine. The native build makes its stand-in
// spooler calls fail the same way.
//
//   spooler_check --module PATH --out DIR [--label NAME]   the whole check
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
                 "       spooler_check --reader-depth LEVELS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath;
    std::string outDir;
    std::string label = "spooler_check";
    long readerDepth = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--module" && hasValue) {
            modulePath = argv[++i];
        } else if (arg == "--out" && hasValue) {
            outDir = argv[++i];
        } else if (arg == "--label" && hasValue) {
            label = argv[++i];
        } else if (arg == "--reader-depth" && hasValue) {
            readerDepth = std::strtol(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (readerDepth >= 0) return probeReaderDepth(static_cast<std::size_t>(readerDepth));
    if (modulePath.empty() || outDir.empty()) return usage();

    Checks checks(label);
    runSpoolerCheck(modulePath, outDir, checks);
    checks.summary();
    return checks.failed() == 0 ? 0 : 1;
}
