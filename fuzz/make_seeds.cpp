// Writes the seed corpus of the fuzz targets: template packages made by TMyZip, template
// files made by WriteLabelFile, profile files and Codemill inputs. Run by hand when the
// formats change (fuzz_make_seeds <fuzz/corpus>); the corpus is committed, and a run
// of the fuzzers never adds to it.
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "codemill.h"
#include "fuzz_support.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::text::Utf8ToCp936;
using tagwright::TLabelRec;
using tagwright::TViewRec;

TViewRec Item(const char* type, double top, double left, double right, double bottom,
              const char* name, const char* value) {
  TViewRec v;
  v.ViewType = type;
  v.Topmm = top;
  v.Leftmm = left;
  v.Rightmm = right;
  v.Bottommm = bottom;
  v.Name = name;
  v.Value = value;
  v.FontSize = 9;
  v.BarWidth = 2;
  v.HaveCode = true;
  return v;
}

TLabelRec SpineLabel() {
  TLabelRec rec;
  rec.PageWidth = 100;
  rec.PageGap = 2;
  rec.LRSpace = 3;
  rec.LWidthmm = 48;
  rec.LHeightmm = 30;
  rec.LCount = 2;
  rec.LShape = 0;
  rec.Direction = "F";
  rec.PDotMM = 8;
  rec.ViewRec.push_back(Item("TCodeView", 2, 3, 45, 14, "条码", "1000100000017"));
  rec.ViewRec.push_back(Item("TTextView", 16, 3, 45, 21.5, "书名", "图书馆藏书"));
  TViewRec pic = Item("TPicView", 22, 3, 12, 29, "馆标", "");
  pic.PicFile = "logo.bmp";
  rec.ViewRec.push_back(pic);
  rec.ViewRec.push_back(Item("TLineImage", 15, 0, 48, 15, "", ""));
  return rec;
}

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  fuzz::PutFile(path, bytes);
  std::printf("%s (%zu bytes)\n", path.string().c_str(), bytes.size());
}

// A package from the files of a folder, as the designer saves a template.
void Package(const fs::path& work, const fs::path& out, const std::vector<std::pair<std::string, std::string>>& files,
             const std::string& password) {
  const fs::path folder = work / "template";
  fs::remove_all(folder);
  fs::create_directories(folder);
  for (const auto& [name, bytes] : files) fuzz::PutFile(folder / fs::path(name), bytes);
  const fs::path pkg = work / "package.Lab";
  tagwright::TMyZip().BuildPackage(folder, pkg, password);
  Put(out, fuzz::GetFile(pkg));
}

// A package put together by hand: payload files, then the list as given.
void HandPackage(const fs::path& out, const std::string& files, const std::string& list) {
  tagwright::TMyZip zip;
  std::string payload = files + zip.ScrambleStream(list);
  fuzz::PutUint32(payload, static_cast<std::uint32_t>(list.size()));
  std::ostringstream pkg;
  tagwright::TMyZip::DeflateToFile(payload, pkg, 3);
  Put(out, pkg.str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path corpus = argv[1];
  const fs::path work = fuzz::ScratchFolder();
  fs::create_directories(work / "prog");
  platform::module::OverrideProgramFolderForTesting(work / "prog");

  // --- template files
  const fs::path labels = corpus / "label_file";
  tagwright::WriteLabelFile(work / "Label", SpineLabel());
  const std::string spine = fuzz::GetFile(work / "Label");
  Put(labels / "spine_label", spine);
  tagwright::WriteLabelFile(work / "Label", TLabelRec{});
  Put(labels / "empty_page", fuzz::GetFile(work / "Label"));
  Put(labels / "hand_written",
      "; edited by hand: LF ends, quotes, blanks, keys in other case\n"
      "[labelrec]\nPAGEWIDTH = 80\nLWidthmm=\"40\"\nLHeightmm=25\nControlCount=2\n"
      "Direction='T'\nPDotMM=12\n\n[ViewRec0]\nViewType=TTextView\nTopmm=1.25\n"
      "Leftmm=.5\nRightmm=3E1\nBottommm=-0\nValue=\"" + Utf8ToCp936("索书号") + "\"\n"
      "HaveCode=0\n[ViewRec1]\nViewType=TCodeView\nFontSize=+10\nBarWidth=x\n");
  Put(labels / "bad_count", "[LabelRec]\r\nControlCount=-1\r\n");

  // --- packages
  const fs::path packages = corpus / "extract_package";
  const std::string logo = "BM\x3e\0\0\0\0\0\0\0\x3e\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0"
                           "\x01\0\0\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                           "\0\0\xff\xff\xff\0\x80\0\0\0"s;
  Package(work, packages / "spine_template", {{"Label", spine}, {"logo.bmp", logo}},
          tagwright::kPackagePassword);
  Package(work, packages / "chinese_name", {{"Label", spine}, {"馆标.bmp", logo}},
          tagwright::kPackagePassword);
  Package(work, packages / "other_password", {{"Label", spine}}, "secret");
  Package(work, packages / "empty_file", {{"Label", ""}}, tagwright::kPackagePassword);
  HandPackage(packages / "climbing_name", "abc",
              "[List]\r\nFileCount=1\r\nPassWord=wdx\r\n[1]\r\nFileName=..\\x\r\nFileSize=3\r\n");
  HandPackage(packages / "size_too_large", "abc",
              "[List]\r\nFileCount=2\r\nPassWord=wdx\r\n[1]\r\nFileName=a\r\nFileSize=2\r\n"
              "[2]\r\nFileName=b\r\nFileSize=2\r\n");

  // --- profile files
  const fs::path profiles = corpus / "profile";
  Put(profiles / "label", spine);
  Put(profiles / "package_list",
      "[List]\r\nFileCount=2\r\n\r\n[1]\r\nFileName=Label\r\nFileSize=612\r\n\r\n[2]\r\n"
      "FileName=" + Utf8ToCp936("馆标") + ".bmp\r\nFileSize=62\r\n\r\n[List]\r\nPassWord=wdx\r\n");
  Put(profiles / "settings",
      "[DataSet]\r\nServer Name=sqlite:library.db\r\nUser Name=sa\r\nPassWord=" +
          std::string(GetPassword("abc123")) + "\r\n[Cluster]\r\nInterval=120\r\n"
          "Rate=0.75\r\nEnabled=1\r\nNegative=-2147483648\r\nTooBig=2147483648\r\n");
  Put(profiles / "odd_lines",
      "key before any section=1\n[ spaced ]\n  a = ' quoted '  \n;comment=1\nb==2\n"
      "[unclosed\nc=\"\"\n[]\n=empty key\n[dup]\nk=1\n[DUP]\nk=2\nk=3\r\r\nlast=no end");

  // --- Codemill inputs: ISBN, text, password, card prefix and serial per line
  const fs::path codemill = corpus / "codemill";
  Put(codemill / "isbn13", "9787111213826\n9787302000006\n9787500012344\n");
  Put(codemill / "isbn10", "7111213823\n730200000X\n7020004563\n");
  Put(codemill / "card", std::string(SetReadCadeId("2024", 42)) + "\n2024\n42\n");
  Put(codemill / "card_long_serial", "0123\n12345678\n");
  Put(codemill / "gb2312_text", Utf8ToCp936("图书馆 Library 索书号") + "\n" +
                                    Utf8ToCp936("长江") + "\xB0");
  Put(codemill / "password", "abc123\n" + std::string(GetPassword("abc123")) + "\n \tpw \n");

  // --- the center's replies: the login reply's body, a batch reply's status and body
  const fs::path login = corpus / "login_reply";
  Put(login / "number", "\"OK4711\"");
  Put(login / "empty_number", "\"OK\"");
  Put(login / "cut_short", "\"OK");
  Put(login / "no_quote", "OK4711");
  Put(login / "chinese_number", "\"OK编号\"");
  Put(login / "refusal", "\"用户名或密码错误\"");
  Put(login / "outside_code_page", "\"OK\xF0\x9F\x93\x9A\xC3\xA9\"");
  const fs::path batch = corpus / "batch_reply";
  Put(batch / "acknowledged", "200\n\"OK\"");
  Put(batch / "line_end", "200\n\"OK\"\r\n");
  Put(batch / "redirect", "302\n\"OK\"");
  Put(batch / "error_status", "500\n\"OK\"");
  Put(batch / "lower_case", "200\n\"ok\"");
  Put(batch / "refusal", "200\n\"ERROR\"");
  return 0;
}
