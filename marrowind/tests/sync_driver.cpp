// sync_driver FOLDER: syncs the journal of the library database in FOLDER (its
// DataSet.ini and the settings rows in SystemRul name the database and the center)
// until the journal is empty, with the program's own tick and worker. FOLDER is the
// program folder and the working directory. Exit 0 when the journal is empty, 1 when
// it could not be emptied in 1000 ticks, 2 on bad arguments or no database.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"
#include "marrowind/core/sync_tick.h"
#include "platform/module.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sync_driver FOLDER\n");
    return 2;
  }
  try {
    std::filesystem::path folder = std::filesystem::absolute(argv[1]);
    platform::module::OverrideProgramFolderForTesting(folder);
    std::filesystem::current_path(folder);
    marrowind::SetHttpLimits({2000ms, 10000ms});
    marrowind::TDs ds;
    ds.DataModuleCreate();
    if (!marrowind::HaveGroup) return 2;
    marrowind::TGroupThread worker(ds);
    for (int tick = 0; tick < 1000; ++tick) {
      marrowind::TSerTimer(ds, &worker);
      if (!worker.WaitSuspended(60s)) return 1;
      if (!ds.OpenSql("select count(*) from DataChange")) return 1;
      if (ds.AqLs.Fields(0).AsInteger() == 0) return 0;
    }
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sync_driver: %s\n", e.what());
    return 2;
  }
}
