// Brings up the debug window at the bottom right of its screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace diag {

// Shows frmDebug and places it: right edge on the screen's right edge, bottom
// edge 50 pixels above the screen's bottom edge.
void DebugOpen();

// Top-left corner of a window of `window` size so placed on `screen`.
QPoint DebugWindowPlace(const QRect& screen, const QSize& window);

}  // namespace diag
