// The database connection dialog: the four settings of DataSet.ini and a test
// connection built from them. Saved settings take effect at the next start.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "platform/db.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform::profile {
class IniFile;
}

namespace marrowind {

class TFmBookDataSet : public QDialog {
 public:
  // Builds the form and runs FormCreate (the file is read at once).
  explicit TFmBookDataSet(QWidget* parent = nullptr);
  ~TFmBookDataSet() override;

  QFrame* Panel1;
  QLabel* Label1;
  QLineEdit* EServerName;
  QLabel* Label2;
  QLineEdit* EDataBaseName;
  QLabel* Label3;
  QLineEdit* EUser;
  QLabel* Label4;
  QLineEdit* EPassword;
  QPushButton* BitBtn2;  // 测试链接
  QPushButton* BitBtn1;  // 确定
  QPushButton* BitBtn3;  // 取消
  // Opened by a successful test; closed when the dialog closes.
  platform::db::Connection Test;

  void FormCreate();
  // The password that the stored one gives is shown as text; the one that no password
  // gives (ten 0xDF bytes) as those ten characters. Left unchanged, the password keeps
  // its bytes for the test connection and the saving.
  void LoadSettings();
  // Writes the four keys in one go. Throws platform::profile::ProfileError when the
  // file cannot be written or a value cannot be held on one line.
  void SaveSettings();
  // The test connection, with a busy cursor; the event loop keeps turning while it
  // waits for a locked database. Ignored while one is under way; closing the dialog
  // abandons it.
  void BitBtn2Click();
  void BitBtn1Click();
  void BitBtn3Click();
  // Enter: the focus goes to the next tab stop, the key no further.
  void FormKeyPress();

 protected:
  // FormClose, for every way of closing.
  void closeEvent(QCloseEvent* event) override;

 private:
  // The plain password's bytes: as loaded while the edit shows them unchanged, else
  // the edit's text in code page 936.
  std::string PlainPassword() const;

  std::unique_ptr<platform::profile::IniFile> IniFile;
  bool SaveOnClose = false;
  std::string loadedPassword_;
  QString shownPassword_;
  bool testing_ = false;
  bool closeAfterTest_ = false;
};

}  // namespace marrowind
