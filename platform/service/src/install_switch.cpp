#include "platform/service.h"

#include "platform/text.h"

namespace platform::service {

namespace {

bool IsSwitch(std::string_view arg, std::string_view word) {
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/' && arg[0] != '\\')) return false;
    return platform::text::EqualsNoCase(arg.substr(1), word);
}

template <typename Args>
InstallSwitch Find(const Args& args) {
    for (std::string_view arg : args)
        if (IsSwitch(arg, "INSTALL")) return InstallSwitch::Install;
    for (std::string_view arg : args)
        if (IsSwitch(arg, "UNINSTALL")) return InstallSwitch::Uninstall;
    return InstallSwitch::None;
}

}  // namespace

InstallSwitch FindInstallSwitch(const std::vector<std::string>& args) { return Find(args); }

InstallSwitch FindInstallSwitch(int argc, const char* const* argv) {
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);
    return Find(args);
}

bool IsInstallSwitch(int argc, const char* const* argv) {
    return FindInstallSwitch(argc, argv) != InstallSwitch::None;
}

}  // namespace platform::service
