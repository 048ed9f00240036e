// What the tests of the login, the tick and the worker share: a library database in
// its own program folder (also the working directory, where LS2.xml lands), the data
// module on it, a cluster center on loopback, and helpers to shape the journal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/xml_table.h"
#include "loopback_ports.h"
#include "test_center.h"

namespace marrowind::test {

using namespace std::chrono_literals;

// ChangeIds that a batch document carries, in document order.
inline std::vector<std::int64_t> DocumentChangeIds(const std::string& document) {
  const std::string open = "<ChangeId>";
  std::vector<std::int64_t> ids;
  for (size_t p = document.find(open); p != std::string::npos; p = document.find(open, p)) {
    p += open.size();
    ids.push_back(std::stoll(document.substr(p, document.find('<', p) - p)));
  }
  return ids;
}

inline std::optional<std::string> ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HaveGroup = false;
    SyncBusy = false;
    for (SharedText* t : {&GroupUrl, &GroupId, &GroupPw, &DynNum}) t->Clear();
    SetHttpLimits({2000ms, 5000ms});
    lib_ = std::make_unique<LibrarySetup>();
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(lib_->Folder());
    ds_ = std::make_unique<TDs>();
    ds_->DataModuleCreate();
    ASSERT_TRUE(HaveGroup);
    center_ = std::make_unique<testing::TestCenter>();
  }

  void TearDown() override {
    std::filesystem::current_path(oldCwd_);
    SetHttpLimits({});
  }

  TDs& ds() { return *ds_; }
  testing::TestCenter& center() { return *center_; }
  std::filesystem::path FailedXml() const { return lib_->Folder() / "LS2.xml"; }

  void Exec(const std::string& sql) { ASSERT_TRUE(ds().ExecSql(sql)) << sql; }

  // The settings rows as the dialog stores them.
  void StoreSettings(const std::string& url, const std::string& id, const std::string& pw) {
    Exec("delete from SystemRul where SystemCode in (14,15,16)");
    Exec("insert into SystemRul (SystemCode,SysTemName,Content) values(14,'GroupUrl','" + SqlQuoted(url) + "')");
    Exec("insert into SystemRul (SystemCode,SysTemName,Content) values(15,'GroupId','" + SqlQuoted(id) + "')");
    Exec("insert into SystemRul (SystemCode,SysTemName,Content) values(16,'GroupPw','" + SqlQuoted(pw) + "')");
  }

  // The shared settings as a successful login leaves them.
  void LoggedIn(const std::string& number = "4711") {
    GroupUrl.Set(center().base_url());
    GroupId.Set("S01");
    DynNum.Set(number);
  }

  // Empties the journal, then adds one row per kind text, each on a source record
  // that exists (so every batch statement keeps the row). Gives their ChangeIds.
  std::vector<std::int64_t> Journal(const std::vector<std::string>& kinds) {
    Exec("delete from DataChange");
    for (const std::string& k : kinds) {
      char letter = k.empty() ? '\0' : k[0];
      std::string sou = letter == 'P'   ? "QK0001"
                        : letter == 'J' ? "1"
                        : letter == 'C' ? "BJ0701"
                        : letter == 'R' ? "R0001"
                        : letter == 'D' ? "XH2024001"
                                        : "TS0001";
      Exec("insert into DataChange (ContSouType,SouId,CmdType) values('" + SqlQuoted(k) + "','" + sou + "','U')");
    }
    return JournalIds();
  }

  // ChangeIds in the database's journal now.
  std::vector<std::int64_t> JournalIds() {
    platform::db::Query q(ds().AcData);
    q.SetSql("select ChangeId from DataChange order by ChangeId");
    q.Open();
    std::vector<std::int64_t> ids;
    for (; !q.Eof(); q.Next()) ids.push_back(q.Fields(0).AsInteger());
    return ids;
  }

  // Every batch document the center received, in order.
  std::vector<std::string> Batches() {
    std::vector<std::string> bodies;
    for (const auto& r : center().requests_to("api/StationData")) bodies.push_back(r.body);
    return bodies;
  }

  std::unique_ptr<LibrarySetup> lib_;
  std::filesystem::path oldCwd_;
  std::unique_ptr<TDs> ds_;
  std::unique_ptr<testing::TestCenter> center_;
};

}  // namespace marrowind::test
