// The dialogs that the page and its views open: each is made for the call with the
// control as its owner, run modally and freed; its results count only when confirmed.
#include "tagwright/dialogs.h"

#include <QLineEdit>

#include "tagwright/label_control.h"

namespace tagwright {

bool TMyPage::EditPageSetup(char mode) {
  TFmPageSet dialog(this);
  if (mode == 'O') dialog.LoadRec(LabelRec);
  dialog.exec();
  if (!dialog.OK) return false;
  LabelRec = dialog.Rec;
  // Only the page is refitted; views and lines keep their pixel rectangles.
  FitToParent();
  return true;
}

void TViewBas::RenameView() {
  TFmName dialog(this);
  dialog.EName->setText(QString::fromStdString(ViewName));
  dialog.exec();
  // Taken exactly as typed, blanks included.
  if (dialog.OK) ViewName = dialog.EName->text().toStdString();
}

void TCodeView::EditBarcodeSettings() {
  TFmBarWidth dialog(this, BarWidth, FontSize, HaveCode);
  dialog.exec();
  if (!dialog.OK) return;
  // The sample picture stays as it is: nothing to repaint.
  BarWidth = dialog.BarWidth;
  FontSize = dialog.FontSize;
  HaveCode = dialog.HaveCode;
}

void TTextView::EditText() {
  TFmTextSet dialog(this, text_, FontSize);
  dialog.exec();
  if (!dialog.OK) return;
  text_ = dialog.Text;
  FontSize = dialog.FontSize;
  // The view takes the size of its new text at once.
  SizeToText();
  if (isVisible()) repaint();
}

}  // namespace tagwright
