#include "tool/module_loader.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace kestrova::tool {

namespace {

#ifdef _WIN32
constexpr const char* kModuleName = "KestrovaLM.dll";
constexpr char kSeparator = '\\';

std::string executablePath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}
#else
constexpr const char* kModuleName = "libKestrovaLM.so";
constexpr char kSeparator = '/';

std::string executablePath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    return n > 0 && static_cast<std::size_t>(n) < sizeof path ? std::string(path, static_cast<std::size_t>(n))
                                                               : std::string();
}
#endif

// The installed module: the system directory's copy on Windows, the
// loader's search path elsewhere.
std::string installedModulePath() {
#ifdef _WIN32
    char directory[MAX_PATH];
    const UINT n = GetSystemDirectoryA(directory, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(directory, n) + kSeparator + kModuleName : kModuleName;
#else
    return kModuleName;
#endif
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

LoadedModule::~LoadedModule() { unload(); }

bool LoadedModule::load(const std::string& path) {
    unload();
    path_ = path;
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    handle_ = module;
    entry_ = reinterpret_cast<InitializePrintMonitor2Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor2")));
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : "cannot load " + path;
        return false;
    }
    entry_ = reinterpret_cast<InitializePrintMonitor2Fn>(dlsym(handle_, "InitializePrintMonitor2"));
#endif
    if (entry_ == nullptr) {
        error_ = path + " has no export InitializePrintMonitor2";
        unload();
        return false;
    }
    return true;
}

bool LoadedModule::runOnVirtualClock(std::string& why) {
    if (handle_ == nullptr) {
        why = "no module loaded";
        return false;
    }
    return clockImports_.redirect(handle_, why);
}

void LoadedModule::unload() {
    clockImports_.restore();
    if (handle_ != nullptr) {
#ifdef _WIN32
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    handle_ = nullptr;
    entry_ = nullptr;
}

std::vector<std::string> moduleCandidates() {
    std::vector<std::string> out;
    const std::string folder = folderOf(executablePath());
    if (!folder.empty()) out.push_back(folder + kSeparator + kModuleName);
    out.push_back(installedModulePath());
    return out;
}

bool loadModule(LoadedModule& module, const std::string& path, std::string& error) {
    if (!path.empty()) {
        // Named, never searched for: a relative name is the file under the
        // current directory, not one the loader finds elsewhere.
        std::error_code failure;
        const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
        if (module.load(failure ? path : absolute.string())) return true;
        error = module.error();
        return false;
    }
    std::string reasons;
    for (const std::string& candidate : moduleCandidates()) {
        if (module.load(candidate)) return true;
        reasons += "\n  " + module.error();
    }
    error = std::string("cannot load the monitor module ") + kModuleName + " (give it with --module PATH); tried:" +
            reasons;
    return false;
}

}  // namespace kestrova::tool
