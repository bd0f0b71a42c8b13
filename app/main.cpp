// The example application: one window per printer command, a debug window
// for the traffic.
#include "app/startup.h"

int main(int argc, char** argv) {
  app::TApplication application(argc, argv);
  auto windows = app::CreateApplicationWindows();
  return app::RunApplication(application, *windows);
}
