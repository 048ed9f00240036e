// What the fuzz targets share: a scratch folder of the process, whole-file reads and
// writes, the package's 4-byte little-endian numbers, a listing of a folder tree, and a
// check that stops the run with a message.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

namespace fuzz {

namespace fs = std::filesystem;

// A finding: libFuzzer records the input that led here as a crash.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond, what)                                     \
  do {                                                             \
    if (!(cond)) ::fuzz::Fail(std::string(#cond ": ") + (what));   \
  } while (0)

// A fresh folder of this process under the temporary folder, made on first use and
// removed when the process ends normally.
inline const fs::path& ScratchFolder() {
  struct Folder {
    fs::path path;
    Folder() {
      std::string pattern = (fs::temp_directory_path() / "tomevale-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create a scratch folder");
      path = pattern;
    }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

inline void PutFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write " + path.string());
}

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
// is and, for a file, its bytes; a link gives its target.
using Tree = std::map<std::string, std::string>;

inline Tree ListTree(const fs::path& root) {
  Tree tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path rel = it->path().lexically_relative(root);
    const fs::file_status st = it->symlink_status(ec);
    if (fs::is_symlink(st)) {
      tree[rel.string()] = "link:" + fs::read_symlink(it->path(), ec).string();
    } else if (fs::is_directory(st)) {
      tree[rel.string()] = "folder";
    } else if (fs::is_regular_file(st)) {
      tree[rel.string()] = "file:" + GetFile(it->path());
    } else {
      tree[rel.string()] = "other";
    }
  }
  if (ec) Fail("cannot list " + root.string() + ": " + ec.message());
  return tree;
}

}  // namespace fuzz
