#pragma once
// Texts between the core (UTF-8, lines ended by "\r\n") and Qt widgets.

#include <QString>

#include <string>

namespace ostrel {

// UTF-8 text for a widget, every "\r\n" as one line break.
inline QString DisplayText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

inline std::string CoreText(const QString& text) { return text.toStdString(); }

}  // namespace ostrel
