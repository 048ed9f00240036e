// The cluster settings dialog: center address, station id and check code, tested with
// a login, stored in SystemRul; and the full resynchronisation.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace marrowind {

class TDs;
class TGroupThread;
class TOperation;

// The refill of the full resynchronisation: the journal emptied, then one insert row
// for every source record, kind by kind. The data module runs it as one transaction.
extern const char kRefillStatement[];

class TFmGroupSet : public QDialog {
 public:
  // Builds the form and runs FormCreate (settings read, silent test login).
  // `groupThread` is the worker the resynchronisation stops and resumes.
  TFmGroupSet(TDs& ds, TGroupThread* groupThread, QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* EGroupUrl;
  QLabel* Label2;
  QLineEdit* EGroupId;
  QLabel* Label3;
  QLineEdit* ECheckNum;
  QPushButton* BLogion;   // 集群测试
  QPushButton* BSynchro;  // 数据同步
  QPushButton* BClose;    // 返回

  // Fills the edits from the settings (each value whole, whatever the edit's length
  // limit: the limit binds typing only); the silent test login follows once the
  // dialog's event loop runs, so that it shows and repaints while the center answers.
  void FormCreate();
  // The test login with the three texts (UTF-8). Accepted: DynNum set and the dialog
  // tested (edits read-only, BLogion off, BSynchro on). Throws ESilentAbort when the
  // center cannot be reached or the login is abandoned (the dialog closed, the program
  // ending). The event loop keeps turning meanwhile.
  bool TestLogin(const std::string& url, const std::string& groupId, const std::string& checkCode);
  // While the opening's test or a button's request is under way, 集群测试 and 数据同步
  // are ignored.
  void BLogionClick();
  void BSynchroClick();
  void BCloseClick();

  // True until the opening's silent test login has run (or was found not due).
  bool Opening() const { return opening_; }

 protected:
  // Closing abandons a test login under way.
  void closeEvent(QCloseEvent* event) override;

 private:
  void OpeningTest();
  bool Busy() const;

  TDs& Ds;
  TGroupThread* GroupThread;
  bool opening_ = false;
  bool closed_ = false;
  // The test login under way, which closing the dialog abandons.
  TOperation* login_ = nullptr;
};

}  // namespace marrowind
