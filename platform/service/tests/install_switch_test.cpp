#include <gtest/gtest.h>

#include "platform/service.h"

using platform::service::FindInstallSwitch;
using platform::service::InstallSwitch;
using platform::service::IsInstallSwitch;

TEST(InstallSwitch, ArgumentTable) {
    struct Case {
        std::vector<std::string> args;
        InstallSwitch expected;
    };
    const Case cases[] = {
        {{"/install"}, InstallSwitch::Install},
        {{"-INSTALL"}, InstallSwitch::Install},
        {{"-UNINSTALL"}, InstallSwitch::Uninstall},
        {{"\\Uninstall"}, InstallSwitch::Uninstall},
        {{"/uNiNsTaLl"}, InstallSwitch::Uninstall},
        {{"+INSTALL"}, InstallSwitch::None},
        {{"INSTALL"}, InstallSwitch::None},
        {{"--install"}, InstallSwitch::None},
        {{"/install "}, InstallSwitch::None},
        {{"/installer"}, InstallSwitch::None},
        {{"/"}, InstallSwitch::None},
        {{""}, InstallSwitch::None},
        {{}, InstallSwitch::None},
        {{"other", "/Install"}, InstallSwitch::Install},
        // Every argument is searched for INSTALL before any for UNINSTALL.
        {{"-uninstall", "/install"}, InstallSwitch::Install},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += "[" + a + "]";
        EXPECT_EQ(FindInstallSwitch(c.args), c.expected) << shown;
    }
}

TEST(InstallSwitch, ProgramNameIsNotAnArgument) {
    const char* alone[] = {"/install"};
    EXPECT_FALSE(IsInstallSwitch(1, alone));

    const char* withSwitch[] = {"marrowind", "-Uninstall"};
    EXPECT_EQ(FindInstallSwitch(2, withSwitch), InstallSwitch::Uninstall);
    EXPECT_TRUE(IsInstallSwitch(2, withSwitch));
}
