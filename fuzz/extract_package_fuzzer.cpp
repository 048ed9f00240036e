// Template package bytes into TMyZip::ExtractPackage. Each run gets a sandbox of its own
// holding a program folder, an extraction folder and the package; the extraction may
// write only its working files into the program folder and plain files into the
// extraction folder, and nothing anywhere else.
//
// The extraction folder starts with a link named "Label" (the name every template
// carries) that points at a file beside the sandbox's folders: replacing the link is
// fine, writing through it is not. The sandbox lies a few levels down in the scratch
// folder, and the whole scratch folder is compared, so a name that climbs out of the
// extraction folder shows as a new entry.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "platform/module.h"
#include "tagwright/gdata.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Tree;

const std::set<std::string> kWorkingFiles = {tagwright::kPayloadFile,
                                             tagwright::kExtractListFile,
                                             tagwright::kTranErrLogName};
constexpr const char* kVictim = "victim";
constexpr const char* kVictimBytes = "must stay as it is";
// The sandbox, relative to the scratch folder.
const fs::path kSandbox = fs::path("up3") / "up2" / "up1" / "run";
const fs::path kOut = kSandbox / "out";
const fs::path kProg = kSandbox / "prog";

// What changed from before to after, outside the extraction folder and the program
// folder's working files.
void CheckNothingElseWritten(const Tree& before, const Tree& after) {
  for (const auto& [path, what] : after) {
    const fs::path p(path);
    if (p.parent_path() == kOut) {
      FUZZ_CHECK(what.starts_with("file:") ||
                     (p.filename() == tagwright::kLabelFileName && what.starts_with("link:")),
                 "extracted entry that is no plain file: " + path);
      continue;
    }
    if (p.parent_path() == kProg) {
      FUZZ_CHECK(kWorkingFiles.count(p.filename().string()) == 1,
                 "unexpected file in the program folder: " + path);
      FUZZ_CHECK(what.starts_with("file:"), "working file is no plain file: " + path);
      continue;
    }
    auto it = before.find(path);
    FUZZ_CHECK(it != before.end() && it->second == what, "written outside: " + path);
  }
  for (const auto& [path, what] : before) {
    FUZZ_CHECK(after.count(path) == 1, "removed: " + path);
  }
}

Tree Part(const Tree& tree, const fs::path& folder) {
  Tree part;
  for (const auto& [path, what] : tree) {
    if (fs::path(path).parent_path() == folder) part.emplace(path, what);
  }
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& scratch = fuzz::ScratchFolder();
  const fs::path sandbox = scratch / kSandbox;
  std::error_code ec;
  fs::remove_all(scratch / *kSandbox.begin(), ec);
  fs::create_directories(sandbox / "prog");
  fs::create_directories(sandbox / "out");
  fuzz::PutFile(sandbox / kVictim, kVictimBytes);
  fs::create_symlink(fs::path("..") / kVictim, sandbox / "out" / tagwright::kLabelFileName);
  const fs::path package = sandbox / "package.Lab";
  fuzz::PutFile(package, std::string_view(reinterpret_cast<const char*>(data), size));
  platform::module::OverrideProgramFolderForTesting(sandbox / "prog");

  const Tree scratchBefore = fuzz::ListTree(scratch);
  bool extracted = false;
  bool raised = false;
  try {
    tagwright::TMyZip zip;
    extracted = zip.ExtractPackage(package, sandbox / "out", tagwright::kPackagePassword);
  } catch (const tagwright::EPackageError&) {
    raised = true;
  }
  const Tree scratchAfter = fuzz::ListTree(scratch);

  CheckNothingElseWritten(scratchBefore, scratchAfter);
  FUZZ_CHECK(fuzz::GetFile(sandbox / kVictim) == kVictimBytes, "written through the link");
  if (!extracted) {
    // A refused package leaves the extraction folder as it was.
    FUZZ_CHECK(Part(scratchBefore, kOut) == Part(scratchAfter, kOut),
               raised ? "folder changed before an error" : "folder changed by a refused package");
  }

  fs::remove_all(scratch / *kSandbox.begin(), ec);
  return 0;
}
