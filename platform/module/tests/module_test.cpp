#include "platform/module.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(Module, ProgramFolderIsTheFolderOfTheRunningProgram) {
  auto folder = platform::module::ProgramFolder();
  EXPECT_TRUE(folder.is_absolute());
  EXPECT_TRUE(std::filesystem::exists(folder / "platform_module_tests"));
  platform::module::OverrideProgramFolderForTesting("/tmp");
  EXPECT_EQ(platform::module::ProgramFolder(), "/tmp");
}

TEST(Module, ThreadNameIsSetForTheCallingThreadOnly) {
  std::string before = platform::module::CurrentThreadName();
  std::string inside, longName;
  std::thread([&] {
    platform::module::SetCurrentThreadName("ThreadGroup");
    inside = platform::module::CurrentThreadName();
    platform::module::SetCurrentThreadName("AThreadNameOfMoreThanFifteenBytes");
    longName = platform::module::CurrentThreadName();
  }).join();
  EXPECT_EQ(inside, "ThreadGroup");
  EXPECT_EQ(longName, "AThreadNameOfMo");
  EXPECT_EQ(platform::module::CurrentThreadName(), before);
}
