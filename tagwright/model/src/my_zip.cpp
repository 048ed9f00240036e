#include "tagwright/my_zip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

#include "platform/files.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tagwright/gdata.h"

namespace fs = std::filesystem;
using platform::profile::IniFile;
using platform::text::Cp936ToUtf8;
using platform::text::Utf8ToCp936;

namespace tagwright {
namespace {

// Deflate turns at most 258 bytes into 2 bits; no zlib stream expands further.
constexpr std::uintmax_t kMaxInflateRatio = 1032;
constexpr size_t kChunk = 64 * 1024;
constexpr std::uintmax_t kMaxSize32 = std::numeric_limits<std::int32_t>::max();

fs::path ProgramFile(const char* name) { return platform::module::ProgramFolder() / name; }

void PutInt32(std::string& s, std::uintmax_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

std::int32_t GetInt32(const char* p) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<std::int32_t>(u);
}

std::string ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  // Only a regular file: opening a pipe or a device could wait for ever.
  if (!fs::is_regular_file(path, ec)) throw EPackageError("无法打开文件 " + path.string());
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EPackageError("无法打开文件 " + path.string());
  std::string data;
  char buf[kChunk];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    data.append(buf, static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw EPackageError("读取文件 " + path.string() + " 失败");
  return data;
}

// Always a new file: whatever stood at the name (a hard link, a read-only file the
// folder's clearing kept) is replaced, never written through.
void WriteWholeFile(const fs::path& path, std::string_view data) {
  if (const std::error_code ec = platform::files::WriteNewFile(path, data)) {
    throw EPackageError("无法写入文件 " + path.string() + "：" + ec.message());
  }
}

// The order in which the Windows file system lists a folder: by name without regard to
// case (ASCII letters), ties by bytes.
bool NameOrder(const fs::path& a, const fs::path& b) {
  const std::string la = platform::text::AsciiLower(a.string());
  const std::string lb = platform::text::AsciiLower(b.string());
  return la != lb ? la < lb : a.string() < b.string();
}

// A name to be created inside the extraction folder and nowhere else.
bool IsBareName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char ch) {
    return ch == '/' || ch == '\\' || ch == ':' || static_cast<unsigned char>(ch) < 0x20;
  });
}

std::string ZlibError(const z_stream& zs, int rc) {
  return zs.msg != nullptr ? zs.msg : ("zlib error " + std::to_string(rc));
}

// Deletes a working file when the operation ends, however it ends.
struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

}  // namespace

TMyZip::TMyZip() : Key(kPackageListKey) {}

std::string TMyZip::ScrambleStream(std::string_view source) const {
  std::string out(source);
  unsigned c = 0;
  for (char& b : out) {
    const unsigned r = c % 12;
    if (r != 0) b = static_cast<char>(b ^ Key[r - 1]);
    c = c >= 10000 ? 0 : c + 1;
  }
  return out;
}

void TMyZip::DeflateToFile(std::string_view source, std::ostream& out, int level) {
  if (source.size() > kMaxSize32) throw EPackageError("数据包过大");
  const int zlevel = level == 1   ? Z_NO_COMPRESSION
                     : level == 3 ? Z_DEFAULT_COMPRESSION
                     : level == 4 ? Z_BEST_COMPRESSION
                                  : Z_BEST_SPEED;
  z_stream zs{};
  int rc = deflateInit(&zs, zlevel);
  if (rc != Z_OK) throw EPackageError("压缩数据包失败：" + ZlibError(zs, rc));
  struct End {
    z_stream& zs;
    ~End() { deflateEnd(&zs); }
  } end{zs};
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source.data()));
  zs.avail_in = static_cast<uInt>(source.size());
  char buf[kChunk];
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = deflate(&zs, Z_FINISH);
    if (rc == Z_STREAM_ERROR) throw EPackageError("压缩数据包失败：" + ZlibError(zs, rc));
    out.write(buf, static_cast<std::streamsize>(sizeof buf - zs.avail_out));
  } while (rc != Z_STREAM_END);
  std::string size;
  PutInt32(size, source.size());
  out.write(size.data(), 4);
  if (!out) throw EPackageError("写入数据包失败");
}

bool TMyZip::ListFolder() {
  FileCount = 0;
  Files.clear();
  std::vector<fs::path> names;
  std::error_code ec;
  for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    // Sub-folders are not packed, nor anything that is not a plain file.
    if (it->is_regular_file(typeEc)) names.push_back(it->path().filename());
  }
  std::sort(names.begin(), names.end(), NameOrder);
  for (const fs::path& name : names) {
    const std::string utf8 = name.string();
    const std::string cp936 = Utf8ToCp936(utf8);
    // The list must give the extractor back exactly this name: code page 936 has to
    // hold it and the profile rules (line breaks, blanks at the ends, quotes) keep it.
    bool fits = Cp936ToUtf8(cp936) == utf8 &&
                std::none_of(utf8.begin(), utf8.end(),
                             [](char ch) { return ch == '\r' || ch == '\n'; });
    if (fits) {
      ++FileCount;
      const std::string section = std::to_string(FileCount);
      List->WriteInteger("List", "FileCount", FileCount);
      List->WriteString(section, "FileName", cp936);
      fits = List->ReadString(section, "FileName", "") == cp936;
    }
    if (!fits) throw EPackageError("文件名 " + utf8 + " 无法写入数据包的文件列表");
    Files.push_back(Folder / name);
  }
  return FileCount > 0;
}

void TMyZip::AppendListedFiles(std::string& payload) {
  for (size_t i = 0; i < Files.size(); ++i) {
    const std::string data = ReadWholeFile(Files[i]);
    if (data.size() > kMaxSize32 - payload.size()) throw EPackageError("数据包过大");
    payload += data;
    List->WriteInteger(std::to_string(i + 1), "FileSize", static_cast<std::int64_t>(data.size()));
  }
}

void TMyZip::BuildPackage(const fs::path& folder, const fs::path& packageFile,
                          const std::string& password) {
  Folder = folder;
  PassWord = password;
  const fs::path listPath = ProgramFile(kPackListFile);
  RemoveOnExit removeList{listPath};
  std::error_code ec;
  fs::remove(listPath, ec);
  List.emplace(listPath, IniFile::WriteMode::OnFlush);
  struct Close {
    std::optional<IniFile>& list;
    ~Close() { list.reset(); }
  } close{List};

  if (!ListFolder()) return;
  std::string payload;
  AppendListedFiles(payload);
  List->WriteString("List", "PassWord", Utf8ToCp936(PassWord));
  List->Flush();
  List.reset();

  const std::string scrambled = ScrambleStream(ReadWholeFile(listPath));
  if (scrambled.size() + 4 > kMaxSize32 - payload.size()) throw EPackageError("数据包过大");
  payload += scrambled;
  PutInt32(payload, scrambled.size());
  fs::remove(listPath, ec);

  // Written beside the target and renamed over it when whole: a failure never leaves a
  // half package under the target's name.
  std::ostringstream package;
  DeflateToFile(payload, package, 3);
  payload.clear();
  payload.shrink_to_fit();
  if (const std::error_code failed = platform::files::ReplaceFile(packageFile, package.view(), ".part~")) {
    throw EPackageError("无法写入文件 " + packageFile.string() + "：" + failed.message());
  }
}

bool TMyZip::InflatePackage(const platform::files::RegularFile& package, std::string& payload) {
  const std::uintmax_t packageSize = package.Size();
  if (packageSize < 4) return false;
  char sizeBytes[4];
  if (!package.ReadAt(sizeBytes, 4, packageSize - 4)) return false;
  const std::int32_t s = GetInt32(sizeBytes);
  const std::uintmax_t compressed = packageSize - 4;
  // A size that the compressed data cannot produce is refused before it is allocated.
  if (s < 0 || static_cast<std::uintmax_t>(s) > (compressed + 1) * kMaxInflateRatio) return false;

  z_stream zs{};
  int rc = inflateInit(&zs);
  if (rc != Z_OK) throw EPackageError("解压数据包失败：" + ZlibError(zs, rc));
  struct End {
    z_stream& zs;
    ~End() { inflateEnd(&zs); }
  } end{zs};

  std::uintmax_t remaining = compressed;
  char in[kChunk];
  // One step of the decompressor: true while it may go on, false when the compressed
  // data is used up without the stream's end. Errors of the data are raised.
  auto step = [&]() {
    if (zs.avail_in == 0 && remaining > 0) {
      const auto n = static_cast<size_t>(std::min<std::uintmax_t>(remaining, sizeof in));
      if (!package.ReadAt(in, n, compressed - remaining)) {
        throw EPackageError("读取数据包 " + PackageFile.string() + " 失败");
      }
      remaining -= n;
      zs.next_in = reinterpret_cast<Bytef*>(in);
      zs.avail_in = static_cast<uInt>(n);
    }
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_OK || rc == Z_STREAM_END) return true;
    // No progress: the compressed data is used up, so nothing more will come.
    if (rc == Z_BUF_ERROR) return false;
    throw EPackageError("数据包 " + PackageFile.string() + " 不是有效的压缩数据：" +
                        ZlibError(zs, rc));
  };

  // The payload grows as the data comes, up to S bytes: a size that the stream does not
  // bear out costs no memory, and no byte is filled before it is written.
  const auto size = static_cast<size_t>(s);
  payload.clear();
  char out[kChunk];
  while (payload.size() < size) {
    zs.next_out = reinterpret_cast<Bytef*>(out);
    zs.avail_out = static_cast<uInt>(std::min(sizeof out, size - payload.size()));
    const uInt room = zs.avail_out;
    const bool more = step();
    payload.append(out, room - zs.avail_out);
    if (!more) return false;
    if (rc == Z_STREAM_END) return payload.size() == size;
  }
  // S bytes are there; the stream must end here, checksum included. A stream that goes
  // on holds another payload than its size says.
  unsigned char probe;
  for (;;) {
    zs.next_out = &probe;
    zs.avail_out = 1;
    if (!step()) return false;
    if (zs.avail_out == 0) return false;
    if (rc == Z_STREAM_END) return true;
  }
}

bool TMyZip::RefusePackage(const std::string& message) {
  WriteTranErrLog(message);
  return false;
}

bool TMyZip::ExtractPackage(const fs::path& packageFile, const fs::path& folder,
                            const std::string& password) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    fs::create_directory(folder, ec);
    if (!fs::is_directory(folder, ec)) throw EPackageError("创建目录 " + folder.string() + " 失败");
  }
  Folder = folder;
  PassWord = password;
  PackageFile = packageFile;
  const std::string file = packageFile.string();

  std::string payload;
  {
    const std::optional<platform::files::RegularFile> package = platform::files::RegularFile::Open(packageFile);
    if (!package) throw EPackageError("无法打开文件 " + file);
    if (!InflatePackage(*package, payload)) {
      return RefusePackage("文件不完整或错误的数据包 " + file);
    }
  }
  const fs::path program = platform::module::ProgramFolder();
  WriteWholeFile(program / kPayloadFile, payload);

  const std::string listError = "数据包 " + file + " 的文件列表超出数据范围";
  if (payload.size() < 4) throw EPackageError(listError);
  const std::int32_t l = GetInt32(payload.data() + payload.size() - 4);
  if (l < 0 || static_cast<size_t>(l) > payload.size() - 4) throw EPackageError(listError);
  const size_t dataEnd = payload.size() - 4 - static_cast<size_t>(l);
  const fs::path listPath = program / kExtractListFile;
  WriteWholeFile(listPath, ScrambleStream(std::string_view(payload).substr(dataEnd, static_cast<size_t>(l))));
  List.emplace(listPath);
  struct Close {
    std::optional<IniFile>& list;
    ~Close() { list.reset(); }
  } close{List};

  if (List->ReadString("List", "PassWord", "") != Utf8ToCp936(PassWord)) {
    return RefusePackage("文件密码错误 " + file);
  }

  // The whole list is checked before the first file is written, so a package that is
  // refused leaves the folder as it was.
  FileCount = List->ReadInteger("List", "FileCount", 0);
  // Every listed file takes more than one byte of the list; a larger count is no list.
  if (FileCount > l) {
    throw EPackageError("数据包 " + file + " 的文件数 FileCount=" + std::to_string(FileCount) +
                        " 无效");
  }
  struct Entry {
    fs::path target;
    size_t offset;
    size_t size;
  };
  std::vector<Entry> entries;
  size_t pos = 0;
  for (std::int32_t i = 1; i <= FileCount; ++i) {
    const std::string section = std::to_string(i);
    const std::string name = Cp936ToUtf8(List->ReadString(section, "FileName", ""));
    if (name.empty()) continue;
    if (!IsBareName(name)) {
      return RefusePackage("数据包中的文件名 " + name + " 含有目录，拒绝解压 " + file);
    }
    // What the folder cannot take fails here, before any file is written: a name too
    // long for the file system, or one that a folder there holds already.
    fs::path target = Folder / fs::path(name);
    std::errc unwritable{};
    if (name.size() > NAME_MAX) {
      unwritable = std::errc::filename_too_long;
    } else if (fs::is_directory(fs::symlink_status(target, ec))) {
      unwritable = std::errc::is_a_directory;
    }
    if (unwritable != std::errc{}) {
      throw EPackageError("无法写入文件 " + target.string() + "：" + std::make_error_code(unwritable).message());
    }
    const std::int32_t size = List->ReadInteger(section, "FileSize", 0);
    if (size < 0 || static_cast<size_t>(size) > dataEnd - pos) {
      throw EPackageError("数据包 " + file + " 中文件 " + name + " 的长度 " +
                          std::to_string(size) + " 超出数据范围");
    }
    entries.push_back({std::move(target), pos, static_cast<size_t>(size)});
    pos += static_cast<size_t>(size);
  }
  for (const Entry& e : entries) {
    WriteWholeFile(e.target, std::string_view(payload).substr(e.offset, e.size));
  }
  List.reset();
  fs::remove(listPath, ec);
  return true;
}

}  // namespace tagwright
