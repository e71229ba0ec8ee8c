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
#include "tool/pe_image.h"
#include "tool/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <optional>
#include <vector>

namespace kestrova::tool {

namespace {

const wchar_t* const kMonitorName = L"KestrovaLM";
const wchar_t* const kDllName = L"KestrovaLM.dll";
const char* const kEntryName = "InitializePrintMonitor2";
// Under the monitor's own key, so that it goes with the monitor: per driver
// (value name), the language monitor it had before install (empty: none).
const wchar_t* const kPreviousMonitorsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KestrovaLM\\Previous Language Monitors";
// A DLL larger than this is not ours; nothing bigger is read whole.
constexpr DWORD kLargestDll = 64u << 20;

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

bool elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

// The file's bytes, or nullopt with the error left for GetLastError.
std::optional<std::vector<std::uint8_t>> readDllFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    std::vector<std::uint8_t> bytes;
    BOOL ok = GetFileSizeEx(file, &size);
    if (ok) {
        bytes.resize(static_cast<std::size_t>(std::min<LONGLONG>(size.QuadPart, kLargestDll)));
        DWORD read = 0;
        ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        bytes.resize(read);
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        SetLastError(error);
        return std::nullopt;
    }
    return bytes;
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

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The language monitor a driver had before install; nullopt: none recorded.
std::optional<std::wstring> recordedMonitor(const std::wstring& driver) {
    wchar_t value[512] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kPreviousMonitorsKey, driver.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(value);
}

LSTATUS recordMonitor(const std::wstring& driver, const std::wstring& monitor) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPreviousMonitorsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                     &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, driver.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(monitor.c_str()),
                            static_cast<DWORD>((monitor.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

void forgetMonitor(const std::wstring& driver) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPreviousMonitorsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, driver.c_str());
    RegCloseKey(key);
}

// Before the monitor is unregistered: nothing of ours stays under its key.
void forgetEveryMonitor() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPreviousMonitorsKey); }

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
        // A DLL named is checked before the spooler's state: a bad --dll is
        // refused even where the monitor is installed and only a driver is
        // to be added. The one beside kestrova.exe is needed only to install.
        const std::wstring source = request.dll.empty() ? programDirectory() + kDllName : wideText(request.dll);
        if (!request.dll.empty()) {
            if (const auto refused = checkDll(source)) return *refused;
        }
        if (const auto refused = listMonitors()) return *refused;
        std::optional<DRIVER_INFO_3W> driver;
        if (!request.driver.empty()) {
            if (const auto refused = findDriver(request.driver, driver)) return *refused;
        }
        if (registered_) {
            if (driver && !sameName(driver->pMonitorName, kMonitorName)) {
                console_.line("the monitor KestrovaLM is installed already (" + registeredAs_ +
                              "): adding the driver only" +
                              (request.dll.empty() ? std::string()
                                                   : "; " + utf8(source) +
                                                         " is not copied, the installed DLL stays (to install "
                                                         "another: kestrova uninstall, restart the spooler, "
                                                         "kestrova install)"));
                if (!useMonitorFor(*driver)) return exit_code::Failed;
                console_.line("done; restart the spooler (net stop spooler, net start spooler) for the driver's "
                              "printers to use it");
                return exit_code::Success;
            }
            console_.error("the monitor KestrovaLM is installed already (" + registeredAs_ + ")" +
                           (driver ? " and driver " + quoted(driver->pName) + " uses it" : std::string()) +
                           ". To install another DLL: kestrova uninstall, restart the spooler, kestrova install");
            return exit_code::AlreadyInstalled;
        }
        if (request.dll.empty()) {
            if (const auto refused = checkDll(source)) return *refused;
        }

        // Every check has passed: from here on each step is undone if a later one fails.
        const std::wstring target = systemDllPath();
        const bool copy = !sameName(source.c_str(), target.c_str());
        if (copy) {
            if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
                const DWORD error = GetLastError();
                const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE;
                console_.error("copying " + utf8(source) + " to " + utf8(target) + " failed: " + systemError(error) +
                               (held ? ": the spooler still holds the KestrovaLM.dll installed before; restart the "
                                       "spooler (net stop spooler, net start spooler) and install again"
                                     : ""));
                return held ? exit_code::InUse : exit_code::Failed;
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

        if (driver && !useMonitorFor(*driver)) {
            forgetEveryMonitor();
            if (DeleteMonitorW(nullptr, const_cast<LPWSTR>(platform_.environment), const_cast<LPWSTR>(kMonitorName))) {
                console_.line("undone: unregistered the monitor KestrovaLM");
            }
            if (copy) removeCopy(target);
            return exit_code::Failed;
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
                if (!giveBackMonitor(*driver)) return exit_code::Failed;
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
                           ": kestrova uninstall --driver NAME for each; the monitor stays registered" +
                           (changed ? std::string(" (the driver named has been changed all the same, as reported "
                                                  "above)")
                                    : std::string()));
            return exit_code::InUse;
        }

        if (registered_) {
            forgetEveryMonitor();
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
            } else if (const DWORD held = GetLastError(); !setAsideHeldDll(target, held)) {
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

    // The DLL the spooler will load: a PE DLL of its processor that exports
    // the monitor's entry. Read before anything is copied.
    std::optional<int> checkDll(const std::wstring& path) {
        if (isFolder(path)) {
            console_.error(utf8(path) + " is a folder, not a DLL: give KestrovaLM.dll with --dll PATH");
            return exit_code::DllMissing;
        }
        const auto bytes = readDllFile(path);
        if (!bytes) {
            console_.error(utf8(path) + " cannot be read (" + systemError(GetLastError()) +
                           "): give KestrovaLM.dll with --dll PATH");
            return exit_code::DllMissing;
        }
        const PeImage image = readPeImage(*bytes);
        if (!image.valid) {
            console_.error(utf8(path) + " is not a Windows DLL (" + image.problem + ")");
            return exit_code::DllMissing;
        }
        if (image.machine != platform_.machine) {
            console_.error(utf8(path) + " is built for " + peMachineName(image.machine) + " but the spooler is " +
                           platform_.name + ": install the " + platform_.name + " KestrovaLM.dll");
            return exit_code::WrongBitness;
        }
        if (!image.dll) {
            console_.error(utf8(path) + " is a program, not a DLL: give KestrovaLM.dll with --dll PATH");
            return exit_code::DllMissing;
        }
        if (std::find(image.exports.begin(), image.exports.end(), kEntryName) == image.exports.end()) {
            console_.error(utf8(path) + " does not export " + kEntryName +
                           ": it is no print monitor; give KestrovaLM.dll with --dll PATH");
            return exit_code::DllMissing;
        }
        console_.line("DLL: " + utf8(path) + " (" + platform_.name + ", exports " + kEntryName + ")");
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
        std::string known;
        for (const DRIVER_INFO_3W& driver : *drivers) {
            if (sameName(driver.pName, wanted.c_str())) {
                found = driver;
                return std::nullopt;
            }
            known += (known.empty() ? "" : ", ") + quoted(driver.pName);
        }
        console_.error("no printer driver \"" + name + "\" for " + quoted(platform_.environment) + "; " +
                       (known.empty() ? std::string("this spooler has no printer driver for it")
                                      : "the drivers there are: " + known) +
                       " (a printer's Properties, Advanced, name its driver)");
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

    // Makes KestrovaLM the driver's language monitor, remembering the one
    // it had for uninstall.
    bool useMonitorFor(const DRIVER_INFO_3W& driver) {
        const std::wstring previous = driver.pMonitorName != nullptr ? driver.pMonitorName : L"";
        if (const LSTATUS status = recordMonitor(driver.pName, previous); status != ERROR_SUCCESS) {
            console_.error("recording driver " + quoted(driver.pName) + "'s language monitor failed: " +
                           systemError(static_cast<DWORD>(status)));
            return false;
        }
        if (!setDriverMonitor(driver, kMonitorName)) {
            forgetMonitor(driver.pName);
            return false;
        }
        console_.line("driver " + quoted(driver.pName) + ": language monitor KestrovaLM (was " +
                      (previous.empty() ? std::string("none") : quoted(previous)) + "; uninstall --driver puts it back)");
        return true;
    }

    // The driver gets back the language monitor install recorded for it.
    bool giveBackMonitor(const DRIVER_INFO_3W& driver) {
        const std::wstring previous = recordedMonitor(driver.pName).value_or(L"");
        if (!setDriverMonitor(driver, previous.empty() ? nullptr : previous.c_str())) {
            if (previous.empty()) return false;
            console_.line("putting back " + quoted(previous) + " failed; the driver gets no language monitor instead");
            if (!setDriverMonitor(driver, nullptr)) return false;
        } else if (!previous.empty()) {
            console_.line("driver " + quoted(driver.pName) + ": language monitor " + quoted(previous) +
                          " again (was KestrovaLM)");
            forgetMonitor(driver.pName);
            return true;
        }
        console_.line("driver " + quoted(driver.pName) + ": no language monitor any more (was KestrovaLM)");
        forgetMonitor(driver.pName);
        return true;
    }

    // A DLL the spooler still holds cannot be deleted. Renamed first, it is
    // deleted at the next restart of Windows under its new name, so that a
    // KestrovaLM.dll installed meanwhile is not deleted with it.
    bool setAsideHeldDll(const std::wstring& target, DWORD held) {
        const std::wstring aside = target + L".removed-" + std::to_wstring(GetTickCount64());
        if (!MoveFileExW(target.c_str(), aside.c_str(), 0)) {
            console_.error("deleting " + utf8(target) + " failed: " + systemError(held) + "; renaming it failed: " +
                           systemError(GetLastError()));
            return false;
        }
        if (!MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            console_.line(utf8(target) + " is still loaded (" + systemError(held) + "): renamed to " + utf8(aside) +
                          "; marking it for deletion failed (" + systemError(GetLastError()) +
                          "): delete it after the next restart");
            return true;
        }
        console_.line(utf8(target) + " is still loaded (" + systemError(held) + "): renamed to " + utf8(aside) +
                      ", which Windows deletes at the next restart");
        return true;
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
