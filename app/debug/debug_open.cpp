#include "app/debug/debug_open.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/debug/debug_window.h"

namespace diag {

namespace {
constexpr int kAboveBottom = 50;
}

QPoint DebugWindowPlace(const QRect& screen, const QSize& window) {
  return {screen.x() + screen.width() - window.width(),
          screen.y() + screen.height() - window.height() - kAboveBottom};
}

void DebugOpen() {
  if (!frmDebug) return;
  frmDebug->show();
  QScreen* screen = frmDebug->screen() ? frmDebug->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    // The frame, title bar included, once the window manager has added it.
    const QSize outer = frmDebug->frameGeometry().size().expandedTo(frmDebug->size());
    frmDebug->move(DebugWindowPlace(screen->geometry(), outer));
  }
  frmDebug->raise();
  frmDebug->activateWindow();
}

}  // namespace diag
