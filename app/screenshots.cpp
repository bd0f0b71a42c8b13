// zuv_app_screenshots PORT DIR: runs the example application on the
// display it is given and saves two pictures into DIR: the main window
// after a connection test on PORT (main-window.png), and the debug window
// in the middle of "programiraj artikle" (debug-window.png). For
// scripts/screenshots.sh, which gives it an X server of its own.
#include <cstdio>
#include <memory>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/dialogs.h"
#include "app/event_dispatch.h"
#include "app/startup.h"
#include "diagnostics/log_sink.h"

namespace {

// The request during which the debug window is taken, once the reception
// time shows; at the start of the next request if it never does.
constexpr int kPictureRequest = 30;

bool Save(QWidget& window, const QString& path) {
  const bool saved = window.grab().save(path);
  std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
  return saved;
}

// Passes the traffic log on to the debug window and takes its picture once,
// in the middle of an exchange, with the traffic logged so far.
class PictureSink : public diag::LogSink {
 public:
  PictureSink(diag::TfrmDebug& window, QString path) : window_(window), path_(std::move(path)) {}

  void AppendLine(const std::string& text) override {
    if (text.find("==> send") != std::string::npos) ++requests_;
    window_.AppendLine(text);
    if (requests_ > kPictureRequest) Take();
  }
  void SetTimeText(const std::string& text) override {
    window_.SetTimeText(text);
    timeShows_ = text != "time: 0ms";
  }
  void SetIterationText(const std::string& text) override {
    window_.SetIterationText(text);
    if (requests_ == kPictureRequest && timeShows_) Take();
  }
  bool Saved() const { return saved_; }

 private:
  void Take() {
    if (taken_) return;
    taken_ = true;
    saved_ = Save(window_, path_);
  }

  diag::TfrmDebug& window_;
  QString path_;
  int requests_ = 0;
  bool timeShows_ = false;
  bool taken_ = false;
  bool saved_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zuv_app_screenshots PORT DIR\n");
    return 2;
  }
  app::TApplication application(argc, argv);
  const QString port = QString::fromLocal8Bit(argv[1]);
  const QDir dir(QString::fromLocal8Bit(argv[2]));
  auto windows = app::CreateApplicationWindows();
  app::TfrmExample& main = *windows->frmExample;
  diag::TfrmDebug& debug = *windows->frmDebug;
  PictureSink sink(debug, dir.filePath(QStringLiteral("debug-window.png")));
  bool mainSaved = false;

  // Each step once the window system has shown the previous one.
  QTimer::singleShot(800, &main, [&] {
    main.ComboBox1->setCurrentIndex(main.ComboBox1->findText(port));
    main.Button1->click();
    QTimer::singleShot(500, &main, [&] {
      mainSaved = Save(main, dir.filePath(QStringLiteral("main-window.png")));
      main.Button6->click();
      QTimer::singleShot(500, &main, [&] {
        diag::SetLogSink(&sink);
        main.Button10->click();
        diag::SetLogSink(&debug);
        main.close();
      });
    });
  });
  const int code = app::RunApplication(application, *windows);
  return code == 0 && mainSaved && sink.Saved() ? 0 : 1;
}
