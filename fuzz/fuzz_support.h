// What the fuzz targets share: a scratch folder of the process (on a memory file
// system), whole-file reads and writes, the package's 4-byte little-endian numbers, a
// listing of a folder tree, and a check that stops the run with a message.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

namespace fuzz {

namespace fs = std::filesystem;

// The scratch folder of this process, once it exists (see ScratchFolder).
inline fs::path scratchPath;

// A finding: libFuzzer records the input that led here as a crash. The scratch folder
// goes with the process; the input reproduces what it held.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  if (!scratchPath.empty()) {
    std::error_code ec;
    fs::remove_all(scratchPath, ec);
  }
  std::abort();
}

#define FUZZ_CHECK(cond, what)                                     \
  do {                                                             \
    if (!(cond)) ::fuzz::Fail(std::string(#cond ": ") + (what));   \
  } while (0)

inline constexpr std::string_view kScratchPrefix = "tomevale-fuzz-";

// Where the scratch folders go: a memory file system, so that the targets' files never
// wait for a disk, or the temporary folder (TMPDIR) where there is none.
inline fs::path ScratchBase() {
  const fs::path shm = "/dev/shm";
  std::error_code ec;
  if (fs::is_directory(shm, ec) && access(shm.c_str(), W_OK | X_OK) == 0) return shm;
  return fs::temp_directory_path();
}

// A process that crashed, timed out or ran out of memory ended without removing its
// scratch folder; the folder's name holds the process id, so a later process removes
// the folders of processes that no longer run.
inline void RemoveFoldersOfEndedProcesses(const fs::path& base) {
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(kScratchPrefix)) continue;
    const char* digits = name.c_str() + kScratchPrefix.size();
    char* rest = nullptr;
    const long pid = std::strtol(digits, &rest, 10);
    if (rest == digits || *rest != '-' || pid <= 0) continue;
    if (kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH) {
      std::error_code removeEc;
      fs::remove_all(it->path(), removeEc);
    }
  }
}

// A fresh folder of this process, made on first use and removed when the process ends
// normally (or by Fail).
inline const fs::path& ScratchFolder() {
  struct Folder {
    Folder() {
      const fs::path base = ScratchBase();
      RemoveFoldersOfEndedProcesses(base);
      std::string pattern = (base / (std::string(kScratchPrefix) + std::to_string(getpid()) +
                                     "-XXXXXX")).string();
      if (mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot create a scratch folder in " + base.string());
      }
      scratchPath = pattern;
    }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(scratchPath, ec);
      scratchPath.clear();
    }
  };
  static const Folder folder;
  return scratchPath;
}

// Written with the descriptor calls: a stream's buffer is one more allocation, which
// the sanitizer makes dear, at every run of a target.
inline void PutFile(const fs::path& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  while (ok && !bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    ok = n > 0;
    if (ok) bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) Fail("cannot write " + path.string());
}

// The file a target hands its input in: made once in the scratch folder and kept open,
// each input written over it from the start and the rest cut off, so that a run costs
// no path look-up of its own.
class InputFile {
 public:
  explicit InputFile(const std::string& name)
      : path_(ScratchFolder() / name),
        fd_(open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (fd_ < 0) Fail("cannot create " + path_.string());
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const fs::path& Path() const { return path_; }

  void Put(std::string_view bytes) const {
    bool ok = true;
    for (size_t at = 0; ok && at < bytes.size();) {
      const ssize_t n = pwrite(fd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
      ok = n > 0;
      if (ok) at += static_cast<size_t>(n);
    }
    if (!ok || ftruncate(fd_, static_cast<off_t>(bytes.size())) != 0) {
      Fail("cannot write " + path_.string());
    }
  }

 private:
  fs::path path_;
  int fd_;
};

inline std::string GetFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 4-byte little-endian number, as the template package keeps its sizes.
inline std::uint32_t GetUint32(const char* p) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return u;
}

inline void PutUint32(std::string& s, std::uint32_t u) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

// Well-formed UTF-8 (no check of overlong forms or surrogates: the texts checked come
// from the project's own decoder).
inline bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// Every entry below root (links not followed), by path relative to root, with what it
// is: "folder", "link:" and its target, "file:" and its bytes, or "file" for a file
// in a folder whose files are listed without their bytes. Listed with the descriptor
// calls, which cost a fraction of the path objects of std::filesystem: the targets list
// their sandbox at every run.
using Tree = std::map<std::string, std::string>;

// Calls f(name, type) for every entry of the folder open on fd from where its reading
// stands ("." and ".." left out), type being DT_REG, DT_DIR, DT_LNK or DT_UNKNOWN for
// anything else; a zero byte follows the name. what names the folder in a failure.
template <class F>
void ForEachEntry(int fd, const std::string& what, F&& f) {
  alignas(dirent64) char buf[8192];
  for (;;) {
    const ssize_t n = getdents64(fd, buf, sizeof buf);
    if (n < 0) Fail("cannot list " + what);
    if (n == 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const dirent64*>(buf + at);
      at += e->d_reclen;
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      unsigned char type = e->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st {};
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          Fail("cannot stat " + what + "/" + std::string(name));
        }
        type = S_ISLNK(st.st_mode)   ? DT_LNK
               : S_ISDIR(st.st_mode) ? DT_DIR
               : S_ISREG(st.st_mode) ? DT_REG
                                     : DT_UNKNOWN;
      }
      if (type != DT_REG && type != DT_DIR && type != DT_LNK) type = DT_UNKNOWN;
      f(name, type);
    }
  }
}

namespace detail {

// The bytes of the file name in folder fd, or nullopt when it cannot be read.
inline std::optional<std::string> ReadAt(int fd, const char* name) {
  const int file = openat(fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::string bytes;
  char buf[16384];
  ssize_t n;
  while ((n = read(file, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<size_t>(n));
  close(file);
  if (n < 0) return std::nullopt;
  return bytes;
}

// Lists the folder open on fd (closed here) into tree, its names below prefix.
inline void ListFolder(int fd, const std::string& prefix, const std::set<std::string>& noBytes,
                       Tree& tree) {
  const bool bytes = noBytes.count(prefix) == 0;
  ForEachEntry(fd, prefix, [&](std::string_view name, unsigned char type) {
    std::string rel = prefix.empty() ? std::string(name) : prefix + "/" + std::string(name);
    if (type == DT_LNK) {
      char target[4096];
      const ssize_t length = readlinkat(fd, name.data(), target, sizeof target);
      if (length < 0) Fail("cannot read the link " + rel);
      tree[rel] = "link:" + std::string(target, static_cast<size_t>(length));
    } else if (type == DT_DIR) {
      const int sub = openat(fd, name.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) Fail("cannot open the folder " + rel);
      ListFolder(sub, rel, noBytes, tree);
      tree[rel] = "folder";
    } else if (type == DT_REG && !bytes) {
      tree[rel] = "file";
    } else if (type == DT_REG) {
      // A file that cannot be read back is no plain file to the checks.
      std::optional<std::string> read = ReadAt(fd, name.data());
      tree[rel] = read ? "file:" + *read : "unreadable";
    } else {
      tree[rel] = "other";
    }
  });
  close(fd);
}

}  // namespace detail

// Adds the entries below the folder rel of root (rel empty: root itself) to tree, by
// their paths relative to root. noBytes: folders (relative to root) whose files are
// listed without their bytes.
inline void ListInto(const fs::path& root, const std::string& rel,
                     const std::set<std::string>& noBytes, Tree& tree) {
  const fs::path folder = rel.empty() ? root : root / rel;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Fail("cannot list " + folder.string());
  detail::ListFolder(fd, rel, noBytes, tree);
}

inline Tree ListTree(const fs::path& root, const std::set<std::string>& noBytes = {}) {
  Tree tree;
  ListInto(root, "", noBytes, tree);
  return tree;
}

}  // namespace fuzz
