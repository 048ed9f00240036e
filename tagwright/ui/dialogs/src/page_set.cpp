#include "tagwright/page_set.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>

#include "platform/text.h"

namespace tagwright {

using platform::text::RoundHalfEven;

std::optional<PreviewLayout> LayOutPreview(const TLabelRec& rec, int imageWidth) {
  if (rec.PageWidth <= 0) return std::nullopt;
  PreviewLayout l;
  const double a = static_cast<double>(imageWidth) / rec.PageWidth;
  l.Scale = a;
  l.ImageHeight = RoundHalfEven((rec.LHeightmm * a + 1) * 2 + rec.PageGap * a);
  // Whole millimetres first, as integers; only the scaled values are rounded.
  const std::int64_t cell = 2 * static_cast<std::int64_t>(rec.LRSpace) + rec.LWidthmm;
  for (std::int64_t r = 0; r < 2; ++r) {
    for (std::int64_t i = 0; i < rec.LCount; ++i) {
      PreviewCell c;
      c.Left = RoundHalfEven(a * static_cast<double>(cell * i + rec.LRSpace));
      c.Right = RoundHalfEven(a * static_cast<double>(cell * i + rec.LRSpace + rec.LWidthmm));
      c.Top = RoundHalfEven(a * static_cast<double>((static_cast<std::int64_t>(rec.LHeightmm) +
                                                     rec.PageGap) * r));
      c.Bottom = c.Top + RoundHalfEven(a * rec.LHeightmm);
      l.Cells.push_back(c);
    }
  }
  return l;
}

TImage::TImage(QWidget* parent) : QWidget(parent) {}

QImage& TImage::Canvas() {
  if (bitmap_.isNull()) {
    bitmap_ = QImage(size(), QImage::Format_RGB32);
    bitmap_.fill(Qt::white);
  }
  return bitmap_;
}

void TImage::paintEvent(QPaintEvent*) {
  if (bitmap_.isNull()) return;
  QPainter p(this);
  p.drawImage(0, 0, bitmap_);
}

namespace {

constexpr int kClientWidth = 690;
constexpr int kClientHeight = 398;
constexpr int kPanelWidth = 185;
constexpr int kImageWidth = 481;
constexpr int kImageHeight = 394;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int y) {
  auto* l = new QLabel(caption, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(12, y + 3, 82, 15);
  return l;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int y) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setGeometry(96, y, 50, 21);
  e->setReadOnly(true);
  return e;
}

TUpDown* MakeUpDown(QWidget* parent, const char* name, QLineEdit* edit, int min, int max,
                    int position) {
  auto* u = new TUpDown(parent, edit, min, max, position);
  u->setObjectName(QString::fromLatin1(name));
  return u;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int x, int y) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(x, y, 75, 25);
  b->setAutoDefault(false);
  return b;
}

// Keeps a far edge of a preview rectangle a little outside the bitmap, where it is not
// seen, so that huge settings draw what the bitmap can show.
int Near(std::int64_t v, int extent) {
  constexpr std::int64_t kMargin = 16;
  return static_cast<int>(std::clamp<std::int64_t>(v, -kMargin, extent + kMargin));
}

}  // namespace

TFmPageSet::TFmPageSet(QWidget* owner)
    : TDialogForm(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FmPageSet"));
  setWindowTitle(QStringLiteral("纸张设置"));
  setFixedSize(kClientWidth, kClientHeight);

  ScPage = new QScrollArea(this);
  ScPage->setObjectName(QStringLiteral("ScPage"));
  ScPage->setGeometry(0, 0, kClientWidth - kPanelWidth, kClientHeight);
  ScPage->setBackgroundRole(QPalette::Button);
  ScPage->setWidgetResizable(false);
  ScPage->setFocusPolicy(Qt::NoFocus);
  ScPage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ImgPage = new TImage(nullptr);
  ImgPage->setObjectName(QStringLiteral("ImgPage"));
  ImgPage->setFixedSize(kImageWidth, kImageHeight);
  ScPage->setWidget(ImgPage);

  Panel2 = new QFrame(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setGeometry(kClientWidth - kPanelWidth, 0, kPanelWidth, kClientHeight);
  Panel2->installEventFilter(this);

  // The six values, top to bottom, in their tab order.
  int y = 20;
  constexpr int kRow = 36;
  Label4 = MakeLabel(Panel2, "Label4", QStringLiteral("标签纸宽mm"), y);
  Edit1 = MakeEdit(Panel2, "Edit1", y);
  UdPage = MakeUpDown(Panel2, "UdPage", Edit1, 26, 110, 110);
  y += kRow;
  Label3 = MakeLabel(Panel2, "Label3", QStringLiteral("每行标签"), y);
  ELCount = MakeEdit(Panel2, "ELCount", y);
  UdLCount = MakeUpDown(Panel2, "UdLCount", ELCount, 1, 3, 3);
  y += kRow;
  Label1 = MakeLabel(Panel2, "Label1", QStringLiteral("标签宽mm"), y);
  EWidth = MakeEdit(Panel2, "EWidth", y);
  UdWidth = MakeUpDown(Panel2, "UdWidth", EWidth, 10, 100, 32);
  y += kRow;
  Label2 = MakeLabel(Panel2, "Label2", QStringLiteral("标签高mm"), y);
  EHeight = MakeEdit(Panel2, "EHeight", y);
  UdHeight = MakeUpDown(Panel2, "UdHeight", EHeight, 10, 100, 25);
  y += kRow;
  Label5 = MakeLabel(Panel2, "Label5", QStringLiteral("纵向间隔mm"), y);
  EGAP = MakeEdit(Panel2, "EGAP", y);
  UdGap = MakeUpDown(Panel2, "UdGap", EGAP, 0, 4, 3);
  y += kRow;
  Label6 = MakeLabel(Panel2, "Label6", QStringLiteral("左右空mm"), y);
  Edit2 = MakeEdit(Panel2, "Edit2", y);
  UdLRSpace = MakeUpDown(Panel2, "UdLRSpace", Edit2, 0, 4, 1);

  CbShape = new QCheckBox(QStringLiteral("园  角"), Panel2);
  CbShape->setObjectName(QStringLiteral("CbShape"));
  CbShape->setGeometry(12, 244, 120, 20);
  CbDirection = new QCheckBox(QStringLiteral("倒像输出"), Panel2);
  CbDirection->setObjectName(QStringLiteral("CbDirection"));
  CbDirection->setGeometry(12, 272, 120, 20);

  Button1 = MakeButton(Panel2, "Button1", QStringLiteral("确认"), 12, 340);
  Button2 = MakeButton(Panel2, "Button2", QStringLiteral("取消"), 98, 340);

  auto* keys = new TNumberKeyFilter(this);
  for (QLineEdit* e : {Edit1, ELCount, EWidth, EHeight, EGAP, Edit2}) keys->Attach(e);

  QWidget* order[] = {Edit1, ELCount, EWidth, EHeight, EGAP, Edit2,
                      CbShape, CbDirection, Button1, Button2};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(Button1, &QPushButton::clicked, this, &TFmPageSet::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFmPageSet::Button2Click);
  for (TUpDown* u : {UdWidth, UdHeight, UdGap, UdLRSpace})
    connect(u, &TUpDown::clicked, this, &TFmPageSet::UdWidthClick);
  for (TUpDown* u : {UdPage, UdLCount}) connect(u, &TUpDown::clicked, this, &TFmPageSet::UdPageClick);
  connect(CbShape, &QCheckBox::clicked, this, &TFmPageSet::CbShapeClick);

  FormCreate();
}

void TFmPageSet::FormCreate() {
  OK = false;
  if (Rec.PDotMM == 0) Rec.PDotMM = 12;
}

void TFmPageSet::LoadRec(TLabelRec rec) {
  Rec = std::move(rec);
  UdPage->SetPosition(Rec.PageWidth);
  UdLCount->SetPosition(Rec.LCount);
  UdWidth->SetPosition(Rec.LWidthmm);
  UdHeight->SetPosition(Rec.LHeightmm);
  UdGap->SetPosition(Rec.PageGap);
  UdLRSpace->SetPosition(Rec.LRSpace);
  CbDirection->setChecked(Rec.Direction == "T");
  // A check box set to another state counts as a click on it.
  const bool round = Rec.LShape == 0;
  if (CbShape->isChecked() != round) {
    CbShape->setChecked(round);
    CbShapeClick();
  }
}

void TFmPageSet::Button1Click() {
  OK = true;
  RefreshPreview();
  accept();
}

void TFmPageSet::Button2Click() { reject(); }

void TFmPageSet::UdWidthClick() { RefreshPreview(); }

void TFmPageSet::UdPageClick() {
  // The widest label that fits the roll; a count of 0 (from a template) has none.
  const int count = UdLCount->Position();
  if (count == 0) return;
  UdWidth->SetMax(static_cast<int>(static_cast<double>(UdPage->Position()) / count));
}

void TFmPageSet::CbShapeClick() { RefreshPreview(); }

void TFmPageSet::Panel2Click() { RefreshPreview(); }

bool TFmPageSet::eventFilter(QObject* watched, QEvent* event) {
  // A click on the panel itself, not on a label or a control on it.
  if (watched == Panel2 &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
    auto* m = static_cast<QMouseEvent*>(event);
    const QPoint pos = m->position().toPoint();
    const bool free = m->button() == Qt::LeftButton && Panel2->rect().contains(pos) &&
                      Panel2->childAt(pos) == nullptr;
    if (event->type() == QEvent::MouseButtonPress) {
      panelPressed_ = free;
    } else {
      const bool click = panelPressed_ && free;
      panelPressed_ = false;
      if (click) Panel2Click();
    }
  }
  return TDialogForm::eventFilter(watched, event);
}

void TFmPageSet::RefreshPreview() {
  QImage& bmp = ImgPage->Canvas();
  QPainter p(&bmp);
  p.fillRect(QRect(QPoint(0, 0), ImgPage->size()) & bmp.rect(), Qt::white);

  Rec.PageWidth = UdPage->Position();
  Rec.LWidthmm = UdWidth->Position();
  Rec.LHeightmm = UdHeight->Position();
  Rec.LCount = UdLCount->Position();
  Rec.LRSpace = UdLRSpace->Position();
  Rec.PageGap = UdGap->Position();

  const std::optional<PreviewLayout> layout = LayOutPreview(Rec, ImgPage->width());
  if (layout)
    ImgPage->setFixedHeight(
        static_cast<int>(std::clamp<std::int64_t>(layout->ImageHeight, 0, QWIDGETSIZE_MAX)));

  // Outlines as the Windows canvas draws them: right and bottom edges exclusive.
  p.setPen(QPen(Qt::black, 0));
  p.setBrush(Qt::white);
  p.drawRect(0, 0, bmp.width() - 1, bmp.height() - 1);

  Rec.Direction.assign(1, CbDirection->isChecked() ? 'T' : 'F');
  const bool round = CbShape->isChecked();
  Rec.LShape = round ? 0 : 1;
  if (layout) {
    for (const PreviewCell& c : layout->Cells) {
      const int left = Near(c.Left, bmp.width());
      const int right = Near(c.Right, bmp.width());
      const int top = Near(c.Top, bmp.height());
      const int bottom = Near(c.Bottom, bmp.height());
      const QRect r(left, top, right - left - 1, bottom - top - 1);
      if (round)
        p.drawRoundedRect(r, 5, 5);
      else
        p.drawRect(r);
    }
  }
  p.end();
  ImgPage->update();
}

}  // namespace tagwright
