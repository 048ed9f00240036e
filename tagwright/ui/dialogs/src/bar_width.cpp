#include "tagwright/bar_width.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/text.h"

namespace tagwright {

TFmBarWidth::TFmBarWidth(QWidget* owner, std::int32_t barWidth, std::int32_t fontSize,
                         bool haveCode)
    : TDialogForm(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FmBarWidth"));
  setWindowTitle(QString());
  setFixedSize(221, 139);

  Label1 = new QLabel(QStringLiteral("宽度单位"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(16, 19, 60, 15);
  EWidth = new QLineEdit(QStringLiteral("4"), this);
  EWidth->setObjectName(QStringLiteral("EWidth"));
  EWidth->setGeometry(84, 16, 120, 21);
  CbHaveCode = new QCheckBox(QStringLiteral("输出码值"), this);
  CbHaveCode->setObjectName(QStringLiteral("CbHaveCode"));
  CbHaveCode->setLayoutDirection(Qt::RightToLeft);  // caption left of the box
  CbHaveCode->setGeometry(16, 48, 84, 20);
  CbHaveCode->setChecked(true);
  Label2 = new QLabel(QStringLiteral("字符大小"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(16, 80, 60, 15);
  Label2->hide();
  EFontSize = new QLineEdit(QStringLiteral("4"), this);
  EFontSize->setObjectName(QStringLiteral("EFontSize"));
  EFontSize->setGeometry(84, 77, 120, 21);
  EFontSize->hide();
  Button1 = new QPushButton(QStringLiteral("确定"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(24, 104, 75, 25);
  Button2 = new QPushButton(QStringLiteral("取消"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(120, 104, 75, 25);
  for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);

  setTabOrder(EWidth, CbHaveCode);
  setTabOrder(CbHaveCode, EFontSize);
  setTabOrder(EFontSize, Button1);
  setTabOrder(Button1, Button2);

  (new TNumberKeyFilter(this))->Attach(EWidth);
  connect(CbHaveCode, &QCheckBox::clicked, this, &TFmBarWidth::CbHaveCodeClick);
  connect(Button1, &QPushButton::clicked, this, &TFmBarWidth::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFmBarWidth::Button2Click);

  OK = false;
  EWidth->setText(QString::number(barWidth));
  EFontSize->setText(QString::number(fontSize));
  // A check box set to another state counts as a click on it.
  if (CbHaveCode->isChecked() != haveCode) {
    CbHaveCode->setChecked(haveCode);
    CbHaveCodeClick();
  }
  BarWidth = barWidth;
}

void TFmBarWidth::CbHaveCodeClick() { EFontSize->setEnabled(CbHaveCode->isChecked()); }

void TFmBarWidth::Button1Click() {
  using platform::text::StrToInt;
  const std::optional<std::int32_t> width = StrToInt(EWidth->text().toStdString());
  if (!width) return Refuse("宽度单位错误");
  BarWidth = *width;
  if (BarWidth > 10 || BarWidth < 1) return Refuse("宽度单位大小为1~10");
  // The size is checked even while its edit is hidden or disabled: it goes back as given.
  const std::optional<std::int32_t> size = StrToInt(EFontSize->text().toStdString());
  if (!size) return Refuse("字符大小错误");
  FontSize = *size;
  if (FontSize > 32 || FontSize < 2) return Refuse("字符大小为2~32");
  HaveCode = CbHaveCode->isChecked();
  OK = true;
  accept();
}

void TFmBarWidth::Button2Click() { reject(); }

}  // namespace tagwright
