#include "platform/files.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using platform::files::ReplaceFile;
using platform::files::WriteNewFile;

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "files-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(root_ / "work");
    fs::create_directory(root_ / "elsewhere");
    outside_ = root_ / "elsewhere" / "precious";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void Put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
  static std::string Get(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Whatever may stand at a name before it is written.
  struct Standing {
    const char* what;
    std::function<void(const fs::path& name, const fs::path& outside)> make;
  };
  static std::vector<Standing> Cases() {
    auto readOnly = [](const fs::path& p) { fs::permissions(p, fs::perms::owner_read | fs::perms::group_read); };
    return {
        {"nothing", [](const fs::path&, const fs::path&) {}},
        {"a file", [](const fs::path& name, const fs::path&) { Put(name, "earlier"); }},
        {"a read-only file",
         [=](const fs::path& name, const fs::path&) {
           Put(name, "earlier");
           readOnly(name);
         }},
        {"a hard link", [](const fs::path& name, const fs::path& outside) { fs::create_hard_link(outside, name); }},
        {"a read-only hard link",
         [=](const fs::path& name, const fs::path& outside) {
           readOnly(outside);
           fs::create_hard_link(outside, name);
         }},
        {"a symbolic link",
         [](const fs::path& name, const fs::path& outside) { fs::create_symlink(outside, name); }},
        {"a symbolic link to nothing",
         [](const fs::path& name, const fs::path& outside) { fs::create_symlink(outside.string() + ".none", name); }},
    };
  }

  void ExpectWritten(const fs::path& name, const std::string& what) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << what;
    EXPECT_EQ(Get(name), "new content") << what;
    EXPECT_EQ(Get(outside_), "precious") << what;
    EXPECT_FALSE(fs::equivalent(name, outside_)) << what;
    EXPECT_FALSE(fs::exists(outside_.string() + ".none")) << what;
  }

  fs::path root_, outside_;
};

}  // namespace

TEST_F(Files, ANewFileNeverWritesThroughWhatStoodAtItsName) {
  for (const Standing& c : Cases()) {
    fs::remove_all(root_ / "work");
    fs::remove_all(root_ / "elsewhere");
    fs::create_directory(root_ / "work");
    fs::create_directory(root_ / "elsewhere");
    Put(outside_, "precious");
    const fs::path name = root_ / "work" / "Label";
    c.make(name, outside_);
    EXPECT_EQ(WriteNewFile(name, "new content"), std::error_code()) << c.what;
    ExpectWritten(name, c.what);

    // The same for the whole-or-nothing write, with the case at the target and at its
    // temporary alike.
    const fs::path target = root_ / "work" / "t.Lab";
    c.make(target, outside_);
    c.make(target.string() + ".part~", outside_);
    EXPECT_EQ(ReplaceFile(target, "new content", ".part~"), std::error_code()) << c.what;
    ExpectWritten(target, c.what);
    EXPECT_FALSE(fs::exists(fs::symlink_status(target.string() + ".part~"))) << c.what;
  }
}

TEST_F(Files, AFailedWriteLeavesNothingBehind) {
  // A folder of that name is no file to remove: the write fails and the folder stays.
  const fs::path folder = root_ / "work" / "Label";
  fs::create_directories(folder / "inside");
  EXPECT_TRUE(WriteNewFile(folder, "new content"));
  EXPECT_TRUE(fs::is_directory(folder / "inside"));

  // A write cut short (here by a file size limit, in a child process): nothing of the
  // file stays.
  const fs::path cut = root_ / "work" / "cut";
  EXPECT_EXIT(
      {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit;  // (no braces: the macro would split them)
        limit.rlim_cur = limit.rlim_max = 4096;
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::error_code ec = WriteNewFile(cut, std::string(1 << 20, 'x'));
        std::_Exit(ec == std::errc::file_too_large && !fs::exists(cut) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");

  // A target that cannot be replaced keeps what it was, and the temporary goes.
  EXPECT_TRUE(ReplaceFile(folder, "new content", ".part~"));
  EXPECT_TRUE(fs::is_directory(folder / "inside"));
  EXPECT_FALSE(fs::exists(root_ / "work" / "Label.part~"));
  // A missing folder: nothing to create the file in.
  EXPECT_TRUE(WriteNewFile(root_ / "missing" / "Label", "x"));
}
