// Start-up facilities of a service program: the single-instance lock, the command-line
// install switches, the service manager's start account (systemd units) and the machine
// settings key.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::service {

// ---- Single-instance guard ----------------------------------------------------------

// An exclusive lock named `name` for the current user, held by this process until the
// object is destroyed or the process ends. The lock is an flock() on a file, so the
// kernel frees it whenever the process ends, a crash or SIGKILL included; a stale lock
// file never blocks the next start. The descriptor is close-on-exec: programs started
// from this one do not inherit the lock.
class InstanceGuard {
public:
    enum class Status {
        Acquired,     // this object holds the lock
        AlreadyHeld,  // another holder (another process, or another guard) has it
        Failed,       // the lock file could not be opened; see error()
    };

    // Lock file "<name>.<uid>.lock" in DefaultLockDirectory().
    static InstanceGuard Acquire(std::string_view name);
    // Lock file "<name>.<uid>.lock" in `lockDirectory`. Characters of `name` that are
    // not letters, digits, '-', '_' or '.' become '_'.
    static InstanceGuard Acquire(std::string_view name, const std::filesystem::path& lockDirectory);

    // $XDG_RUNTIME_DIR when it names a folder, else the system's temporary folder.
    static std::filesystem::path DefaultLockDirectory();

    InstanceGuard(InstanceGuard&& other) noexcept;
    InstanceGuard& operator=(InstanceGuard&& other) noexcept;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;
    ~InstanceGuard();  // frees the lock when it is held

    Status status() const { return status_; }
    bool acquired() const { return status_ == Status::Acquired; }
    const std::filesystem::path& lockFile() const { return lockFile_; }
    const std::string& error() const { return error_; }  // empty unless Failed

private:
    InstanceGuard() = default;
    int fd_ = -1;
    Status status_ = Status::Failed;
    std::filesystem::path lockFile_;
    std::string error_;
};

// ---- Command-line switches ----------------------------------------------------------

enum class InstallSwitch { None, Install, Uninstall };

// An argument is a switch when its first character is '-', '/' or '\' and the rest equals
// "INSTALL" or "UNINSTALL" without regard to case. Every argument is searched for
// "INSTALL" first, then for "UNINSTALL".
// `args` are the arguments after the program name.
InstallSwitch FindInstallSwitch(const std::vector<std::string>& args);
// argv[0] is the program name and is not searched.
InstallSwitch FindInstallSwitch(int argc, const char* const* argv);
bool IsInstallSwitch(int argc, const char* const* argv);

// ---- Service manager ----------------------------------------------------------------

inline constexpr std::string_view kServiceName = "TomevaleServer";

// "NAME.service" for a bare name; a name that already ends in ".service" is kept.
std::string UnitNameFor(std::string_view serviceName);

// The unit search path, highest priority first: /etc/systemd/system, /run/systemd/system,
// /usr/local/lib/systemd/system, /usr/lib/systemd/system, /lib/systemd/system; or, as
// systemd takes it, the folders of SYSTEMD_UNIT_PATH (separated by ':'; a final ':'
// appends the standard ones).
std::vector<std::filesystem::path> DefaultUnitDirectories();

// The account the unit's service runs as, read from the unit files as systemd would load
// them: the unit file from the first directory that has it, then the drop-ins
// NAME.d/*.conf of all directories (a file name in a higher directory hides the same
// name below), applied in file-name order; the last User= of section [Service] wins.
// Without a User= (or with an empty one) the account is "root"; "LocalSystem" in any case
// also becomes "root", and a number that is a known user id becomes that user's name.
// Nothing when no directory has the unit or the unit is masked (a link to /dev/null).
std::optional<std::string> ServiceStartAccount(
    std::string_view unitName, const std::vector<std::filesystem::path>& unitDirectories);

// The name of the effective user (getpwuid(geteuid())), or the user id as a number when
// the user database has no entry for it.
std::string CurrentUserName();

// True when the unit of `serviceName` exists and its start account equals the current
// user's name without regard to case. An account with a domain prefix ("DOMAIN\root")
// never matches.
bool IsRunningAsService(std::string_view serviceName = kServiceName);
bool IsRunningAsService(std::string_view serviceName,
                        const std::vector<std::filesystem::path>& unitDirectories);

// ---- Machine settings key -----------------------------------------------------------

inline constexpr std::string_view kRegistryRootVariable = "TOMEVALE_REGISTRY_ROOT";

// Roots of the stand-in registry, tried in order: $TOMEVALE_REGISTRY_ROOT alone when it is
// set; otherwise /var/lib/tomevale/registry, then $XDG_CONFIG_HOME/tomevale/registry (or
// ~/.config/tomevale/registry).
std::vector<std::filesystem::path> DefaultRegistryRoots();

// Opens the key `keyPath` ("\SOFTWARE\Maker\Product") under HKEY_LOCAL_MACHINE, creating
// it when it is missing: a folder ROOT/HKLM/SOFTWARE/Maker/Product. Key names compare
// without regard to case, as in the registry, so an existing folder of another case is
// reused; an empty path opens the hive itself. False when a key name is "." or ".." or
// holds a '/', or when no root can hold the key.
bool OpenMachineKey(std::string_view keyPath);
bool OpenMachineKey(std::string_view keyPath, const std::filesystem::path& registryRoot);

}  // namespace platform::service
