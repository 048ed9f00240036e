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

  void FormCreate();
  // The test login with the three texts (UTF-8). Accepted: DynNum set and the dialog
  // tested (edits read-only, BLogion off, BSynchro on). Throws ESilentAbort when the
  // center cannot be reached.
  bool TestLogin(const std::string& url, const std::string& groupId, const std::string& checkCode);
  void BLogionClick();
  void BSynchroClick();
  void BCloseClick();

 private:
  TDs& Ds;
  TGroupThread* GroupThread;
};

}  // namespace marrowind
