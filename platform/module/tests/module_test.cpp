#include "platform/module.h"

#include <gtest/gtest.h>

TEST(Module, ProgramFolderIsTheFolderOfTheRunningProgram) {
  auto folder = platform::module::ProgramFolder();
  EXPECT_TRUE(folder.is_absolute());
  EXPECT_TRUE(std::filesystem::exists(folder / "platform_module_tests"));
  platform::module::OverrideProgramFolderForTesting("/tmp");
  EXPECT_EQ(platform::module::ProgramFolder(), "/tmp");
}
