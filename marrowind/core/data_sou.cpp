#include "marrowind/core/data_sou.h"

#include <codemill.h>

#include "marrowind/core/gl_expand.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace marrowind {

std::atomic<bool> SyncBusy{false};

std::string BuildConnectionString(std::string_view password, std::string_view user, std::string_view database,
                                  std::string_view server) {
  std::string s = "Provider=SQLOLEDB.1;";
  s += "Password=";
  s += password;
  s += ";Persist Security Info=True;";
  s += "User ID=";
  s += user;
  s += ";";
  s += "Initial Catalog=";
  s += database;
  s += ";";
  s += "Data Source=";
  s += server;
  return s;
}

void SetConnectionSettings(platform::db::Connection& connection, std::string_view server, std::string_view database,
                           std::string_view user, std::string_view password) {
  using platform::text::Cp936ToUtf8;
  const std::string text = BuildConnectionString(password, user, database, server);
  connection.SetConnectionString(Cp936ToUtf8(text), {Cp936ToUtf8(server), Cp936ToUtf8(database), Cp936ToUtf8(user),
                                                     Cp936ToUtf8(password)});
}

TDs::TDs() : AqLs(AcData), AqDataChange(AcData) {}

void TDs::DataModuleCreate() {
  HaveGroup = false;
  if (!ConnectDatabase()) return;
  ProbeJournal();
}

bool TDs::ConnectDatabase() {
  bool ok = false;
  try {
    AcData.SetConnectionString("", {});
    platform::profile::IniFile ini(platform::module::ProgramFolder() / "DataSet.ini");
    // The file is code page 936; the stored password is bytes and goes through
    // GetPassword untouched. Only the results are decoded.
    std::string server = ini.ReadString("Connection", "Server Name", "");
    std::string database = ini.ReadString("Connection", "DataBase Name", "");
    std::string user = ini.ReadString("Connection", "User Name", "");
    std::string stored = ini.ReadString("Connection", "Password", "");
    const char* plainText = GetPassword(stored.c_str());
    std::string plain = plainText ? plainText : "";  // copied before any other call
    SetConnectionSettings(AcData, server, database, user, plain);
    AcData.Open();
    ok = true;
  } catch (const std::exception&) {
    ok = false;  // no message here: start-up reports the unconnected state
  }
  SyncBusy = false;
  return ok;
}

void TDs::ProbeJournal() {
  HaveGroup = false;
  AqLs.Close();
  AqLs.SetSql("Select 1 as HaveGroup from sysobjects where id=object_Id('DataChange') and Xtype='U'");
  AqLs.Open();
  HaveGroup = AqLs.RecordCount() > 0;
}

bool TDs::OpenDataChange() {
  if (!HaveGroup) return false;
  AqDataChange.Close();
  AqDataChange.SetSql("Select * from DataChange Order By ChangeId");
  AqDataChange.Open();
  if (AqDataChange.RecordCount() <= 0) return false;
  SyncBusy = true;
  return true;
}

// Any error, not only the database's (memory, say), gives false with AqLs closed: no
// exception leaves these two for the tick or a dialog to meet.
bool TDs::OpenSql(std::string_view sql) {
  try {
    AqLs.Close();
    AqLs.SetSql(std::string(sql));
    AqLs.Open();
    return true;
  } catch (...) {
    AqLs.Close();
    return false;
  }
}

bool TDs::ExecSql(std::string_view sql) {
  try {
    AqLs.Close();
    AqLs.SetSql(std::string(sql));
    AqLs.ExecSql();
    return true;
  } catch (...) {
    AqLs.Close();
    return false;
  }
}

}  // namespace marrowind
