// What the database tests share: a folder of their own (also the program folder), a
// database file made and filled on the SQLite backend, and connecting to it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/db.h"
#include "platform/module.h"

namespace db_test {

namespace fs = std::filesystem;

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "db-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    platform::module::OverrideProgramFolderForTesting(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // An empty file is an empty SQLite database; the script fills it.
  fs::path MakeDatabase(const std::string& script, const std::string& name = "test.db") {
    fs::path file = dir_ / name;
    std::ofstream(file, std::ios::binary).flush();
    platform::db::Connection c;
    ConnectTo(c, "sqlite:" + file.string());
    if (!script.empty()) c.Execute(script);
    return file;
  }

  static void ConnectTo(platform::db::Connection& c, const std::string& dataSource) {
    c.SetConnectionString("Data Source=" + dataSource, {dataSource, "", "", ""});
    c.Open();
  }

  static std::string Text(platform::db::Connection& c, const std::string& sql) {
    platform::db::Query q(c);
    q.SetSql(sql);
    q.Open();
    return q.Fields(0).AsString();
  }

  fs::path dir_;
};

// The text of the DbError that f raises, or "(no error)".
inline std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::db::DbError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace db_test
