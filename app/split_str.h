// Splits a text at every occurrence of a delimiter.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

// The parts between the occurrences of `Delimiter`, empty parts included;
// one part (the whole text) without an occurrence or with an empty
// delimiter. The text ends at its first NUL character.
QStringList SplitStr(const QString& Source, const QString& Delimiter);

}  // namespace app
