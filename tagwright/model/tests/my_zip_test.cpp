#include "tagwright/my_zip.h"

#include <sys/resource.h>
#include <zlib.h>

#include <cstdlib>
#include <cctype>
#include <sstream>

#include "model_fixture.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tagwright/gdata.h"
#include "tagwright/label_print_rec.h"

namespace tagwright::testing {
namespace {

using platform::text::Cp936ToUtf8;

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

std::uint32_t LastLe32(std::string_view s) {
  std::uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<unsigned char>(s[s.size() - 4 + i])} << (8 * i);
  return v;
}

// The zlib stream at the start of `in`, decompressed; `consumed` tells where it ended.
std::string Inflate(std::string_view in, size_t& consumed) {
  z_stream zs{};
  EXPECT_EQ(inflateInit(&zs), Z_OK);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  std::string out;
  char buf[4096];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc == Z_OK);
  EXPECT_EQ(rc, Z_STREAM_END);
  consumed = in.size() - zs.avail_in;
  inflateEnd(&zs);
  return out;
}

std::string Compress(std::string_view payload) {
  uLongf n = compressBound(payload.size());
  std::string out(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &n,
                      reinterpret_cast<const Bytef*>(payload.data()), payload.size(), 6),
            Z_OK);
  out.resize(n);
  return out;
}

// A package made by hand: file data, then the list scrambled and its length.
std::string PayloadOf(const std::string& data, const std::string& list) {
  return data + TMyZip().ScrambleStream(list) + Le32(static_cast<std::uint32_t>(list.size()));
}
std::string PackageOf(const std::string& payload) {
  return Compress(payload) + Le32(static_cast<std::uint32_t>(payload.size()));
}

class Package : public ModelTest {
 protected:
  fs::path Pkg() const { return root_ / "t.Lab"; }
  fs::path Out() const { return PrintLabelFolder(); }

  // The messages of the log's lines, each checked for its "yyyy-MM-dd HH:mm:ss " prefix.
  std::vector<std::string> LogMessages() {
    std::vector<std::string> messages;
    const std::string log = Get(prog_ / kTranErrLogName);
    const std::string form = "0000-00-00 00:00:00 ";
    size_t pos = 0;
    while (pos < log.size()) {
      const size_t end = log.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "unterminated log line";
      if (end == std::string::npos) break;
      const std::string line = log.substr(pos, end - pos);
      bool formed = line.size() >= form.size();
      for (size_t i = 0; formed && i < form.size(); ++i) {
        formed = form[i] == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                : line[i] == form[i];
      }
      EXPECT_TRUE(formed) << line;
      if (formed) messages.push_back(Cp936ToUtf8(line.substr(form.size())));
      pos = end + 2;
    }
    return messages;
  }

  // Builds the sample template folder: the INI file, a picture with a Chinese name,
  // names that differ only in case, an empty file and a sub-folder that is not packed.
  fs::path SampleFolder() {
    const fs::path dir = LabelTempFolder();
    fs::create_directories(dir / "sub");
    Put(dir / "Label", Bytes(1234, 1));
    Put(dir / "图片.Bmp", Bytes(5000, 2));
    Put(dir / "b.bmp", Bytes(10, 3));
    Put(dir / "a.bmp", Bytes(20, 4));
    Put(dir / "A.bmp", Bytes(30, 5));
    Put(dir / "empty", "");
    Put(dir / "sub" / "inner", "not packed");
    return dir;
  }

  int RunPeer(const std::string& args) {
    const std::string cmd = std::string("'") + TAGWRIGHT_PYTHON3 + "' '" + TAGWRIGHT_PACKAGE_PEER +
                            "' " + args + " > '" + (root_ / "peer.out").string() + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    peerOutput_ = Get(root_ / "peer.out");
    return rc;
  }

  std::string peerOutput_;
};

TEST_F(Package, LayoutAndSizes) {
  const fs::path dir = LabelTempFolder();
  fs::create_directories(dir);
  const std::string label = Bytes(1234, 1), picture = Bytes(5000, 2);
  Put(dir / "Label", label);
  Put(dir / "图片.Bmp", picture);
  // Links to a file elsewhere at the names the build writes lead nowhere.
  const fs::path outside = root_ / "outside";
  Put(outside, "untouched");
  for (const fs::path& name : {prog_ / kPackListFile, root_ / "t.Lab.part~", Pkg()}) {
    fs::create_hard_link(outside, name);
  }

  TMyZip().BuildPackage(dir, Pkg(), kPackagePassword);
  EXPECT_EQ(Get(outside), "untouched");

  const std::string pkg = Get(Pkg());
  ASSERT_GT(pkg.size(), 4u);
  const std::uint32_t s = LastLe32(pkg);
  size_t consumed = 0;
  const std::string payload = Inflate(std::string_view(pkg).substr(0, pkg.size() - 4), consumed);
  EXPECT_EQ(consumed, pkg.size() - 4) << "the size follows the zlib stream directly";
  ASSERT_EQ(payload.size(), s);

  const std::string list =
      "[List]\r\nFileCount=2\r\nPassWord=wdx\r\n"
      "\r\n[1]\r\nFileName=Label\r\nFileSize=1234\r\n"
      "\r\n[2]\r\nFileName=\xCD\xBC\xC6\xAC.Bmp\r\nFileSize=5000\r\n";
  const std::uint32_t l = LastLe32(payload);
  EXPECT_EQ(l, list.size());
  EXPECT_EQ(s, 1234 + 5000 + l + 4);
  EXPECT_EQ(payload.substr(0, 1234), label);
  EXPECT_EQ(payload.substr(1234, 5000), picture);
  EXPECT_EQ(TMyZip().ScrambleStream(payload.substr(6234, l)), list);

  EXPECT_FALSE(fs::exists(prog_ / kPackListFile));
  EXPECT_FALSE(fs::exists(root_ / "t.Lab.part~"));

  // The folder's text with or without its trailing separator packs the same bytes.
  TMyZip().BuildPackage(dir.string() + "/", root_ / "again.Lab", kPackagePassword);
  EXPECT_EQ(Get(root_ / "again.Lab"), pkg);
}

TEST_F(Package, ExtractsWhatWasPacked) {
  const fs::path dir = SampleFolder();
  TMyZip().BuildPackage(dir, Pkg(), kPackagePassword);

  // The extraction folder is missing; its parent exists.
  ASSERT_FALSE(fs::exists(Out()));
  ASSERT_TRUE(TMyZip().ExtractPackage(Pkg(), Out(), kPackagePassword));
  for (const char* name : {"Label", "图片.Bmp", "b.bmp", "a.bmp", "A.bmp", "empty"}) {
    EXPECT_EQ(Get(Out() / name), Get(dir / name)) << name;
  }
  EXPECT_FALSE(fs::exists(Out() / "sub"));
  EXPECT_FALSE(fs::exists(prog_ / kExtractListFile));
  EXPECT_FALSE(fs::exists(prog_ / kTranErrLogName));
  size_t consumed = 0;
  const std::string pkg = Get(Pkg());
  EXPECT_EQ(Get(prog_ / kPayloadFile), Inflate(std::string_view(pkg).substr(0, pkg.size() - 4), consumed));

  // Listed names are replaced, other files stay.
  Put(Out() / "Label", "stale");
  Put(Out() / "other", "kept");
  ASSERT_TRUE(TMyZip().ExtractPackage(Pkg(), Out(), kPackagePassword));
  EXPECT_EQ(Get(Out() / "Label"), Get(dir / "Label"));
  EXPECT_EQ(Get(Out() / "other"), "kept");

  // Files are listed by name without regard to case, ties by bytes.
  const std::string payload = Get(prog_ / kPayloadFile);
  const std::uint32_t l = LastLe32(payload);
  Put(root_ / "list", TMyZip().ScrambleStream(payload.substr(payload.size() - 4 - l, l)));
  platform::profile::IniFile list(root_ / "list");
  std::vector<std::string> names;
  for (int i = 1; i <= list.ReadInteger("List", "FileCount", 0); ++i) {
    names.push_back(Cp936ToUtf8(list.ReadString(std::to_string(i), "FileName", "")));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A.bmp", "a.bmp", "b.bmp", "empty", "Label", "图片.Bmp"}));
}

TEST_F(Package, ExtractionFollowsTheList) {
  // An empty file takes no bytes, a section without a name is passed over, keys are
  // found in any case, and whatever stands at a name the extraction writes (a symbolic
  // or hard link to a file elsewhere, a read-only file) is replaced, never written
  // through.
  const std::string list =
      "[List]\nPassWord=wdx\nFileCount=5\n"
      "[1]\nFileName=zero\nFileSize=0\n"
      "[2]\nFileSize=99\n"
      "[3]\nFileName=\xCC\xF5\xC2\xEB.txt\nFileSize=3\n"
      "[4]\nfilesize=3\nFILENAME=b\n"
      "[5]\nFileName=c\nFileSize=2\n";
  Put(Pkg(), PackageOf(PayloadOf("AAABBBCC", list)));
  fs::create_directory(Out());
  const fs::path outside = root_ / "outside";
  Put(outside, "untouched");
  fs::create_symlink(outside, Out() / "b");
  fs::create_hard_link(outside, Out() / "条码.txt");
  fs::create_hard_link(outside, prog_ / kPayloadFile);
  fs::create_hard_link(outside, prog_ / kExtractListFile);
  Put(Out() / "c", "read-only");
  fs::permissions(Out() / "c", fs::perms::owner_read);

  ASSERT_TRUE(TMyZip().ExtractPackage(Pkg(), Out(), "wdx"));
  EXPECT_EQ(Get(Out() / "zero"), "");
  EXPECT_TRUE(fs::exists(Out() / "zero"));
  EXPECT_EQ(Get(Out() / "条码.txt"), "AAA");
  EXPECT_EQ(Get(Out() / "b"), "BBB");
  EXPECT_EQ(Get(Out() / "c"), "CC");
  EXPECT_FALSE(fs::is_symlink(Out() / "b"));
  EXPECT_EQ(Get(outside), "untouched");
  EXPECT_EQ(fs::hard_link_count(outside), 1u);
}

TEST_F(Package, RefusedPackagesAreLoggedAndWriteNothing) {
  const std::string list = "[List]\r\nFileCount=1\r\nPassWord=wdx\r\n[1]\r\nFileName=Label\r\nFileSize=5\r\n";
  const std::string payload = PayloadOf("hello", list);
  const std::string good = PackageOf(payload);
  const std::string stream = good.substr(0, good.size() - 4);
  const auto size = static_cast<std::uint32_t>(payload.size());
  const std::string file = Pkg().string();
  const std::string incomplete = "文件不完整或错误的数据包 " + file;
  auto withName = [&](const std::string& name) {
    return PackageOf(PayloadOf("okevil", "[List]\nPassWord=wdx\nFileCount=2\n[1]\nFileName=ok\nFileSize=2\n"
                                         "[2]\nFileName=" + name + "\nFileSize=4\n"));
  };
  auto unsafe = [&](const std::string& name) {
    return "数据包中的文件名 " + name + " 含有目录，拒绝解压 " + file;
  };

  struct Case {
    const char* what;
    std::string package;
    std::string password;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"password differing in case", good, "WDX", "文件密码错误 " + file},
      {"3-byte file", "\x78\x9C\x01", "wdx", incomplete},
      {"compressed data cut short", stream.substr(0, stream.size() / 2) + Le32(size), "wdx", incomplete},
      {"checksum missing", stream.substr(0, stream.size() - 4) + Le32(size), "wdx", incomplete},
      {"size beyond what the data can hold", stream + Le32(0x7FFFFFFF), "wdx", incomplete},
      {"negative size", stream + Le32(0xFFFFFFFF), "wdx", incomplete},
      {"stream ends before the size", stream + Le32(size + 10), "wdx", incomplete},
      {"stream goes on past the size", stream + Le32(size - 1), "wdx", incomplete},
      {"backslash", withName("..\\evil"), "wdx", unsafe("..\\evil")},
      {"slash", withName("../evil"), "wdx", unsafe("../evil")},
      {"sub-folder", withName("sub/evil"), "wdx", unsafe("sub/evil")},
      {"drive", withName("C:evil"), "wdx", unsafe("C:evil")},
      {"parent", withName(".."), "wdx", unsafe("..")},
  };
  fs::create_directory(Out());
  size_t logged = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(Pkg(), c.package);
    EXPECT_FALSE(TMyZip().ExtractPackage(Pkg(), Out(), c.password));
    const std::vector<std::string> messages = LogMessages();
    ASSERT_EQ(messages.size(), ++logged);
    EXPECT_EQ(messages.back(), c.message);
    EXPECT_TRUE(fs::is_empty(Out()));
    EXPECT_FALSE(fs::exists(root_ / "evil"));
    EXPECT_FALSE(fs::exists(prog_ / "evil"));
  }
  // The refused password leaves the unscrambled list behind.
  Put(Pkg(), good);
  EXPECT_FALSE(TMyZip().ExtractPackage(Pkg(), Out(), "WDX"));
  EXPECT_EQ(Get(prog_ / kExtractListFile), list);
}

TEST_F(Package, ADeclaredSizeCostsOnlyWhatTheStreamBearsOut) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds more address space than the limit leaves";
#else
  // 2.2 MB stored without compression: compressed data enough for a declared size of
  // 2^31-1 bytes to pass the ratio check, in a stream that ends after 2.2 MB.
  const std::string data(2'200'000, 'x');
  uLongf n = compressBound(data.size());
  std::string stream(n, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(stream.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
                      data.size(), Z_NO_COMPRESSION),
            Z_OK);
  stream.resize(n);
  Put(Pkg(), stream + Le32(0x7FFFFFFF));
  fs::create_directory(Out());

  // Refused, in a process that cannot have more than 256 MiB of address space.
  EXPECT_EXIT(
      {
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = rlim_t{256} << 20;
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
        bool extracted = true;
        try {
          extracted = TMyZip().ExtractPackage(Pkg(), Out(), kPackagePassword);
        } catch (...) {
          std::_Exit(2);
        }
        std::_Exit(extracted ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"文件不完整或错误的数据包 " + Pkg().string()});
  EXPECT_TRUE(fs::is_empty(Out()));
#endif
}

TEST_F(Package, BrokenPackagesRaiseAndLogNothing) {
  auto listed = [](const std::string& files, int count = 2) {
    return "[List]\nPassWord=wdx\nFileCount=" + std::to_string(count) + "\n" + files;
  };
  const std::string valid = PayloadOf("abc", listed("[1]\nFileName=a\nFileSize=3\n", 1));
  std::string badChecksum = PackageOf(valid);
  badChecksum[badChecksum.size() - 5] ^= 1;

  struct Case {
    const char* what;
    std::string package;
    std::string error;  // part of the message
  };
  const std::vector<Case> cases = {
      {"not a zlib stream", std::string(40, 'x') + Le32(17), "不是有效的压缩数据"},
      {"checksum wrong", badChecksum, "不是有效的压缩数据"},
      {"payload shorter than its list length", PackageOf("abc"), "文件列表超出数据范围"},
      {"list length beyond the payload", PackageOf("abc" + Le32(4)), "文件列表超出数据范围"},
      {"negative list length", PackageOf("abcdefgh" + Le32(0xFFFFFFFE)), "文件列表超出数据范围"},
      {"file sizes beyond the file data",
       PackageOf(PayloadOf("abcdef", listed("[1]\nFileName=a\nFileSize=3\n[2]\nFileName=b\nFileSize=4\n"))),
       "文件 b 的长度 4 超出数据范围"},
      {"negative file size",
       PackageOf(PayloadOf("abc", listed("[1]\nFileName=a\nFileSize=3\n[2]\nFileName=b\nFileSize=-1\n"))),
       "文件 b 的长度 -1 超出数据范围"},
      {"file count no list can hold", PackageOf(PayloadOf("", listed("", 2000000000))),
       "FileCount=2000000000"},
      // Refused before the first file is written, not after it.
      {"a name too long for the file system",
       PackageOf(PayloadOf("abcdef", listed("[1]\nFileName=a\nFileSize=3\n[2]\nFileName=" +
                                            std::string(256, 'n') + "\nFileSize=3\n"))),
       "无法写入文件"},
  };
  fs::create_directory(Out());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(Pkg(), c.package);
    try {
      TMyZip().ExtractPackage(Pkg(), Out(), "wdx");
      ADD_FAILURE() << "accepted";
    } catch (const EPackageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(Out()));
    EXPECT_FALSE(fs::exists(prog_ / kTranErrLogName));
  }

  // A listed name that a folder holds there.
  fs::create_directory(Out() / "b");
  Put(Pkg(), PackageOf(PayloadOf("abcdef", listed("[1]\nFileName=a\nFileSize=3\n[2]\nFileName=b\nFileSize=3\n"))));
  EXPECT_THROW(TMyZip().ExtractPackage(Pkg(), Out(), "wdx"), EPackageError);
  EXPECT_FALSE(fs::exists(Out() / "a"));
  fs::remove(Out() / "b");

  EXPECT_THROW(TMyZip().ExtractPackage(root_ / "missing.Lab", Out(), "wdx"), EPackageError);
  EXPECT_THROW(TMyZip().ExtractPackage(root_, Out(), "wdx"), EPackageError);
  const fs::path noParent = root_ / "no" / "parent";
  try {
    TMyZip().ExtractPackage(Pkg(), noParent, "wdx");
    ADD_FAILURE() << "a folder without a parent was created";
  } catch (const EPackageError& e) {
    EXPECT_EQ(std::string(e.what()), "创建目录 " + noParent.string() + " 失败");
  }
  EXPECT_FALSE(fs::exists(prog_ / kTranErrLogName));
}

TEST_F(Package, BuildingNothingOrFailingLeavesNoPackage) {
  fs::create_directories(root_ / "empty" / "sub");
  TMyZip().BuildPackage(root_ / "empty", Pkg(), kPackagePassword);
  TMyZip().BuildPackage(root_ / "missing", Pkg(), kPackagePassword);
  EXPECT_FALSE(fs::exists(Pkg()));
  EXPECT_FALSE(fs::exists(prog_ / kPackListFile));

  // A name that code page 936 cannot hold would come back as another name.
  const fs::path dir = root_ / "dir";
  fs::create_directory(dir);
  Put(dir / "Label", "x");
  Put(dir / "\xF0\x9F\x98\x80.Bmp", "y");
  Put(Pkg(), "earlier package");
  EXPECT_THROW(TMyZip().BuildPackage(dir, Pkg(), kPackagePassword), EPackageError);
  EXPECT_EQ(Get(Pkg()), "earlier package");
  EXPECT_FALSE(fs::exists(prog_ / kPackListFile));

  // A target that cannot be replaced keeps what it was, and no part of a package stays.
  fs::remove(dir / "\xF0\x9F\x98\x80.Bmp");
  fs::create_directories(root_ / "target.Lab" / "inside");
  EXPECT_THROW(TMyZip().BuildPackage(dir, root_ / "target.Lab", kPackagePassword), EPackageError);
  EXPECT_TRUE(fs::is_directory(root_ / "target.Lab" / "inside"));
  EXPECT_FALSE(fs::exists(root_ / "target.Lab.part~"));
}

TEST_F(Package, ScramblePositions) {
  const TMyZip zip;
  const std::string zeros(10003, '\0');
  const std::string s = zip.ScrambleStream(zeros);
  struct Case {
    size_t pos;
    char want;
  } cases[] = {{0, 0}, {1, 'h'}, {11, 'k'}, {12, 0}, {24, 0}, {10000, 'l'}, {10001, 0}, {10002, 'h'}};
  for (const Case& c : cases) EXPECT_EQ(s[c.pos], c.want) << "position " << c.pos;
  const std::string text = Bytes(25000, 9);
  EXPECT_EQ(zip.ScrambleStream(zip.ScrambleStream(text)), text);
}

TEST_F(Package, DeflateLevels) {
  const std::string source = Bytes(20000, 7);
  struct Case {
    int level;
    unsigned char flags;  // second header byte: zlib's record of the level used
    bool stored;
  } cases[] = {{1, 0x01, true}, {2, 0x01, false}, {3, 0x9C, false},
               {4, 0xDA, false}, {0, 0x01, false}, {7, 0x01, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    std::ostringstream out;
    TMyZip::DeflateToFile(source, out, c.level);
    const std::string z = out.str();
    ASSERT_GT(z.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(z[1]), c.flags);
    EXPECT_EQ(z.size() > source.size(), c.stored);
    EXPECT_EQ(LastLe32(z), source.size());
    size_t consumed = 0;
    EXPECT_EQ(Inflate(std::string_view(z).substr(0, z.size() - 4), consumed), source);
  }
}

TEST_F(Package, IndependentReaderAndWriter) {
  const fs::path dir = SampleFolder();
  TMyZip().BuildPackage(dir, Pkg(), kPackagePassword);
  const std::string args = "'" + Pkg().string() + "' wdx '" + dir.string() + "'";
  EXPECT_EQ(RunPeer("check " + args), 0) << peerOutput_;
  EXPECT_NE(RunPeer("check '" + Pkg().string() + "' WDX '" + dir.string() + "'"), 0);

  const fs::path theirs = root_ / "theirs.Lab";
  ASSERT_EQ(RunPeer("build '" + dir.string() + "' '" + theirs.string() + "' wdx"), 0) << peerOutput_;
  ASSERT_TRUE(TMyZip().ExtractPackage(theirs, Out(), kPackagePassword));
  for (const char* name : {"Label", "图片.Bmp", "b.bmp", "a.bmp", "A.bmp", "empty"}) {
    EXPECT_EQ(Get(Out() / name), Get(dir / name)) << name;
  }
  EXPECT_FALSE(TMyZip().ExtractPackage(theirs, Out(), "wd"));
}

using ErrorLog = Package;

TEST_F(ErrorLog, AppendsUpToTheLimitThenStartsAnew) {
  WriteTranErrLog("文件密码错误 a.Lab");
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"文件密码错误 a.Lab"});
  const std::string line = Get(prog_ / kTranErrLogName);
  EXPECT_EQ(line.size(), 20 + platform::text::Utf8ToCp936("文件密码错误 a.Lab").size() + 2);

  const fs::path log = prog_ / kTranErrLogName;
  const std::string full(kTranErrLogLimit - 2, 'x');
  Put(log, full + "\r\n");
  WriteTranErrLog("next");
  EXPECT_EQ(fs::file_size(log), kTranErrLogLimit + 20 + 4 + 2);
  EXPECT_EQ(Get(log).substr(0, kTranErrLogLimit), full + "\r\n");

  Put(log, std::string(kTranErrLogLimit - 1, 'x') + "\r\n");
  WriteTranErrLog("anew");
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"anew"});
}

}  // namespace
}  // namespace tagwright::testing
