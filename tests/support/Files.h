#pragma once

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

namespace tvx::test {

// Bytes of a file made for a test: a pattern that repeats only after a long stretch, so that a
// piece written at the wrong offset shows; another seed gives other bytes.
inline QByteArray Pattern(qint64 size, int seed = 0) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 7 + seed) & 0xFF);
    return bytes;
}

inline QByteArray RandomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

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
