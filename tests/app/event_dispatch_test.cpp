// The port's event thread hands its work to the UI thread through the Qt
// event loop.
#include <stdexcept>
#include <thread>

#include <QEventLoop>
#include <QTimer>

#include "app/event_dispatch.h"
#include "app_fixture.h"
#include "driver/comportzuv.h"

namespace apptest {
namespace {

TEST_F(AppTest, HandOversFromAnotherThreadRunOnTheUiThreadInTheEventLoop) {
  auto dispatcher = serial::DefaultOwnerDispatcher();
  ASSERT_NE(std::dynamic_pointer_cast<app::TQtOwnerDispatcher>(dispatcher), nullptr);
  int runs = 0;
  std::thread::id ranOn;
  std::thread eventThread([&] {
    dispatcher->Wake([&] {
      ++runs;
      ranOn = std::this_thread::get_id();
    });
  });
  eventThread.join();
  EXPECT_EQ(runs, 0);  // not inside Wake, and not before the loop runs
  ProcessEvents();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(AppTest, ErrorsOfHandOversGoToTheApplicationErrorHandler) {
  auto dispatcher = serial::DefaultOwnerDispatcher();
  ASSERT_NE(dispatcher, nullptr);
  std::thread eventThread([&] {
    dispatcher->Wake([] { throw std::runtime_error("handler failed"); });
    dispatcher->HandleException(std::make_exception_ptr(std::runtime_error("event thread")));
  });
  eventThread.join();
  EXPECT_TRUE(dialogs.applicationErrors.isEmpty());
  ProcessEvents();
  EXPECT_EQ(dialogs.applicationErrors, QStringList({"handler failed", "event thread"}));
}

// With the port open its event thread runs; the loop serves it and the
// exchanges go on undisturbed.
TEST_F(AppTest, AnOpenPortIsServedWhileTheLoopRuns) {
  ASSERT_TRUE(Connect());
  ASSERT_NE(zuv::comport, nullptr);
  for (int i = 0; i < 5; ++i) {
    ProcessEvents();
    Click("Button4");
  }
  EXPECT_EQ(Log().filter(QStringLiteral("* Citanje BI")).size(), 0);
  // The line has gone quiet; the loop runs a while, as the application's does.
  QEventLoop loop;
  QTimer::singleShot(100, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(zuv::comport->ProcessPendingEvents(), 0);  // nothing left for the owner
}

}  // namespace
}  // namespace apptest
