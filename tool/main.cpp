// The kestrova tool's entry: every C++ exception ends here as a message.
#include "tool/exit_codes.h"
#include "tool/host_console.h"
#include "tool/tool_commands.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    try {
        std::ios::sync_with_stdio(true);
        const std::vector<std::string> words(argv + 1, argv + argc);
        return kestrova::tool::runTool(words, {std::cout, std::cerr, kestrova::tool::host::stdoutIsTerminal()});
    } catch (const std::exception& e) {
        std::cerr << "kestrova: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "kestrova: unexpected failure\n";
    }
    return kestrova::tool::exit_code::Failed;
}
