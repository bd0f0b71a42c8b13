// Errors that escape a window action must not unwind through Qt's event
// dispatch. Every action runs through RunAction, which hands such an error
// to the application's one error handler; the program keeps running.
#pragma once

#include <functional>

#include <QString>

namespace diag {

// The title of the message boxes the application raises without a title of
// its own. The application sets no display name: Qt would append it to
// every window's title on the screen.
inline constexpr char kApplicationTitle[] = "ZUV Driver";

using ErrorHandler = std::function<void(const QString& message)>;

// Replaces the handler; an empty one restores the default, a critical
// message box.
void SetApplicationErrorHandler(ErrorHandler handler);
void HandleApplicationError(const QString& message);

// Runs `action`; an exception that escapes it goes to the handler.
void RunAction(const std::function<void()>& action);

}  // namespace diag
