#pragma once
// Failure messages show Qt texts as text, not as their bytes.
#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
