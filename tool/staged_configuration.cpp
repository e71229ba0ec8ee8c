#include "tool/staged_configuration.h"

#include "production/configuration.h"

#include <fstream>
#include <random>
#include <system_error>

namespace kestrova::tool {

namespace fs = std::filesystem;

void StagedConfiguration::unstage() {
    if (folder_.empty()) return;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(folder_, ignored);
    folder_.clear();
}

bool StagedConfiguration::stage(const std::string& contents, std::string& error) {
    std::error_code failure;
    const fs::path previous = fs::current_path(failure);
    if (failure) {
        error = "cannot read the current directory: " + failure.message();
        return false;
    }
    const fs::path base = fs::temp_directory_path(failure);
    if (failure) {
        error = "no temporary directory: " + failure.message();
        return false;
    }
    std::random_device random;
    fs::path folder;
    for (int attempt = 0; attempt < 16; ++attempt) {
        folder = base / ("kestrova-" + std::to_string(random()));
        if (fs::create_directory(folder, failure)) break;
        folder.clear();
    }
    if (folder.empty()) {
        error = "cannot create a scratch directory under " + base.string();
        return false;
    }
    const fs::path file = folder / fs::path(kConfigurationPath);
    fs::create_directories(file.parent_path(), failure);
    std::ofstream out(file, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (failure || !out) {
        error = "cannot write " + file.string();
        fs::remove_all(folder, failure);
        return false;
    }
    fs::current_path(folder, failure);
    if (failure) {
        error = "cannot enter " + folder.string() + ": " + failure.message();
        fs::remove_all(folder, failure);
        return false;
    }
    previous_ = previous;
    folder_ = folder;
    return true;
}

}  // namespace kestrova::tool
