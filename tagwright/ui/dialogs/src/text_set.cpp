#include "tagwright/text_set.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/text.h"

namespace tagwright {

TFmTextSet::TFmTextSet(QWidget* owner, const std::string& text, std::int32_t fontSize)
    : TDialogForm(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FmTextSet"));
  setWindowTitle(QString());
  setFixedSize(212, 96);

  Label2 = new QLabel(QStringLiteral("显示文本"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(10, 12, 56, 15);
  EText = new QLineEdit(QStringLiteral("输入要显示的文本"), this);
  EText->setObjectName(QStringLiteral("EText"));
  EText->setGeometry(68, 9, 134, 21);
  Label1 = new QLabel(QStringLiteral("字符大小"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(10, 40, 56, 15);
  EFontSize = new QLineEdit(QStringLiteral("4"), this);
  EFontSize->setObjectName(QStringLiteral("EFontSize"));
  EFontSize->setGeometry(68, 37, 134, 21);
  Button1 = new QPushButton(QStringLiteral("确定"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(26, 66, 75, 25);
  Button2 = new QPushButton(QStringLiteral("取消"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(112, 66, 75, 25);
  for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);

  setTabOrder(EText, EFontSize);
  setTabOrder(EFontSize, Button1);
  setTabOrder(Button1, Button2);

  EText->installEventFilter(this);
  (new TNumberKeyFilter(this))->Attach(EFontSize);
  connect(Button1, &QPushButton::clicked, this, &TFmTextSet::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFmTextSet::Button2Click);

  OK = false;
  EText->setText(QString::fromStdString(text));
  EFontSize->setText(QString::number(fontSize));
  Text = text;
}

bool TFmTextSet::eventFilter(QObject* watched, QEvent* event) {
  // Esc typed in the text closes the dialog.
  if (watched == EText && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    reject();
    return true;
  }
  return TDialogForm::eventFilter(watched, event);
}

void TFmTextSet::Button1Click() {
  const std::string text = EText->text().toStdString();
  const std::string_view trimmed = platform::text::Trim(text);
  if (trimmed.empty()) return Refuse("没有输入要显示的文本");
  const std::optional<std::int32_t> size =
      platform::text::StrToInt(EFontSize->text().toStdString());
  if (!size) return Refuse("字符大小错误");
  FontSize = *size;
  if (FontSize > 64 || FontSize < 2) return Refuse("字符大小为2~64");
  OK = true;
  Text = std::string(trimmed);
  accept();
}

void TFmTextSet::Button2Click() { reject(); }

}  // namespace tagwright
