#include "web/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace tvx {

QrMatrix EncodeQr(const QByteArray& text) {
    QrMatrix result;
    if (text.isEmpty())
        return result;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0)
        return result;
    result.size = code->width;
    result.dark.resize(result.size * result.size);
    for (int i = 0; i < result.dark.size(); ++i)
        result.dark[i] = (code->data[i] & 1) != 0;
    return result;
}

QString QrHalfBlocks(const QrMatrix& code, int quiet, bool colours) {
    if (code.isEmpty())
        return {};
    const int side = code.size + 2 * quiet;
    // Light where the code is light or outside it; a terminal reads "light" as the block.
    const auto light = [&](int x, int y) {
        const int cx = x - quiet;
        const int cy = y - quiet;
        if (cx < 0 || cy < 0 || cx >= code.size || cy >= code.size)
            return true;
        return !code.IsDark(cx, cy);
    };
    QString text;
    for (int y = 0; y < side; y += 2) {
        if (colours)
            text += QStringLiteral("\x1b[97;40m");
        for (int x = 0; x < side; ++x) {
            const bool top = light(x, y);
            const bool bottom = y + 1 < side ? light(x, y + 1) : false;
            if (top && bottom)
                text += QChar(0x2588);  // █
            else if (top)
                text += QChar(0x2580);  // ▀
            else if (bottom)
                text += QChar(0x2584);  // ▄
            else
                text += QLatin1Char(' ');
        }
        if (colours)
            text += QStringLiteral("\x1b[0m");
        text += QLatin1Char('\n');
    }
    return text;
}

}  // namespace tvx
