// Puts a configuration file where the module looks for it: at its fixed
// relative path under a scratch folder that becomes the current directory
// for as long as this object lives.
#pragma once

#include <filesystem>
#include <string>

namespace kestrova::tool {

class StagedConfiguration {
public:
    StagedConfiguration() = default;
    ~StagedConfiguration() { unstage(); }
    StagedConfiguration(const StagedConfiguration&) = delete;
    StagedConfiguration& operator=(const StagedConfiguration&) = delete;

    // False with the reason; nothing is changed then.
    bool stage(const std::string& contents, std::string& error);
    // Back to the previous current directory, the scratch folder removed;
    // the module reads the file only at document start.
    void unstage();
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

}  // namespace kestrova::tool
