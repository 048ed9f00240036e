// A program folder of its own for every test, inside a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/module.h"

namespace tagwright::testing {

namespace fs = std::filesystem;

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    const std::string name =
        std::string("tagwright_model_") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
        std::to_string(rd()) + std::to_string(rd());
    root_ = fs::temp_directory_path() / name;
    ASSERT_TRUE(fs::create_directory(root_));
    prog_ = root_ / "prog";
    fs::create_directory(prog_);
    platform::module::OverrideProgramFolderForTesting(prog_);
  }
  void TearDown() override {
    fs::current_path(fs::temp_directory_path());
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void Put(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << p;
  }
  static std::string Get(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Bytes that do not compress to nothing and differ from file to file.
  static std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() % 7 == 0 ? gen() : 'a' + gen() % 3);
    return s;
  }

  fs::path root_, prog_;
};

}  // namespace tagwright::testing
