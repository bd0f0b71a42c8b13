// The time window: reads the device clock from a window other than the
// main one.
#pragma once

#include <QDialog>

class QPushButton;

namespace app {

class TForm1 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  QPushButton* Button1;

 private:
  void Button1Click();
};

// The instance made at start-up; never shown.
extern TForm1* Form1;

}  // namespace app
