#include "tagwright/fm_main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDrag>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QStringList>

#include <exception>
#include <memory>
#include <utility>

#include "platform/module.h"
#include "platform/printer.h"
#include "platform/ui.h"
#include "tagwright/lab_print_tsc.h"
#include "tagwright/label_control.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/test_print.h"

namespace tagwright {

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

FileDialogRunner& DialogRunner() {
  static FileDialogRunner runner;
  return runner;
}

TForm1::DragStarter& TheDragStarter() {
  static TForm1::DragStarter starter;
  return starter;
}

// The window's handlers run from signals: an error that leaves one is shown in the
// standard error box here, so that no exception crosses Qt's signal delivery, and the
// program goes on.
template <class Handler>
auto Guarded(Handler handler) {
  return [handler] {
    try {
      handler();
    } catch (const std::exception& e) {
      platform::ui::Application::ShowException(e.what());
    } catch (...) {
      platform::ui::Application::ShowException("未知错误");
    }
  };
}

void MakeWhite(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, Qt::white);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

// A white palette item of 89 x 41 pixels with a raised one-pixel border and its caption.
QLabel* PaletteItem(QWidget* parent, const char* name, const char* caption, int top) {
  auto* item = new QLabel(Q(caption), parent);
  item->setObjectName(QString::fromLatin1(name));
  item->setGeometry(18, top, 89, 41);
  item->setFrameStyle(QFrame::Panel | QFrame::Raised);
  item->setLineWidth(1);
  item->setAlignment(Qt::AlignCenter);
  MakeWhite(item);
  return item;
}

// A picture filling a palette item inside its border; the sample picture comes from the
// program folder (without it the item's caption shows through).
QLabel* PaletteImage(QLabel* panel, const char* name, const char* picture) {
  auto* image = new QLabel(panel);
  image->setObjectName(QString::fromLatin1(name));
  image->setGeometry(panel->contentsRect());
  image->setScaledContents(true);
  const std::filesystem::path path = platform::module::ProgramFolder() / picture;
  const QPixmap pixmap(Q(path.string()));
  if (!pixmap.isNull()) image->setPixmap(pixmap);
  return image;
}

}  // namespace

QString QtFileFilter(std::string_view windowsFilter) {
  const QStringList parts = Q(windowsFilter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  return filters.join(QStringLiteral(";;"));
}

QMimeData* PaletteMimeData(const QString& objectName) {
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kPaletteMimeType), objectName.toUtf8());
  return data;
}

void TForm1::SetFileDialogRunner(FileDialogRunner runner) { DialogRunner() = std::move(runner); }

void TForm1::SetDragStarter(DragStarter starter) { TheDragStarter() = std::move(starter); }

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Q("标签模板编制工具"));
  QFont font(Q("宋体"));
  font.setPixelSize(13);
  setFont(font);

  auto* client = new QWidget(this);
  auto* layout = new QHBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ScrollBox1 = new QScrollArea(client);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  PageHost = new QWidget;
  PageHost->setObjectName(QStringLiteral("PageHost"));
  ScrollBox1->setWidget(PageHost);
  ScrollBox1->setWidgetResizable(true);
  Panel1 = new QFrame(client);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedWidth(126);
  Panel1->setFrameStyle(QFrame::NoFrame);
  layout->addWidget(ScrollBox1, 1);
  layout->addWidget(Panel1);
  setCentralWidget(client);

  BuildPalette();
  BuildMenu();

  // The design size, centred on the desktop; the program shows the window maximised.
  resize(733, 500);
  if (const QScreen* screen = QApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::BuildPalette() {
  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setGeometry(0, 0, 126, 153);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel2->setLineWidth(1);

  Label1 = new QLabel(Q("打印机"), Panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(8, 10, 110, 16);
  CbPrintChose = new QComboBox(Panel2);
  CbPrintChose->setObjectName(QStringLiteral("CbPrintChose"));
  CbPrintChose->setGeometry(8, 30, 110, 22);
  Label3 = new QLabel(Q("打印机分辨率"), Panel2);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(8, 70, 110, 16);
  Label3->hide();
  CbDip = new QComboBox(Panel2);
  CbDip->setObjectName(QStringLiteral("CbDip"));
  CbDip->setGeometry(8, 90, 110, 22);
  CbDip->addItems({QStringLiteral("300 Dpi"), QStringLiteral("200 Dpi")});
  CbDip->setCurrentIndex(0);
  CbDip->hide();
  // The user's choice only: the window sets the box itself after a new page or an open.
  connect(CbDip, &QComboBox::activated, this, Guarded([this] { CbDipChange(); }));

  Panel4 = PaletteItem(Panel1, "Panel4", "条码", 170);
  ImgCode = PaletteImage(Panel4, "ImgCode", "code.jpg");
  ImgText = PaletteItem(Panel1, "ImgText", "文本", 222);
  Panel3 = PaletteItem(Panel1, "Panel3", "图片", 274);
  ImgPic = PaletteImage(Panel3, "ImgPic", "photo.jpg");
  Panel3->hide();
  for (QWidget* item : {static_cast<QWidget*>(Panel4), static_cast<QWidget*>(ImgCode),
                        static_cast<QWidget*>(ImgText), static_cast<QWidget*>(Panel3),
                        static_cast<QWidget*>(ImgPic)}) {
    item->installEventFilter(this);
  }

  CheckBox1 = new QCheckBox(Q("画线"), Panel1);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(18, 326, 89, 20);
  CheckBox1->hide();
  connect(CheckBox1, &QCheckBox::clicked, this, Guarded([this] { CheckBox1Click(); }));
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  auto add = [this, bar](const char* name, const char* caption, void (TForm1::*handler)()) {
    QAction* action = bar->addAction(Q(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, Guarded([this, handler] { (this->*handler)(); }));
    return action;
  };
  N1 = add("N1", "创建", &TForm1::N1Click);
  N2 = add("N2", "打开", &TForm1::N2Click);
  N3 = add("N3", "保存", &TForm1::N3Click);
  N5 = add("N5", "测试打印", &TForm1::N5Click);
  N4 = add("N4", "退出", &TForm1::N4Click);
}

void TForm1::FormCreate() {
  CbPrintChose->clear();
  for (const std::string& name : platform::printer::InstalledPrinters()) {
    CbPrintChose->addItem(Q(name));
  }
  CbPrintChose->setCurrentIndex(-1);
}

TMyPage* TForm1::NewPage() {
  auto* page = new TMyPage(PageHost);
  // Shown once it takes the place of the current page.
  page->hide();
  return page;
}

void TForm1::UsePage(TMyPage* page) {
  delete Page;
  Page = page;
  Page->show();
}

void TForm1::N1Click() {
  std::unique_ptr<TMyPage> page(NewPage());
  if (!page->EditPageSetup('N')) return;  // the window keeps the page it had
  UsePage(page.release());
  Page->FitToParent();
  // A new page prints at 12 dots a millimetre.
  CbDip->setCurrentIndex(0);
}

void TForm1::N2Click() {
  const std::optional<std::string> file = RunFileDialog(
      {QFileDialog::AcceptOpen, QtFileFilter(kOpenFilter), Q(kDefaultExt), {}});
  if (!file) return;
  TPrintLabelTsc print;
  std::unique_ptr<TMyPage> page(NewPage());
  TLabelRec rec;
  print.LoadTemplate(std::filesystem::path(*file), rec);
  // A package that was refused (its reason is in TranErrLog.Log), or one without a
  // label size, gives no page to lay out: the window keeps the page it had.
  if (rec.LWidthmm <= 0 || rec.LHeightmm <= 0) {
    platform::ui::MessageBox(this, "错误", "无法读取标签模板 " + *file, platform::ui::Icon::Error);
    return;
  }
  UsePage(page.release());
  Page->LoadViews(rec);
  if (Page->LabelRec.PDotMM == 8) {
    CbDip->setCurrentIndex(1);
  } else if (Page->LabelRec.PDotMM == 12) {
    CbDip->setCurrentIndex(0);
  }
}

void TForm1::N3Click() {
  if (Page == nullptr) return;
  const std::optional<std::string> file =
      RunFileDialog({QFileDialog::AcceptSave, QtFileFilter(kSaveFilter), Q(kDefaultExt),
                     QFileDialog::DontConfirmOverwrite});
  if (!file) return;
  Page->SaveTemplate(std::filesystem::path(*file));
}

void TForm1::N5Click() {
  if (CbPrintChose->currentIndex() < 0 || Page == nullptr) return;
  const std::filesystem::path path = TestPrintPath();
  Page->SaveTemplate(path);
  PrintTestLabels(CbPrintChose->currentText().toStdString(), path);
}

void TForm1::N4Click() { close(); }

void TForm1::CbDipChange() {
  if (Page == nullptr) return;
  if (CbDip->currentIndex() == 0) {
    Page->LabelRec.PDotMM = 12;
  } else if (CbDip->currentIndex() == 1) {
    Page->LabelRec.PDotMM = 8;
  }
  // Text items size themselves by the resolution when they paint.
  Page->repaint();
}

void TForm1::CheckBox1Click() {
  if (Page == nullptr) return;
  Page->DrawLine = CheckBox1->isChecked();
}

std::optional<std::string> TForm1::RunFileDialog(const FileDialogRequest& request) {
  if (DialogRunner()) return DialogRunner()(this, request);
  QFileDialog dialog(this, QString(), QString(), request.filter);
  dialog.setAcceptMode(request.mode);
  dialog.setFileMode(request.mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                             : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(request.defaultSuffix);
  dialog.setOptions(request.options);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toStdString();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  auto* source = qobject_cast<QWidget*>(watched);
  if (source == nullptr) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        // Taken here: a press on a picture would otherwise go on to its panel.
        dragSource_ = source;
        dragStart_ = mouse->position().toPoint();
        return true;
      }
      break;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (dragSource_ == source && (mouse->buttons() & Qt::LeftButton) &&
          (mouse->position().toPoint() - dragStart_).manhattanLength() >=
              QApplication::startDragDistance()) {
        dragSource_ = nullptr;
        StartPaletteDrag(source);
        return true;
      }
      break;
    }
    case QEvent::MouseButtonRelease:
      dragSource_ = nullptr;
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::StartPaletteDrag(QWidget* source) {
  std::unique_ptr<QMimeData> mime(PaletteMimeData(source->objectName()));
  if (TheDragStarter()) {
    TheDragStarter()(source, *mime);
    return;
  }
  auto* drag = new QDrag(source);
  if (const auto* label = qobject_cast<QLabel*>(source); label != nullptr) {
    const QPixmap pixmap = label->pixmap();
    if (!pixmap.isNull()) drag->setPixmap(pixmap.scaled(label->size()));
  }
  drag->setMimeData(mime.release());
  drag->exec(Qt::CopyAction);
}

}  // namespace tagwright
