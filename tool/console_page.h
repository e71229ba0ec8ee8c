// The console's web page and its script, served by the tool itself: nothing
// is fetched from elsewhere.
#pragma once

#include <string>

namespace kestrova::tool {

// The page, carrying `token` for the script's requests.
std::string consolePage(const std::string& token);
std::string consoleScript();

}  // namespace kestrova::tool
