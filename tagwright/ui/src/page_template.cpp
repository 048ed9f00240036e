// The label page and template files: the page's views and lines saved as item records,
// and rebuilt from the records of an opened template.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tagwright/label_control.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

namespace fs = std::filesystem;

namespace tagwright {

namespace {

constexpr const char* kCodeType = "TCodeView";
constexpr const char* kTextType = "TTextView";
constexpr const char* kPicType = "TPicView";
constexpr const char* kLineType = "TLineImage";
constexpr const char* kPictureExtension = ".Bmp";

bool IsWindowsDeviceName(std::string_view stem) {
  const std::string lower = platform::text::AsciiLower(stem);
  for (std::string_view name : {"con", "prn", "aux", "nul"}) {
    if (lower == name) return true;
  }
  if (lower.rfind("com", 0) != 0 && lower.rfind("lpt", 0) != 0) return false;
  const std::string_view port = std::string_view(lower).substr(3);
  // COM0 to COM9 and COM with a superscript one, two or three; the same for LPT.
  return (port.size() == 1 && port[0] >= '0' && port[0] <= '9') || port == "\u00B9" ||
         port == "\u00B2" || port == "\u00B3";
}

// Whether ViewName + ".Bmp" names the same file on Windows and on Linux and travels in
// the package's code page 936 file list. Templates move between the two systems, so a
// name either of them refuses is refused here.
bool IsPortablePictureName(const std::string& name) {
  if (name.empty()) return false;
  // The package list drops blanks at the front of a name.
  if (static_cast<unsigned char>(name.front()) <= ' ') return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
  }
  // Windows takes CON.Bmp, NUL.x.Bmp, "aux .Bmp" for devices.
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (IsWindowsDeviceName(stem)) return false;
  return platform::text::Cp936ToUtf8(platform::text::Utf8ToCp936(name)) == name;
}

// Pixels of a template's millimetres on this page. Qt keeps widget geometry well inside
// 24 bits; a value beyond that is no position on any page.
int ToPixels(double mm, double scale, const TViewRec& r) {
  constexpr std::int64_t kLimit = 16777215;
  std::int64_t px = 0;
  try {
    px = platform::text::RoundHalfEven(mm * scale);
  } catch (const std::range_error&) {
    px = kLimit + 1;
  }
  if (px < -kLimit || px > kLimit) {
    throw std::range_error("标签项目 " + r.Name + " 的位置超出页面范围");
  }
  return static_cast<int>(px);
}

// The view's picture stretched over a bitmap of the view's size, as a Windows bitmap.
void SavePicture(const TPicView& view, const fs::path& path) {
  QImage bitmap(view.width(), view.height(), QImage::Format_RGB32);
  bitmap.fill(Qt::white);
  if (!view.PicBmp.isNull()) {
    QPainter painter(&bitmap);
    painter.drawImage(bitmap.rect(), view.PicBmp);
  }
  // Encoded in memory and written as a new file: a hard link or a read-only file of that
  // name that the folder's clearing kept is replaced, never written through.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (bitmap.isNull() || !buffer.open(QIODevice::WriteOnly) || !bitmap.save(&buffer, "BMP") ||
      platform::files::WriteNewFile(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())))) {
    throw std::runtime_error("无法写入图片文件 " + path.string());
  }
}

}  // namespace

void TMyPage::SaveTemplate(const fs::path& fileName) {
  // Refused before anything is written.
  if (!(Scale > 0)) {
    throw std::runtime_error("标签页面的比例不大于 0，无法保存标签模板");
  }
  const std::vector<TViewBas*> views = Views();
  for (const TViewBas* view : views) {
    if (dynamic_cast<const TPicView*>(view) != nullptr && !IsPortablePictureName(view->ViewName)) {
      throw std::runtime_error("图片项目的名称“" + view->ViewName +
                               "”不能用作文件名，请重新命名后再保存");
    }
  }

  // Every record starts empty, so nothing of an earlier save carries over.
  TLabelRec rec = LabelRec;
  rec.ViewRec.assign(views.size() + Lines.size(), TViewRec{});
  rec.ControlCount = static_cast<std::int32_t>(rec.ViewRec.size());

  const fs::path folder = LabelTempFolder();
  PrepareFolder(folder);

  for (size_t i = 0; i < views.size(); ++i) {
    const TViewBas* view = views[i];
    TViewRec& r = rec.ViewRec[i];
    r.Name = view->ViewName;
    r.Topmm = view->y() / Scale;
    r.Leftmm = view->x() / Scale;
    r.Rightmm = (view->x() + view->width()) / Scale;
    r.Bottommm = (view->y() + view->height()) / Scale;
    if (const auto* code = dynamic_cast<const TCodeView*>(view)) {
      r.ViewType = kCodeType;
      r.FontSize = code->FontSize;
      r.BarWidth = code->BarWidth;
      r.HaveCode = code->HaveCode;
    } else if (const auto* text = dynamic_cast<const TTextView*>(view)) {
      r.ViewType = kTextType;
      r.FontSize = text->FontSize;
      r.Value = text->Text();
    } else if (const auto* pic = dynamic_cast<const TPicView*>(view)) {
      r.ViewType = kPicType;
      r.PicFile = view->ViewName + kPictureExtension;
      // Two pictures of one name write one file: the later view wins.
      SavePicture(*pic, folder / r.PicFile);
    }
  }
  for (size_t j = 0; j < Lines.size(); ++j) {
    TViewRec& r = rec.ViewRec[views.size() + j];
    QPoint p0, p1;
    Lines[j]->GetPoint(0, p0);
    Lines[j]->GetPoint(1, p1);
    r.Topmm = p0.y() / Scale;
    r.Leftmm = p0.x() / Scale;
    r.Rightmm = p1.x() / Scale;
    r.Bottommm = p1.y() / Scale;
    r.ViewType = kLineType;
  }

  WriteLabelFile(folder / kLabelFileName, rec);
  SavePackage(folder, fileName);
  LabelRec = std::move(rec);
}

bool TMyPage::SavePackage(const fs::path& folder, const fs::path& fileName) {
  // The earlier file stays until the new package is complete: the package is written
  // beside it and put in its place, so a failed save loses nothing.
  TMyZip zip;
  zip.BuildPackage(folder, fileName, kPackagePassword);
  return true;
}

void TMyPage::LoadViews(const TLabelRec& rec) {
  LabelRec = rec;
  FitToParent();
  const fs::path pictures = PrintLabelFolder();
  for (const TViewRec& r : LabelRec.ViewRec) {
    if (r.ViewType == kCodeType || r.ViewType == kTextType || r.ViewType == kPicType) {
      const int top = ToPixels(r.Topmm, Scale, r);
      const int left = ToPixels(r.Leftmm, Scale, r);
      // From the millimetre differences, not from two rounded edges.
      const int width = ToPixels(r.Rightmm - r.Leftmm, Scale, r);
      const int height = ToPixels(r.Bottommm - r.Topmm, Scale, r);
      std::unique_ptr<TViewBas> made;
      if (r.ViewType == kCodeType) {
        auto code = std::make_unique<TCodeView>(this);
        code->BarWidth = r.BarWidth;
        code->FontSize = r.FontSize;
        code->HaveCode = r.HaveCode;
        made = std::move(code);
      } else if (r.ViewType == kTextType) {
        auto text = std::make_unique<TTextView>(this);
        text->SetText(r.Value);
        text->FontSize = r.FontSize;
        made = std::move(text);
      } else {
        made = std::make_unique<TPicView>(this);
      }
      TViewBas* view = made.release();  // the page owns it from here
      view->ViewNo = static_cast<std::int32_t>(Views().size());
      view->ViewName = r.Name;
      view->setGeometry(left, top, width, height);
      view->show();
      // A picture record without a file name names no picture: the view stays empty,
      // as for any name without a picture extension.
      if (auto* pic = dynamic_cast<TPicView*>(view); pic != nullptr && !r.PicFile.empty()) {
        // Only a plain file name: a template cannot make the page read outside the
        // folder it was extracted into.
        const fs::path file(r.PicFile);
        if (file.has_parent_path() || file == "." || file == ".." ||
            r.PicFile.find('\\') != std::string::npos) {
          throw std::runtime_error("图片项目 " + r.Name + " 的图片文件名“" + r.PicFile +
                                   "”无效");
        }
        pic->LoadPicture(pictures / file);
      }
    } else if (r.ViewType == kLineType) {
      auto line = std::make_unique<TLineImage>(this);
      line->SetPoint(0, QPoint(ToPixels(r.Leftmm, Scale, r), ToPixels(r.Topmm, Scale, r)));
      line->SetPoint(1, QPoint(ToPixels(r.Rightmm, Scale, r), ToPixels(r.Bottommm, Scale, r)));
      Lines.push_back(std::move(line));
    }
  }
  CurLine = nullptr;
  update();
}

}  // namespace tagwright
