// The titles as the window system shows them (_NET_WM_NAME), read back from
// the X server: Qt may add to a window's title on its way to the screen,
// which windowTitle() does not reveal. Runs on Qt's xcb platform under Xvfb.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "app/dialogs.h"
#include "app/startup.h"
#include "driver/comportzuv.h"

namespace {

template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_connection_t* Connection() {
  return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t Atom(const char* name) {
  const auto cookie = xcb_intern_atom(Connection(), 0, uint16_t(std::strlen(name)), name);
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(Connection(), cookie, nullptr),
                                          &std::free);
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// What a window manager puts in the title bar. Qt's requests and this one
// share the connection, so the server has applied every title set before.
std::string ScreenTitle(const QWidget& window) {
  const auto cookie = xcb_get_property(Connection(), 0, xcb_window_t(window.winId()),
                                       Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 0, 1024);
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(Connection(), cookie, nullptr),
                                           &std::free);
  if (!reply) return "<no _NET_WM_NAME>";
  return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                     size_t(xcb_get_property_value_length(reply.get())));
}

class WindowTitleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X server (xvfb-run)";
    static int argc = 1;
    static char name[] = "app_title_tests";
    static char* argv[] = {name, nullptr};
    // The application's own object: its constructor decides what Qt adds
    // to the titles. Kept to process exit: Qt supports one such object.
    static auto* application = [] {
      qputenv("QT_QPA_PLATFORM", "xcb");
      return new app::TApplication(argc, argv);
    }();
    (void)application;
  }

  // Opens a box through the application's dialogs and reads the title of
  // the modal window it shows, then closes it as the operator would.
  std::string TitleOfBox(const std::function<void(app::TDialogs&)>& open) {
    std::string title = "<no modal window>";
    QTimer::singleShot(0, [&title] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        title = ScreenTitle(*box);
        box->close();
      }
    });
    app::TQtDialogs dialogs;
    open(dialogs);
    return title;
  }
};

TEST_F(WindowTitleTest, TheWindowsShowExactlyTheirOwnTitles) {
  auto windows = app::CreateApplicationWindows();
  windows->frmExample->show();
  windows->frmDebug->show();
  windows->Form1->show();
  EXPECT_EQ(ScreenTitle(*windows->frmExample), "ZUV Driver Command Example 1");
  EXPECT_EQ(ScreenTitle(*windows->frmDebug), "ZUV Driver Debug");
  EXPECT_EQ(ScreenTitle(*windows->Form1), "Form1");
  windows.reset();
  zuv::ResetDriverState();
}

TEST_F(WindowTitleTest, DialogBoxesShowTheirOwnTitles) {
  const QString text = QStringLiteral("12:00");
  EXPECT_EQ(TitleOfBox([](app::TDialogs& d) {
              d.InputBox(nullptr, QStringLiteral("PRODAJA"), QStringLiteral("Uneti:"), {});
            }),
            "PRODAJA");
  EXPECT_EQ(TitleOfBox([&](app::TDialogs& d) { d.Confirm(nullptr, text); }), "Confirm");
  EXPECT_EQ(TitleOfBox([&](app::TDialogs& d) { d.ErrorBox(nullptr, text); }), "Error");
  // Boxes without a title of their own are named after the application.
  EXPECT_EQ(TitleOfBox([&](app::TDialogs& d) { d.Message(nullptr, text); }), "ZUV Driver");
  EXPECT_EQ(TitleOfBox([&](app::TDialogs& d) { d.ApplicationError(text); }), "ZUV Driver");
}

}  // namespace
