// The data module: the process's one database connection, built from DataSet.ini in
// the program folder, and its two shared queries.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/db.h"

namespace marrowind {

// True while the worker thread owns the journal snapshot in TDs::AqDataChange;
// false when the main thread may take a new one.
extern std::atomic<bool> SyncBusy;

// The connection string, in 8-bit text: the values are placed as they are, without
// quoting, so a value holding ';' adds an attribute boundary there.
std::string BuildConnectionString(std::string_view password, std::string_view user, std::string_view database,
                                  std::string_view server);

// Gives `connection` the connection string and values built from the four 8-bit
// settings, the password in plain form; the connection is left closed. The data
// module and the database dialog's test connection are set up this same way.
void SetConnectionSettings(platform::db::Connection& connection, std::string_view server, std::string_view database,
                           std::string_view user, std::string_view password);

class TDs {
 public:
  TDs();
  TDs(const TDs&) = delete;
  TDs& operator=(const TDs&) = delete;

  // The one connection of the process; both threads use it.
  platform::db::Connection AcData;
  // Scratch query of the main thread (OpenSql, ExecSql, the journal probe).
  platform::db::Query AqLs;
  // The journal snapshot that the worker walks and deletes from.
  platform::db::Query AqDataChange;

  // Creation: connects, then probes for the journal and sets HaveGroup. An error of
  // the probe is thrown to the caller (the program's error report); HaveGroup is
  // false then.
  void DataModuleCreate();
  // Reads DataSet.ini, builds the connection string and opens AcData; true when
  // open. Never throws; clears SyncBusy in both outcomes.
  bool ConnectDatabase();
  // The journal probe of DataModuleCreate: HaveGroup := DataChange is a user table.
  // Throws DbError.
  void ProbeJournal();
  // A new journal snapshot in AqDataChange; true when it has rows (SyncBusy is set
  // then). False without a query when HaveGroup is false. Throws DbError.
  bool OpenDataChange();
  // Open / execute a text on AqLs; false on any error, AqLs closed then.
  bool OpenSql(std::string_view sql);
  bool ExecSql(std::string_view sql);
};

}  // namespace marrowind
