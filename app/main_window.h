// The main window: port and speed, one button per printer command, and the
// log pane where every action writes its outcome.
#pragma once

#include <QMainWindow>

class QComboBox;
class QDateEdit;
class QPlainTextEdit;
class QPushButton;

namespace app {

class TfrmExample : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmExample(QWidget* parent = nullptr);

  // Appends one entry to the log pane (several lines when it holds breaks).
  void AddLine(const QString& text);

  QPlainTextEdit* Memo1;
  QComboBox* ComboBox1;
  QComboBox* ComboBox2;
  QDateEdit* DateTimePicker1;
  QDateEdit* DateTimePicker2;
  QPushButton* Button1;
  QPushButton* Button24;
  QPushButton* Button5;
  QPushButton* Button6;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button20;
  QPushButton* Button7;
  QPushButton* Button8;
  QPushButton* Button9;
  QPushButton* Button11;
  QPushButton* Button12;
  QPushButton* Button15;
  QPushButton* Button16;
  QPushButton* Button17;
  QPushButton* Button21;
  QPushButton* Button22;
  QPushButton* Button23;
  QPushButton* Button10;
  QPushButton* Button13;
  QPushButton* Button27;
  QPushButton* Button19;
  QPushButton* Button14;
  QPushButton* Button26;
  QPushButton* Button18;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPushButton* MakeButton(const char* name, const QString& caption, void (TfrmExample::*handler)());
  void CreateControls();
  QWidget* LayOutControls();
  void FillPortList();

  // Start-up and port (main_window.cpp)
  void FormShow();
  void Button1Click();
  void Button24Click();
  void Button5Click();
  void Button6Click();
  // One command each (single_actions.cpp)
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button20Click();
  void Button7Click();
  void Button8Click();
  void Button9Click();
  void Button11Click();
  void Button12Click();
  void Button15Click();
  void Button16Click();
  void Button17Click();
  void Button21Click();
  void Button22Click();
  void Button23Click();
  // Composite actions (composite_actions.cpp)
  void Button10Click();
  void Button13Click();
  void Button27Click();
  void Button19Click();
  void Button14Click();
  void Button26Click();
  void Button18Click();

  bool shown_ = false;
};

extern TfrmExample* frmExample;

// Line width of the sample receipts.
constexpr int PrintheadSize = 34;

}  // namespace app
