#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace tvx::test {

// The whole file, or "<missing>" when it cannot be read, so a comparison names the problem.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes the bytes as the whole file; false when it could not be written.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace tvx::test
