// Template package bytes into TMyZip::ExtractPackage. Each run finds the same sandbox
// holding a program folder, an extraction folder and the package; the extraction may
// write only its working files into the program folder and plain files into the
// extraction folder, and nothing anywhere else.
//
// The extraction folder starts with a link named "Label" (the name every template
// carries) that points at a file beside the sandbox's folders: replacing the link is
// fine, writing through it is not. The sandbox lies a few levels down in the scratch
// folder, and the whole scratch folder is compared, so a name that climbs out of the
// extraction folder shows as a new entry.
//
// Mutations of compressed bytes rarely give a stream that still inflates, so the
// mutator mostly works inside the package: it inflates it, changes the file list (in
// clear) or the payload, and compresses the result again; now and then it changes the
// package bytes themselves.
#include <zlib.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/module.h"
#include "tagwright/gdata.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

namespace fs = std::filesystem;
using fuzz::GetUint32;
using fuzz::PutUint32;
using fuzz::Tree;

const std::set<std::string> kWorkingFiles = {tagwright::kPayloadFile,
                                             tagwright::kExtractListFile,
                                             tagwright::kTranErrLogName};
constexpr const char* kVictimBytes = "must stay as it is";
// Paths of the sandbox relative to the scratch folder, as a Tree holds them.
const std::string kSandbox = "up3/up2/up1/run";
const std::string kOut = kSandbox + "/out";
const std::string kProg = kSandbox + "/prog";
const std::string kPackage = kSandbox + "/package.Lab";
const std::string kVictim = kSandbox + "/victim";
const std::string kLink = kOut + "/" + tagwright::kLabelFileName;

// The folder part and the name of a path of a Tree.
std::string_view Parent(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view Name(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// What changed from before to after, outside the extraction folder and the program
// folder's working files. The files of those two are listed without their bytes.
void CheckNothingElseWritten(const Tree& before, const Tree& after) {
  for (const auto& [path, what] : after) {
    if (Parent(path) == kOut) {
      FUZZ_CHECK(what == "file" || (path == kLink && what.starts_with("link:")),
                 "extracted entry that is no plain file: " + path);
      continue;
    }
    if (Parent(path) == kProg) {
      FUZZ_CHECK(kWorkingFiles.count(std::string(Name(path))) == 1,
                 "unexpected file in the program folder: " + path);
      FUZZ_CHECK(what == "file", "working file is no plain file: " + path);
      continue;
    }
    auto it = before.find(path);
    FUZZ_CHECK(it != before.end() && it->second == what, "written outside: " + path);
  }
  for (const auto& [path, what] : before) {
    FUZZ_CHECK(after.count(path) == 1, "removed: " + path);
  }
}

Tree Part(const Tree& tree, std::string_view folder) {
  Tree part;
  for (const auto& [path, what] : tree) {
    if (Parent(path) == folder) part.emplace(path, what);
  }
  return part;
}

// The sandbox below the scratch folder, made once: the program folder, the extraction
// folder with the link, the file the link points at (the victim) and the package.
// After each run only what the run changed is undone, so that a run costs no more than
// what it writes.
//
// The folders from the scratch folder down to the sandbox keep their entries, and the
// victim and the package their bytes: their modification times are set to 0, which
// any entry made, removed or renamed in a folder, and any write to a file, changes to
// the present. While they all read 0, the scratch folder is as at the start but for
// what the extraction folder and the program folder hold: only those two are listed,
// through descriptors kept open, and checked entry by entry. Otherwise the whole
// scratch folder is listed and compared with the start, to show what changed, and the
// descriptors are opened again, as what they stood for may have been replaced.
//
// What a run keeps from the one before stays the same size, so that every run frees
// what it allocates: libFuzzer takes a run that does not for a leak to look into.
class Sandbox {
 public:
  Sandbox()
      : scratch_(fuzz::ScratchFolder()),
        package_(scratch_ / kPackage),
        out_(scratch_ / kOut),
        noBytes_{kOut, kProg},
        still_{"", "up3", "up3/up2", "up3/up2/up1", kSandbox, kVictim, kPackage} {
    fs::create_directories(scratch_ / kProg);
    fs::create_directories(out_);
    fuzz::PutFile(scratch_ / kVictim, kVictimBytes);
    fs::create_symlink(kLinkTarget, scratch_ / kLink);
    fuzz::PutFile(package_, "");
    platform::module::OverrideProgramFolderForTesting(scratch_ / kProg);
    start_ = fuzz::ListTree(scratch_, noBytes_);
    start_.erase(kPackage);
    OpenAll();
  }

  const fs::path& Package() const { return package_; }
  const fs::path& Out() const { return out_; }

  // Writes the package of a run, its time set to 0 as well.
  void WritePackage(std::string_view bytes) const {
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size();) {
      const ssize_t n =
          pwrite(packageFd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
      ok = n > 0;
      if (ok) at += static_cast<size_t>(n);
    }
    const timespec zero[2] = {{0, 0}, {0, 0}};
    ok = ok && ftruncate(packageFd_, static_cast<off_t>(bytes.size())) == 0 &&
         futimens(packageFd_, zero) == 0;
    if (!ok) fuzz::Fail("cannot write the package");
  }

  // Checks what the run left against the start with the package of the run: what it
  // changed outside the extraction folder and the program folder's working files, what
  // the extraction folder holds, and a refused package's extraction folder as it was.
  // Then undoes what the run changed.
  void CheckAndReset(std::string_view package, bool extracted, bool raised) {
    if (!StillQuiet()) {
      CheckAndResetAll(package, extracted, raised);
      return;
    }
    // Only the two folders changed.
    std::vector<std::string> outNames, progNames;
    bool labelKept = false;
    bool labelThere = false;
    Rewind(outFd_, kOut);
    fuzz::ForEachEntry(outFd_, kOut, [&](std::string_view name, unsigned char type) {
      const bool label = name == tagwright::kLabelFileName;
      labelThere = labelThere || label;
      FUZZ_CHECK(type == DT_REG || (label && type == DT_LNK),
                 "extracted entry that is no plain file: " + kOut + "/" + std::string(name));
      if (label && type == DT_LNK && LinkTarget(outFd_, name.data()) == kLinkTarget) {
        labelKept = true;
      } else {
        outNames.emplace_back(name);
      }
    });
    FUZZ_CHECK(labelThere, "removed: " + kLink);
    if (!extracted) {
      // A refused package leaves the extraction folder as it was: the link alone.
      FUZZ_CHECK(labelKept && outNames.empty(),
                 raised ? "folder changed before an error" : "folder changed by a refused package");
    }
    Rewind(progFd_, kProg);
    fuzz::ForEachEntry(progFd_, kProg, [&](std::string_view name, unsigned char type) {
      progNames.emplace_back(name);
      FUZZ_CHECK(kWorkingFiles.count(progNames.back()) == 1,
                 "unexpected file in the program folder: " + kProg + "/" + progNames.back());
      FUZZ_CHECK(type == DT_REG,
                 "working file is no plain file: " + kProg + "/" + progNames.back());
    });

    for (const std::string& name : outNames) Unlink(outFd_, name, kOut);
    if (!labelKept && symlinkat(kLinkTarget, outFd_, tagwright::kLabelFileName) != 0) {
      fuzz::Fail("cannot reset the sandbox: " + kLink + ": " + std::strerror(errno));
    }
    for (const std::string& name : progNames) Unlink(progFd_, name, kProg);
  }

 private:
  static constexpr const char* kLinkTarget = "../victim";

  // The slow way, when something outside the two folders changed its time: the whole
  // scratch folder listed and compared with the start, and made the start again.
  void CheckAndResetAll(std::string_view package, bool extracted, bool raised) {
    Tree before = start_;
    before[kPackage] = "file:" + std::string(package);
    const Tree after = fuzz::ListTree(scratch_, noBytes_);
    CheckNothingElseWritten(before, after);
    auto victim = after.find(kVictim);
    FUZZ_CHECK(victim != after.end() && victim->second == "file:" + std::string(kVictimBytes),
               "written through the link");
    if (!extracted) {
      // A refused package leaves the extraction folder as it was.
      FUZZ_CHECK(Part(before, kOut) == Part(after, kOut),
                 raised ? "folder changed before an error" : "folder changed by a refused package");
    }
    Reset(after);
    CloseAll();
    OpenAll();
  }

  // Back to the start from the tree a run left: what it added or changed goes (deepest
  // first), what it removed or changed is made again (parents first). Every step must
  // succeed, so that the next run finds the start again without listing it.
  void Reset(const Tree& after) const {
    std::error_code ec;
    for (auto it = after.rbegin(); it != after.rend(); ++it) {
      auto was = start_.find(it->first);
      if (was != start_.end() && was->second == it->second) continue;
      // The package stays, to be overwritten by the next one; the checks made sure
      // that the run left it as it was.
      if (it->first == kPackage) continue;
      const fs::path p = scratch_ / it->first;
      if (it->second == "folder") {
        fs::remove_all(p, ec);
      } else if (unlink(p.c_str()) != 0) {
        ec.assign(errno, std::generic_category());
      }
      if (ec) fuzz::Fail("cannot reset the sandbox: " + it->first + ": " + ec.message());
    }
    for (const auto& [path, what] : start_) {
      auto now = after.find(path);
      if (now != after.end() && now->second == what) continue;
      const fs::path p = scratch_ / path;
      if (what == "folder") {
        fs::create_directory(p, ec);
      } else if (what.starts_with("file:")) {
        fuzz::PutFile(p, std::string_view(what).substr(5));
      } else {
        fs::create_symlink(what.substr(5), p, ec);
      }
      if (ec) fuzz::Fail("cannot reset the sandbox: " + path + ": " + ec.message());
    }
  }

  // Descriptors of what the runs change or must not change, the times of the latter
  // set to 0.
  void OpenAll() {
    for (const std::string& path : still_) {
      const int fd = open((scratch_ / path).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) fuzz::Fail("cannot open " + path);
      stillFds_.push_back(fd);
      const timespec zero[2] = {{0, 0}, {0, 0}};
      if (utimensat(AT_FDCWD, (scratch_ / path).c_str(), zero, AT_SYMLINK_NOFOLLOW) != 0) {
        fuzz::Fail("cannot set the time of " + path);
      }
    }
    packageFd_ = open(package_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    outFd_ = open(out_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    progFd_ = open((scratch_ / kProg).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (packageFd_ < 0 || outFd_ < 0 || progFd_ < 0) fuzz::Fail("cannot open the sandbox");
  }

  void CloseAll() {
    for (int fd : stillFds_) close(fd);
    stillFds_.clear();
    close(packageFd_);
    close(outFd_);
    close(progFd_);
  }

  bool StillQuiet() const {
    for (int fd : stillFds_) {
      struct stat st {};
      if (fstat(fd, &st) != 0 || st.st_mtim.tv_sec != 0 || st.st_mtim.tv_nsec != 0) return false;
    }
    return true;
  }

  static void Rewind(int fd, const std::string& what) {
    if (lseek(fd, 0, SEEK_SET) != 0) fuzz::Fail("cannot list " + what);
  }

  // The target of the link name in folder fd, as far as the buffer holds it.
  std::string_view LinkTarget(int fd, const char* name) {
    const ssize_t length = readlinkat(fd, name, linkBuffer_, sizeof linkBuffer_);
    if (length < 0) fuzz::Fail(std::string("cannot read the link ") + name);
    return {linkBuffer_, static_cast<size_t>(length)};
  }

  static void Unlink(int fd, const std::string& name, const std::string& folder) {
    if (unlinkat(fd, name.c_str(), 0) != 0) {
      fuzz::Fail("cannot reset the sandbox: " + folder + "/" + name + ": " + std::strerror(errno));
    }
  }

  fs::path scratch_;
  fs::path package_;
  fs::path out_;
  std::set<std::string> noBytes_;
  std::vector<std::string> still_;  // folders whose entries stay, files whose bytes stay
  std::vector<int> stillFds_;
  int packageFd_ = -1;
  int outFd_ = -1;
  int progFd_ = -1;
  char linkBuffer_[4096];
  Tree start_;
};

// The mutator's zlib streams live as long as the process: setting one up takes some
// 300 KB, which the sanitizer's allocator makes dear at every mutation.
z_stream& Inflater() {
  static z_stream zs = [] {
    z_stream s{};
    if (inflateInit(&s) != Z_OK) fuzz::Fail("inflateInit");
    return s;
  }();
  return zs;
}

// Levels 1 to 4 of a package: stored, fastest, zlib's default, best.
z_stream& Deflater(unsigned level) {
  static z_stream zs[4] = {};
  static bool ready[4] = {};
  constexpr int kZlibLevel[4] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION,
                                 Z_BEST_COMPRESSION};
  if (!ready[level - 1]) {
    if (deflateInit(&zs[level - 1], kZlibLevel[level - 1]) != Z_OK) fuzz::Fail("deflateInit");
    ready[level - 1] = true;
  }
  return zs[level - 1];
}

// The payload of a package whose stream inflates to the size its last four bytes give.
std::optional<std::string> Inflate(std::string_view package) {
  if (package.size() < 4) return std::nullopt;
  const std::uint32_t size = GetUint32(package.data() + package.size() - 4);
  if (size > (1u << 20)) return std::nullopt;
  std::string payload(size, '\0');
  z_stream& zs = Inflater();
  inflateReset(&zs);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(package.data()));
  zs.avail_in = static_cast<uInt>(package.size() - 4);
  zs.next_out = reinterpret_cast<Bytef*>(payload.data());
  zs.avail_out = size;
  if (inflate(&zs, Z_FINISH) != Z_STREAM_END || zs.avail_out != 0) return std::nullopt;
  return payload;
}

// A package of the payload, at package level 1 to 4.
std::string Deflate(std::string_view payload, unsigned level) {
  z_stream& zs = Deflater(level);
  deflateReset(&zs);
  std::string package(deflateBound(&zs, static_cast<uLong>(payload.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  zs.avail_in = static_cast<uInt>(payload.size());
  zs.next_out = reinterpret_cast<Bytef*>(package.data());
  zs.avail_out = static_cast<uInt>(package.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) fuzz::Fail("deflate");
  package.resize(zs.total_out);
  PutUint32(package, static_cast<std::uint32_t>(payload.size()));
  return package;
}

// Changes bytes with libFuzzer's own mutations, within maxSize.
std::string Mutate(std::string bytes, size_t maxSize) {
  const size_t size = bytes.size();
  bytes.resize(std::max(maxSize, size));
  const size_t n = LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(bytes.data()), size, bytes.size());
  bytes.resize(n);
  return bytes;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
  std::minstd_rand rnd(seed);
  const std::string_view package(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> payload = Inflate(package);
  if (!payload || rnd() % 8 == 0) return LLVMFuzzerMutate(data, size, maxSize);

  const tagwright::TMyZip zip;
  std::string changed;
  const std::uint32_t l = payload->size() >= 4 ? GetUint32(payload->data() + payload->size() - 4) : 0;
  if (payload->size() >= 4 && l <= payload->size() - 4 && rnd() % 4 != 0) {
    // The list, in clear, changed; its length field follows it.
    const size_t dataEnd = payload->size() - 4 - l;
    const std::string list = zip.ScrambleStream(std::string_view(*payload).substr(dataEnd, l));
    const std::string newList = Mutate(list, list.size() + 64);
    changed = payload->substr(0, dataEnd) + zip.ScrambleStream(newList);
    PutUint32(changed, static_cast<std::uint32_t>(newList.size()));
  } else {
    changed = Mutate(*payload, payload->size() + 64);
  }
  const std::string bytes = Deflate(changed, 1 + rnd() % 4);
  if (bytes.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, bytes.data(), bytes.size());
  return bytes.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sandbox.WritePackage(bytes);

  bool extracted = false;
  bool raised = false;
  try {
    tagwright::TMyZip zip;
    extracted = zip.ExtractPackage(sandbox.Package(), sandbox.Out(), tagwright::kPackagePassword);
  } catch (const tagwright::EPackageError&) {
    raised = true;
  }
  sandbox.CheckAndReset(bytes, extracted, raised);
  return 0;
}
