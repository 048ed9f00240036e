#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>

#include "platform/service.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using platform::service::OpenMachineKey;

namespace {

const char* kKey = "\\SOFTWARE\\Velmora\\TomevaleSer";

std::size_t EntryCount(const fs::path& folder) {
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(MachineKey, CreatedWhenMissingAndOpenedAfterwards) {
    TempDir root;
    ASSERT_TRUE(OpenMachineKey(kKey, root.path()));
    const fs::path key = root.path() / "HKLM" / "SOFTWARE" / "Velmora" / "TomevaleSer";
    EXPECT_TRUE(fs::is_directory(key));

    root.Write(key / "value", "kept");
    EXPECT_TRUE(OpenMachineKey(kKey, root.path()));
    // Key names ignore case, so no second key appears beside the first.
    EXPECT_TRUE(OpenMachineKey("software\\\\VELMORA\\tomevaleser\\", root.path()));
    EXPECT_EQ(EntryCount(root.path() / "HKLM"), 1u);
    EXPECT_EQ(EntryCount(root.path() / "HKLM" / "SOFTWARE"), 1u);
    EXPECT_EQ(EntryCount(key), 1u);
}

TEST(MachineKey, RefusesNamesThatAreNoKey) {
    TempDir root;
    for (const char* bad : {"\\SOFTWARE\\..\\..\\escape", "\\SOFTWARE\\.", "\\a/b"}) {
        EXPECT_FALSE(OpenMachineKey(bad, root.path())) << bad;
    }
    EXPECT_FALSE(fs::exists(root.path() / "escape"));
    EXPECT_FALSE(fs::exists(root.path() / "HKLM" / "SOFTWARE"));
}

TEST(MachineKey, FailsWhenTheRootCannotHoldIt) {
    TempDir dir;
    fs::path file = dir.Write("not-a-folder", "x");
    EXPECT_FALSE(OpenMachineKey(kKey, file));
    dir.Write("root/HKLM/SOFTWARE", "a file where a key should be");
    EXPECT_FALSE(OpenMachineKey(kKey, dir.path() / "root"));
}

TEST(MachineKey, DefaultRootFromTheEnvironment) {
    TempDir root;
    ASSERT_EQ(::setenv(std::string(platform::service::kRegistryRootVariable).c_str(),
                       root.path().c_str(), 1),
              0);
    EXPECT_EQ(platform::service::DefaultRegistryRoots(), std::vector<fs::path>{root.path()});
    EXPECT_TRUE(OpenMachineKey(kKey));
    EXPECT_TRUE(fs::is_directory(root.path() / "HKLM" / "SOFTWARE" / "Velmora" / "TomevaleSer"));
    ::unsetenv(std::string(platform::service::kRegistryRootVariable).c_str());
}
