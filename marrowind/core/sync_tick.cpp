#include "marrowind/core/sync_tick.h"

#include <string>

#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"

namespace marrowind {

void TSerTimer(TDs& ds, TGroupThread* groupThread) {
  DynNum.Clear();  // also while the worker sends: it goes idle at its next pass
  try {
    if (!ReadGroupSettings(ds)) return;
    std::string number;
    if (!HttpGetResult(LoginUrl(GroupUrl.Get(), GroupId.Get(), GroupPw.Get()), number)) return;
    DynNum.Set(number);
  } catch (const ESilentAbort&) {
    return;
  }
  // While the worker owns the snapshot, it is neither replaced nor the worker touched.
  if (!SyncBusy && groupThread && ds.OpenDataChange()) groupThread->Resume();
}

}  // namespace marrowind
