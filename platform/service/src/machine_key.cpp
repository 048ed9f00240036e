#include "platform/service.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace platform::service {

namespace {

constexpr std::string_view kMachineHive = "HKLM";

// Splits "\A\B" into its key names; empty names (a leading or doubled backslash) are
// skipped, as the registry does. False for names a folder cannot stand for.
bool SplitKeyPath(std::string_view keyPath, std::vector<std::string>& names) {
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        std::size_t end = keyPath.find('\\', start);
        if (end == std::string_view::npos) end = keyPath.size();
        std::string_view name = keyPath.substr(start, end - start);
        if (name == "." || name == ".." || name.find('/') != std::string_view::npos ||
            name.find('\0') != std::string_view::npos)
            return false;
        if (!name.empty()) names.emplace_back(name);
        start = end + 1;
    }
    return true;
}

// The folder of key `name` inside `parent`: an existing one whose name matches without
// regard to case, else `parent/name`.
fs::path ChildKey(const fs::path& parent, const std::string& name) {
    std::error_code ec;
    if (fs::is_directory(parent / name, ec)) return parent / name;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        if (platform::text::EqualsNoCase(it->path().filename().string(), name) &&
            it->is_directory(ec))
            return it->path();
    }
    return parent / name;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

}  // namespace

std::vector<fs::path> DefaultRegistryRoots() {
    if (const char* root = std::getenv(std::string(kRegistryRootVariable).c_str()); root && *root)
        return {fs::path(root)};
    std::vector<fs::path> roots{"/var/lib/tomevale/registry"};
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        roots.push_back(fs::path(config) / "tomevale" / "registry");
    else if (std::string home = HomeFolder(); !home.empty())
        roots.push_back(fs::path(home) / ".config" / "tomevale" / "registry");
    return roots;
}

bool OpenMachineKey(std::string_view keyPath) {
    for (const fs::path& root : DefaultRegistryRoots())
        if (OpenMachineKey(keyPath, root)) return true;
    return false;
}

bool OpenMachineKey(std::string_view keyPath, const fs::path& registryRoot) {
    std::vector<std::string> names;
    if (registryRoot.empty() || !SplitKeyPath(keyPath, names)) return false;
    std::error_code ec;
    fs::path key = registryRoot / kMachineHive;
    fs::create_directories(key, ec);
    if (!fs::is_directory(key, ec)) return false;
    for (const std::string& name : names) {
        key = ChildKey(key, name);
        fs::create_directory(key, ec);
        if (!fs::is_directory(key, ec)) return false;
    }
    return true;
}

}  // namespace platform::service
