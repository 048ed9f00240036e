#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/service.h"
#include "temp_dir.h"

namespace svc = platform::service;

namespace {

const std::string kUnit = "TomevaleServer.service";

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

// A unit search path of two folders, "etc" above "lib".
class UnitFolders : public ::testing::Test {
protected:
    std::vector<std::filesystem::path> Dirs() const { return {dir.path() / "etc", dir.path() / "lib"}; }
    void Unit(const std::string& folder, const std::string& text, const std::string& name = kUnit) {
        dir.Write(std::filesystem::path(folder) / name, text);
    }
    std::optional<std::string> Account() const { return svc::ServiceStartAccount(kUnit, Dirs()); }
    bool Running() const { return svc::IsRunningAsService("TomevaleServer", Dirs()); }

    TempDir dir;
};

}  // namespace

TEST(ServiceManager, UnitNameOfTheService) {
    EXPECT_EQ(svc::UnitNameFor(svc::kServiceName), kUnit);
    EXPECT_EQ(svc::UnitNameFor(kUnit), kUnit);
}

TEST_F(UnitFolders, MissingUnitIsNoService) {
    std::filesystem::create_directories(dir.path() / "etc");
    EXPECT_EQ(Account(), std::nullopt);
    EXPECT_FALSE(Running());
    // Even for the account a unit without User= would run as.
    Unit("etc", "[Service]\nExecStart=/bin/true\n", "OtherServer.service");
    EXPECT_FALSE(Running());
}

TEST_F(UnitFolders, StartAccountAsSystemdReadsIt) {
    struct Case {
        std::string text;
        std::string account;
    };
    const Case cases[] = {
        {"[Service]\nUser=tomevale\n", "tomevale"},
        {"[Service]\nUser=first\nUser=second\n", "second"},
        {"[Service]\nUser = spaced \r\n", "spaced"},
        {"[Service]\nType=simple\n", "root"},
        {"[Service]\nUser=someone\nUser=\n", "root"},
        {"[Service]\nUser=LOCALSYSTEM\n", "root"},
        {"[Service]\nUser=localsystem\n", "root"},
        {"[Service]\nUser=0\n", "root"},
        {"[Unit]\nUser=unit\n[Service]\nType=simple\n[Install]\nUser=install\n", "root"},
        {"[Service]\n# User=hash\n; User=semicolon\n", "root"},
        {"[Service]\nExecStart=/bin/echo \\\n  User=continued\n", "root"},
        {"[Service]\nUser=DOMAIN\\root\n", "DOMAIN\\root"},
    };
    for (const Case& c : cases) {
        Unit("lib", c.text);
        EXPECT_EQ(Account(), c.account) << c.text;
    }
}

TEST_F(UnitFolders, StartAccountMatchesTheCurrentUserWithoutRegardToCase) {
    const std::string me = svc::CurrentUserName();
    ASSERT_FALSE(me.empty());
    struct Case {
        std::string user;
        bool running;
    };
    const Case cases[] = {
        {me, true},
        {Upper(me), true},
        {"DOMAIN\\" + me, false},
        {".\\" + me, false},
        {me + "x", false},
    };
    for (const Case& c : cases) {
        Unit("lib", "[Service]\nUser=" + c.user + "\n");
        EXPECT_EQ(Running(), c.running) << c.user;
    }
}

TEST_F(UnitFolders, SystemAccountMatchesOnlyRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to run as root";
    for (const char* user : {"", "LocalSystem", "LOCALSYSTEM", "root", "ROOT"}) {
        Unit("lib", std::string("[Service]\nUser=") + user + "\n");
        EXPECT_TRUE(Running()) << user;
    }
    Unit("lib", "[Service]\nExecStart=/bin/true\n");
    EXPECT_TRUE(Running());
}

TEST_F(UnitFolders, HigherFolderAndDropInsDecide) {
    Unit("lib", "[Service]\nUser=lib\n");
    EXPECT_EQ(Account(), "lib");

    Unit("etc", "[Service]\nUser=etc\n");
    EXPECT_EQ(Account(), "etc");

    // Drop-ins of every folder apply after the unit, in file-name order.
    Unit("lib", "[Service]\nUser=lib-20\n", kUnit + ".d/20-user.conf");
    EXPECT_EQ(Account(), "lib-20");
    Unit("etc", "[Service]\nUser=etc-10\n", kUnit + ".d/10-user.conf");
    EXPECT_EQ(Account(), "lib-20");
    Unit("etc", "[Unit]\nDescription=x\n", kUnit + ".d/20-user.conf");
    EXPECT_EQ(Account(), "etc-10");  // etc's 20-user.conf hides lib's
    Unit("etc", "[Service]\nUser=ignored\n", kUnit + ".d/30-user.conf.disabled");
    EXPECT_EQ(Account(), "etc-10");
    Unit("lib", "[Service]\nUser=\n", kUnit + ".d/30-reset.conf");
    EXPECT_EQ(Account(), "root");
}

TEST_F(UnitFolders, MaskedUnitIsNoService) {
    Unit("lib", "[Service]\nUser=lib\n");
    std::filesystem::create_directories(dir.path() / "etc");
    std::filesystem::create_symlink("/dev/null", dir.path() / "etc" / kUnit);
    EXPECT_EQ(Account(), std::nullopt);

    std::filesystem::remove(dir.path() / "etc" / kUnit);
    Unit("etc", "");
    EXPECT_EQ(Account(), std::nullopt);
}

TEST(ServiceManager, UnitSearchPathFromTheEnvironmentAsSystemdReadsIt) {
    const std::vector<std::filesystem::path> standard = svc::DefaultUnitDirectories();
    ASSERT_EQ(standard.front(), "/etc/systemd/system");
    struct Case {
        const char* value;
        std::vector<std::filesystem::path> dirs;
    } cases[] = {
        {"/a:/b", {"/a", "/b"}},
        {"/a::/b", {"/a", "/b"}},
        {"", standard},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(::setenv("SYSTEMD_UNIT_PATH", c.value, 1), 0);
        EXPECT_EQ(svc::DefaultUnitDirectories(), c.dirs) << c.value;
    }
    ASSERT_EQ(::setenv("SYSTEMD_UNIT_PATH", "/a:", 1), 0);
    std::vector<std::filesystem::path> appended{"/a"};
    appended.insert(appended.end(), standard.begin(), standard.end());
    EXPECT_EQ(svc::DefaultUnitDirectories(), appended);
    ::unsetenv("SYSTEMD_UNIT_PATH");
}
