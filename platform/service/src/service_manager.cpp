#include "platform/service.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include <pwd.h>
#include <unistd.h>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace platform::service {

namespace {

constexpr std::string_view kUnitSuffix = ".service";
// The account the service manager itself runs as; a unit without User= runs there.
constexpr std::string_view kSystemAccount = "root";

std::string_view Trim(std::string_view s) {
    constexpr std::string_view space = " \t\r\n";
    std::size_t first = s.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(space) - first + 1);
}

bool UserNameOf(uid_t uid, std::string& name) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? std::size_t(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = found->pw_name;
    return true;
}

// Applies the User= assignments of section [Service] of one unit file, in file order.
// A line ending in a backslash continues on the next; comment lines start with '#' or ';'.
void ReadUserAssignments(const fs::path& file, std::string& user) {
    std::ifstream in(file);
    std::string line, logical;
    std::string section;
    auto apply = [&](std::string_view text) {
        text = Trim(text);
        if (text.empty() || text[0] == '#' || text[0] == ';') return;
        if (text.front() == '[') {
            section = text.back() == ']' ? std::string(text.substr(1, text.size() - 2)) : "";
            return;
        }
        std::size_t eq = text.find('=');
        if (section != "Service" || eq == std::string_view::npos) return;
        if (Trim(text.substr(0, eq)) == "User") user = std::string(Trim(text.substr(eq + 1)));
    };
    while (std::getline(in, line)) {
        std::string_view text = Trim(line);
        if (!logical.empty() && !text.empty() && (text[0] == '#' || text[0] == ';')) continue;
        if (!text.empty() && text.back() == '\\') {
            logical.append(text.substr(0, text.size() - 1)).push_back(' ');
            continue;
        }
        logical.append(text);
        apply(logical);
        logical.clear();
    }
    if (!logical.empty()) apply(logical);
}

bool IsMasked(const fs::path& unitFile) {
    std::error_code ec;
    if (fs::canonical(unitFile, ec) == "/dev/null") return true;
    return fs::is_regular_file(unitFile, ec) && fs::file_size(unitFile, ec) == 0;
}

}  // namespace

std::string UnitNameFor(std::string_view serviceName) {
    std::string unit(serviceName);
    if (!unit.ends_with(kUnitSuffix)) unit += kUnitSuffix;
    return unit;
}

std::vector<fs::path> DefaultUnitDirectories() {
    const std::vector<fs::path> standard{"/etc/systemd/system", "/run/systemd/system",
                                         "/usr/local/lib/systemd/system", "/usr/lib/systemd/system",
                                         "/lib/systemd/system"};
    // As systemd reads it: folders separated by ':', the standard ones after a final ':'.
    const char* path = std::getenv("SYSTEMD_UNIT_PATH");
    if (path == nullptr || *path == '\0') return standard;
    std::vector<fs::path> dirs;
    std::string_view rest(path);
    for (;;) {
        const size_t colon = rest.find(':');
        const std::string_view part = rest.substr(0, colon);
        if (!part.empty()) dirs.emplace_back(part);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    if (std::string_view(path).back() == ':') dirs.insert(dirs.end(), standard.begin(), standard.end());
    return dirs;
}

std::optional<std::string> ServiceStartAccount(std::string_view unitName,
                                               const std::vector<fs::path>& unitDirectories) {
    if (unitName.empty() || unitName.find('/') != std::string_view::npos) return std::nullopt;
    std::error_code ec;

    fs::path unitFile;
    for (const fs::path& dir : unitDirectories) {
        if (fs::exists(dir / unitName, ec)) {
            unitFile = dir / unitName;
            break;
        }
    }
    if (unitFile.empty() || IsMasked(unitFile)) return std::nullopt;

    // Drop-ins: the first directory that has a file name wins it; all apply in name order.
    std::map<std::string, fs::path> dropIns;
    std::string dropInFolder = std::string(unitName) + ".d";
    for (const fs::path& dir : unitDirectories) {
        for (fs::directory_iterator it(dir / dropInFolder, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.ends_with(".conf")) dropIns.try_emplace(name, it->path());
        }
    }

    std::string account;
    ReadUserAssignments(unitFile, account);
    for (const auto& [name, file] : dropIns) ReadUserAssignments(file, account);

    if (account.empty() || platform::text::EqualsNoCase(account, "LocalSystem"))
        return std::string(kSystemAccount);
    // systemd also takes a user id; the comparison is by name.
    bool digits = account.size() <= 10 &&
                  std::all_of(account.begin(), account.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && std::stoull(account) <= 0xFFFFFFFFull) {
        std::string name;
        if (UserNameOf(uid_t(std::stoull(account)), name)) return name;
    }
    return account;
}

std::string CurrentUserName() {
    std::string name;
    if (UserNameOf(::geteuid(), name)) return name;
    return std::to_string(::geteuid());
}

bool IsRunningAsService(std::string_view serviceName) {
    return IsRunningAsService(serviceName, DefaultUnitDirectories());
}

bool IsRunningAsService(std::string_view serviceName, const std::vector<fs::path>& unitDirectories) {
    std::optional<std::string> account = ServiceStartAccount(UnitNameFor(serviceName), unitDirectories);
    return account && platform::text::EqualsNoCase(*account, CurrentUserName());
}

}  // namespace platform::service
