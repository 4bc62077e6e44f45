#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace tvx {

// A QR code's modules, row by row, without the quiet zone around it.
struct QrMatrix {
    int size = 0;  // modules per side; 0 when the text could not be encoded
    QVector<bool> dark;

    bool isEmpty() const { return size == 0; }
    bool IsDark(int x, int y) const { return dark[y * size + x]; }
};

// The text as a QR code (byte mode, error correction level M, the smallest version it fits).
QrMatrix EncodeQr(const QByteArray& text);

// The code drawn for a terminal with half blocks, two rows of modules per line: light modules
// (and a quiet zone of `quiet` modules around) are drawn, dark ones left blank, which reads
// right on a terminal with light text on a dark background. With `colours` every line is
// drawn white on black (ANSI), so that it reads right on a light terminal too. Lines end in
// "\n".
QString QrHalfBlocks(const QrMatrix& code, int quiet = 2, bool colours = false);

}  // namespace tvx
