#include "split_str.h"

namespace app {

QStringList SplitStr(const QString& Source, const QString& Delimiter) {
  QStringList parts;
  const qsizetype nul = Source.indexOf(QChar(0));
  const QString text = nul < 0 ? Source : Source.left(nul);
  qsizetype from = 0;
  if (!Delimiter.isEmpty()) {
    for (qsizetype at = text.indexOf(Delimiter, from); at >= 0;
         at = text.indexOf(Delimiter, from)) {
      parts.append(text.mid(from, at - from));
      from = at + Delimiter.size();
    }
  }
  parts.append(text.mid(from));
  return parts;
}

}  // namespace app
