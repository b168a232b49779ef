#pragma once
// Byte-exact file helpers for the window tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace mirava::testing {

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    qFatal("cannot write %s", qPrintable(path));
  }
  file.write(bytes);
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return QByteArray("<missing>");
  }
  return file.readAll();
}

inline QByteArray Utf8(const char* text) {
  return QByteArray(text);
}

inline const QByteArray kBom("\xEF\xBB\xBF");

}  // namespace mirava::testing
