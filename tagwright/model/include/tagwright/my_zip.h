// The template package: all files of a template folder in one zlib stream, with a
// scrambled file list that carries the package password.
//
// Package file:  zlib stream of the payload | payload size S (4 bytes, little-endian)
// Payload:       file 1 | ... | file N | scrambled list (L bytes) | L (4 bytes)
// List:          profile text: [List] FileCount, PassWord; [1]..[N] FileName, FileSize
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace platform::files {
class RegularFile;
}

namespace tagwright {

// The password of every package the designer writes and the only one it extracts.
inline constexpr const char* kPackagePassword = "wdx";
// Key text of the list scrambling.
inline constexpr const char* kPackageListKey = "hollyburn-kpt";

// Working files in the program folder.
inline constexpr const char* kPackListFile = "tmpIn.in_";      // list of the package being built
inline constexpr const char* kExtractListFile = "tmpOut.in_";  // list of the package being extracted
inline constexpr const char* kPayloadFile = "ls.dat";          // payload of the last extraction

// A package that cannot be built or extracted: a file or folder that cannot be opened
// or created, data that is not a zlib stream, a list that does not fit its payload.
class EPackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One object serves one operation: create it, call BuildPackage or ExtractPackage once.
class TMyZip {
 public:
  TMyZip();
  TMyZip(const TMyZip&) = delete;
  TMyZip& operator=(const TMyZip&) = delete;

  // Packs the files directly in folder (not its sub-folders), in name order without
  // regard to case, into packageFile, which is replaced only once the new package is
  // complete. A folder without files writes no package and reports nothing. Throws
  // EPackageError when a file cannot be read or its name cannot travel in the list.
  void BuildPackage(const std::filesystem::path& folder,
                    const std::filesystem::path& packageFile, const std::string& password);

  // Extracts packageFile into folder (created when missing, one level), replacing files
  // of the listed names and leaving others. Returns false, with a line in
  // TranErrLog.Log, for a package that is incomplete, carries another password or
  // lists a name with a folder part; nothing is then written into folder. Throws
  // EPackageError when folder cannot be created, the package cannot be opened, its
  // data is not a zlib stream, or its list does not fit the payload.
  bool ExtractPackage(const std::filesystem::path& packageFile,
                      const std::filesystem::path& folder, const std::string& password);

  // The list scrambling, the same operation both ways: the byte at position p is
  // combined by exclusive-or with key character (p mod 10001) mod 12 (1-based; 0
  // leaves the byte unchanged).
  std::string ScrambleStream(std::string_view source) const;

  // Compresses source as one zlib stream onto out and appends the source's length as
  // 4 bytes. Level 1 stores without compression, 2 is the fastest, 3 zlib's default,
  // 4 the best; any other level is the fastest.
  static void DeflateToFile(std::string_view source, std::ostream& out, int level);

 private:
  bool ListFolder();
  void AppendListedFiles(std::string& payload);
  bool InflatePackage(const platform::files::RegularFile& package, std::string& payload);
  bool RefusePackage(const std::string& message);

  std::string Key;
  std::optional<platform::profile::IniFile> List;
  std::int32_t FileCount = 0;
  std::filesystem::path Folder;
  std::string PassWord;
  std::vector<std::filesystem::path> Files;  // the listed files, as named on disk
  std::filesystem::path PackageFile;
};

}  // namespace tagwright
