#include "tool/spooler_install.h"

#include "tool/exit_codes.h"

#ifndef _WIN32

namespace kestrova::tool {

bool spoolerInstallAvailable() { return false; }
int installMonitor(const InstallRequest&, Console&) { return exit_code::WindowsOnly; }
int uninstallMonitor(const InstallRequest&, Console&) { return exit_code::WindowsOnly; }

}  // namespace kestrova::tool

#else

#include "platform/windows_types.h"
#include "tool/text_encoding.h"

#include <cwctype>
#include <optional>
#include <vector>

namespace kestrova::tool {

namespace {

const wchar_t* const kMonitorName = L"KestrovaLM";
const wchar_t* const kDllName = L"KestrovaLM.dll";

std::string utf8(const std::wstring& text) { return utf8FromUtf16(WideString(text.begin(), text.end())); }
std::wstring wideText(const std::string& text) {
    const WideString wide = utf16FromUtf8(text);
    return std::wstring(wide.begin(), wide.end());
}
std::string quoted(const std::wstring& text) { return "\"" + utf8(text) + "\""; }

bool sameName(const wchar_t* a, const wchar_t* b) {
    return a != nullptr && b != nullptr && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// "error 5: Access is denied."
std::string systemError(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = length != 0 && text != nullptr ? std::wstring(text, length) : L"";
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && std::iswspace(message.back())) message.pop_back();
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + utf8(message));
}

struct Platform {
    const char* name = nullptr;         // "x64", "x86"; null: no DLL of ours for this processor
    int bits = 0;
    const wchar_t* environment = nullptr;  // the spooler's environment
    WORD machine = 0;                    // what the DLL's header must say
};

Platform spoolerPlatform() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: return {"x64", 64, L"Windows x64", IMAGE_FILE_MACHINE_AMD64};
        case PROCESSOR_ARCHITECTURE_INTEL: return {"x86", 32, L"Windows NT x86", IMAGE_FILE_MACHINE_I386};
        default: return {};
    }
}

const char* machineName(WORD machine) {
    switch (machine) {
        case IMAGE_FILE_MACHINE_AMD64: return "x64";
        case IMAGE_FILE_MACHINE_I386: return "x86";
        case IMAGE_FILE_MACHINE_ARM64: return "ARM64";
        default: return "an unknown processor";
    }
}

bool elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

// The machine field of a PE file's header; nullopt if the file cannot be
// read, 0 if it is no PE file.
std::optional<WORD> imageMachine(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<unsigned char> head(4096);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    if (read < 0x40 || head[0] != 'M' || head[1] != 'Z') return WORD{0};
    const DWORD at = head[0x3C] | (head[0x3D] << 8) | (head[0x3E] << 16) | (DWORD(head[0x3F]) << 24);
    if (at > read - 6 || head[at] != 'P' || head[at + 1] != 'E' || head[at + 2] != 0 || head[at + 3] != 0) {
        return WORD{0};
    }
    return static_cast<WORD>(head[at + 4] | (head[at + 5] << 8));
}

std::wstring programDirectory() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            std::wstring text(path.data(), length);
            return text.substr(0, text.find_last_of(L"\\/") + 1);
        }
        path.resize(path.size() * 2);
    }
}

std::wstring systemDllPath() {
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, length) + L"\\" + kDllName;
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// EnumMonitorsW or EnumPrinterDriversW into one buffer: the entries, or
// nullopt with the error.
template <typename Info, typename Enumerate>
std::optional<std::vector<Info>> enumerate(std::vector<BYTE>& buffer, DWORD& error, Enumerate call) {
    DWORD needed = 0;
    DWORD count = 0;
    buffer.assign(4096, 0);
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (call(buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count)) {
            const auto* first = reinterpret_cast<const Info*>(buffer.data());
            return std::vector<Info>(first, first + count);
        }
        error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        buffer.assign(needed + 1024, 0);
    }
    return std::nullopt;
}

class Installer {
public:
    explicit Installer(Console& console) : console_(console), platform_(spoolerPlatform()) {}

    int install(const InstallRequest& request) {
        if (const auto refused = checkSetting()) return *refused;
        const std::wstring source = request.dll.empty() ? programDirectory() + kDllName : wideText(request.dll);
        if (const auto refused = checkDll(source)) return *refused;
        if (const auto refused = listMonitors()) return *refused;
        if (registered_) {
            console_.error("the monitor KestrovaLM is installed already (" + registeredAs_ +
                           "): kestrova uninstall first, or restart the spooler to load a new DLL");
            return exit_code::AlreadyInstalled;
        }
        std::optional<DRIVER_INFO_3W> driver;
        if (!request.driver.empty()) {
            if (const auto refused = findDriver(request.driver, driver)) return *refused;
        }

        // Every check has passed: from here on each step is undone if a later one fails.
        const std::wstring target = systemDllPath();
        const bool copy = !sameName(source.c_str(), target.c_str());
        if (copy) {
            if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
                const DWORD error = GetLastError();
                console_.error("copying " + utf8(source) + " to " + utf8(target) + " failed: " + systemError(error));
                return error == ERROR_SHARING_VIOLATION ? exit_code::InUse : exit_code::Failed;
            }
            console_.line("copied " + utf8(source) + " to " + utf8(target));
        }

        MONITOR_INFO_2W info{const_cast<LPWSTR>(kMonitorName), const_cast<LPWSTR>(platform_.environment),
                             const_cast<LPWSTR>(kDllName)};
        if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
            const DWORD error = GetLastError();
            console_.error("AddMonitorW (KestrovaLM, " + quoted(platform_.environment) + ", KestrovaLM.dll) failed: " +
                           systemError(error));
            if (copy) removeCopy(target);
            if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) return exit_code::AlreadyInstalled;
            return error == ERROR_ACCESS_DENIED ? exit_code::NotElevated : exit_code::Failed;
        }
        console_.line("registered the monitor KestrovaLM: AddMonitorW(MONITOR_INFO_2 KestrovaLM, " +
                      quoted(platform_.environment) + ", KestrovaLM.dll)");
        if (listMonitors() == std::nullopt && registered_) {
            console_.line("the spooler lists it: " + registeredAs_);
        } else {
            console_.line("the spooler does not list it (EnumMonitorsW); it may need a restart");
        }

        if (driver) {
            const std::wstring previous = driver->pMonitorName != nullptr ? driver->pMonitorName : L"";
            if (!setDriverMonitor(*driver, kMonitorName)) {
                if (DeleteMonitorW(nullptr, const_cast<LPWSTR>(platform_.environment),
                                   const_cast<LPWSTR>(kMonitorName))) {
                    console_.line("undone: unregistered the monitor KestrovaLM");
                }
                if (copy) removeCopy(target);
                return exit_code::Failed;
            }
            console_.line("driver " + quoted(driver->pName) + ": language monitor KestrovaLM (was " +
                          (previous.empty() ? std::string("none") : quoted(previous)) + ")");
        }
        console_.line("installed; restart the spooler (net stop spooler, net start spooler) to load it");
        return exit_code::Success;
    }

    int uninstall(const InstallRequest& request) {
        if (const auto refused = checkSetting()) return *refused;
        if (const auto refused = listMonitors()) return *refused;
        bool changed = false;

        if (!request.driver.empty()) {
            std::optional<DRIVER_INFO_3W> driver;
            if (const auto refused = findDriver(request.driver, driver)) return *refused;
            if (sameName(driver->pMonitorName, kMonitorName)) {
                if (!setDriverMonitor(*driver, nullptr)) return exit_code::Failed;
                console_.line("driver " + quoted(driver->pName) + ": no language monitor any more (was KestrovaLM)");
                changed = true;
            } else {
                console_.line("driver " + quoted(driver->pName) + " does not use KestrovaLM: left as it is");
            }
        }

        std::vector<BYTE> buffer;
        DWORD error = 0;
        const auto drivers = enumerate<DRIVER_INFO_3W>(buffer, error, [&](LPBYTE out, DWORD size, DWORD* needed,
                                                                          DWORD* count) {
            return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(platform_.environment), 3, out, size, needed,
                                       count);
        });
        if (!drivers) {
            console_.error("EnumPrinterDriversW failed: " + systemError(error));
            return exit_code::Failed;
        }
        std::string users;
        for (const DRIVER_INFO_3W& driver : *drivers) {
            if (sameName(driver.pMonitorName, kMonitorName)) users += (users.empty() ? "" : ", ") + quoted(driver.pName);
        }
        if (!users.empty()) {
            console_.error("KestrovaLM is still the language monitor of " + users +
                           ": kestrova uninstall --driver NAME for each");
            return exit_code::InUse;
        }

        if (registered_) {
            if (!DeleteMonitorW(nullptr, const_cast<LPWSTR>(platform_.environment), const_cast<LPWSTR>(kMonitorName))) {
                error = GetLastError();
                console_.error("DeleteMonitorW(KestrovaLM) failed: " + systemError(error));
                if (error == ERROR_PRINT_MONITOR_IN_USE || error == ERROR_BUSY) return exit_code::InUse;
                return error == ERROR_ACCESS_DENIED ? exit_code::NotElevated : exit_code::Failed;
            }
            console_.line("unregistered the monitor KestrovaLM: DeleteMonitorW(" + quoted(platform_.environment) +
                          ", KestrovaLM)");
            changed = true;
        }

        const std::wstring target = systemDllPath();
        if (fileExists(target)) {
            if (DeleteFileW(target.c_str())) {
                console_.line("deleted " + utf8(target));
            } else if (const DWORD held = GetLastError();
                       MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                console_.line(utf8(target) + " is still loaded (" + systemError(held) +
                              "): Windows deletes it at the next restart");
            } else {
                console_.error("deleting " + utf8(target) + " failed: " + systemError(GetLastError()));
                return exit_code::InUse;
            }
            changed = true;
        }
        console_.line(changed ? "uninstalled" : "KestrovaLM is not installed: nothing to remove");
        return exit_code::Success;
    }

private:
    // The processor, this program's bitness and the elevation.
    std::optional<int> checkSetting() {
        if (platform_.name == nullptr) {
            console_.error("this Windows runs on a processor for which there is no KestrovaLM.dll (x86 and x64 only)");
            return exit_code::WrongBitness;
        }
        const int ownBits = static_cast<int>(sizeof(void*) * 8);
        if (ownBits != platform_.bits) {
            console_.error(std::string("this kestrova.exe is ") + (ownBits == 32 ? "x86" : "x64") +
                           " but the spooler of this Windows is " + platform_.name + ": run the " + platform_.name +
                           " kestrova.exe");
            return exit_code::WrongBitness;
        }
        if (!elevated()) {
            console_.error("not elevated: run kestrova from a command prompt opened as administrator");
            return exit_code::NotElevated;
        }
        console_.line(std::string("spooler: ") + platform_.name + ", environment " + quoted(platform_.environment) +
                      "; running elevated");
        return std::nullopt;
    }

    std::optional<int> checkDll(const std::wstring& path) {
        const std::optional<WORD> machine = imageMachine(path);
        if (!machine) {
            console_.error(utf8(path) + " is missing (" + systemError(GetLastError()) +
                           "): give the DLL with --dll PATH");
            return exit_code::DllMissing;
        }
        if (*machine == 0) {
            console_.error(utf8(path) + " is not a Windows DLL");
            return exit_code::DllMissing;
        }
        if (*machine != platform_.machine) {
            console_.error(utf8(path) + " is built for " + machineName(*machine) + " but the spooler is " +
                           platform_.name + ": install the " + platform_.name + " KestrovaLM.dll");
            return exit_code::WrongBitness;
        }
        console_.line("DLL: " + utf8(path) + " (" + platform_.name + ")");
        return std::nullopt;
    }

    // Whether the spooler lists our monitor (registered_, registeredAs_).
    std::optional<int> listMonitors() {
        std::vector<BYTE> buffer;
        DWORD error = 0;
        const auto monitors =
            enumerate<MONITOR_INFO_2W>(buffer, error, [](LPBYTE out, DWORD size, DWORD* needed, DWORD* count) {
                return EnumMonitorsW(nullptr, 2, out, size, needed, count);
            });
        if (!monitors) {
            console_.error("EnumMonitorsW failed: " + systemError(error));
            return exit_code::Failed;
        }
        registered_ = false;
        for (const MONITOR_INFO_2W& monitor : *monitors) {
            if (!sameName(monitor.pName, kMonitorName)) continue;
            registered_ = true;
            registeredAs_ = "KestrovaLM, environment " +
                            (monitor.pEnvironment != nullptr ? quoted(monitor.pEnvironment) : std::string("none")) +
                            ", DLL " + (monitor.pDLLName != nullptr ? quoted(monitor.pDLLName) : std::string("none"));
        }
        return std::nullopt;
    }

    std::optional<int> findDriver(const std::string& name, std::optional<DRIVER_INFO_3W>& found) {
        DWORD error = 0;
        const auto drivers = enumerate<DRIVER_INFO_3W>(driverBuffer_, error, [&](LPBYTE out, DWORD size,
                                                                                DWORD* needed, DWORD* count) {
            return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(platform_.environment), 3, out, size, needed,
                                       count);
        });
        if (!drivers) {
            console_.error("EnumPrinterDriversW failed: " + systemError(error));
            return exit_code::Failed;
        }
        const std::wstring wanted = wideText(name);
        for (const DRIVER_INFO_3W& driver : *drivers) {
            if (sameName(driver.pName, wanted.c_str())) {
                found = driver;
                return std::nullopt;
            }
        }
        console_.error("no printer driver \"" + name + "\" for " + quoted(platform_.environment) +
                       " (the printer's Properties, Advanced, name the driver)");
        return exit_code::DriverUnknown;
    }

    // The driver again with another language monitor (null: none); its
    // files are where the spooler keeps them already.
    bool setDriverMonitor(DRIVER_INFO_3W driver, const wchar_t* monitor) {
        driver.pMonitorName = const_cast<LPWSTR>(monitor);
        if (AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver), APD_COPY_NEW_FILES)) return true;
        console_.error("AddPrinterDriverExW for driver " + quoted(driver.pName) + " failed: " +
                       systemError(GetLastError()));
        return false;
    }

    void removeCopy(const std::wstring& target) {
        if (DeleteFileW(target.c_str())) console_.line("undone: deleted " + utf8(target));
    }

    Console& console_;
    Platform platform_;
    bool registered_ = false;
    std::string registeredAs_;
    std::vector<BYTE> driverBuffer_;  // holds the strings of the driver found
};

}  // namespace

bool spoolerInstallAvailable() { return true; }

int installMonitor(const InstallRequest& request, Console& console) { return Installer(console).install(request); }

int uninstallMonitor(const InstallRequest& request, Console& console) {
    return Installer(console).uninstall(request);
}

}  // namespace kestrova::tool

#endif
