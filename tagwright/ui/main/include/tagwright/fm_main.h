// The designer's main window: the label page in a scroll box, the palette of items, the
// printer choice and the five menu commands.
#pragma once

#include <QFileDialog>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMimeData;
class QScrollArea;

namespace tagwright {

class TMyPage;

// A Windows file-dialog filter "desc|*.x|desc2|*.y" as Qt writes it:
// "desc (*.x);;desc2 (*.y)".
QString QtFileFilter(std::string_view windowsFilter);

// One file dialog as the window asks for it.
struct FileDialogRequest {
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  QString filter;         // Qt form
  QString defaultSuffix;  // without the dot
  QFileDialog::Options options;
};
// Runs a file dialog: the chosen file (UTF-8), nothing when cancelled.
using FileDialogRunner =
    std::function<std::optional<std::string>(QWidget* owner, const FileDialogRequest&)>;

// What a palette drag carries: the palette item's object name under the page's MIME type.
QMimeData* PaletteMimeData(const QString& objectName);

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Tests answer the file dialogs; an empty function restores the real ones.
  static void SetFileDialogRunner(FileDialogRunner runner);
  // Tests receive the palette's drags in place of the windowing system (drag and drop
  // does not run without a display); an empty function restores the real drag.
  using DragStarter = std::function<void(QWidget* source, const QMimeData& data)>;
  static void SetDragStarter(DragStarter starter);

  // The handlers. The menu, the resolution box and the check box call them and show an
  // error that leaves one in the standard error box; called directly, they raise it.
  void FormCreate();
  void N1Click();  // 创建: a new page through the page setup dialog
  void N2Click();  // 打开: open a template
  void N3Click();  // 保存: save the page as a template
  void N5Click();  // 测试打印: two sample labels on the chosen printer
  void N4Click();  // 退出
  void CbDipChange();
  void CheckBox1Click();

  // The current page, or none.
  TMyPage* CurrentPage() const { return Page; }

  // The components, by their names.
  QScrollArea* ScrollBox1;
  QWidget* PageHost;  // ScrollBox1's area, the pages' parent
  QFrame* Panel1;
  QFrame* Panel2;
  QLabel* Label1;
  QComboBox* CbPrintChose;
  QLabel* Label3;
  QComboBox* CbDip;
  QLabel* Panel4;  // a panel with its caption, behind ImgCode
  QLabel* ImgCode;
  QLabel* ImgText;
  QLabel* Panel3;
  QLabel* ImgPic;
  QCheckBox* CheckBox1;
  QAction* N1;
  QAction* N2;
  QAction* N3;
  QAction* N5;
  QAction* N4;

  // Filters and default extension of the two dialogs, in the Windows form.
  static constexpr const char* kOpenFilter = "标签模板*.Lab|*.Lab";
  static constexpr const char* kSaveFilter = "标签模板|*.Lab";
  static constexpr const char* kDefaultExt = "Lab";

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildPalette();
  void BuildMenu();
  // A new page owned by the window, placed in the scroll box, not yet shown.
  TMyPage* NewPage();
  // page takes the place of the current page, which is freed.
  void UsePage(TMyPage* page);
  std::optional<std::string> RunFileDialog(const FileDialogRequest& request);
  void StartPaletteDrag(QWidget* source);

  TMyPage* Page = nullptr;
  QWidget* dragSource_ = nullptr;
  QPoint dragStart_;
};

}  // namespace tagwright
