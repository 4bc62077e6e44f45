#include "chat/RtfWriter.h"

#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <cmath>

namespace tvx {

namespace {

// One run of characters with the attributes RTF is told about.
struct RunStyle {
    int colourIndex = 0;  // 0: the reader's automatic colour
    int halfPoints = 18;
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

void AppendEscaped(QByteArray& out, const QString& text) {
    bool afterUnicode = false;
    for (const QChar ch : text) {
        const ushort code = ch.unicode();
        // Some readers take all text up to the next control word as the fallback of a \u
        // escape; an empty group ends the escape for them and means nothing to the others.
        if (afterUnicode && code < 0x80 && code >= 0x20)
            out += "{}";
        afterUnicode = false;
        if (code == '\\' || code == '{' || code == '}') {
            out += '\\';
            out += char(code);
        } else if (code == '\t') {
            out += "\\tab ";
        } else if (code == 0x2028) {
            out += "\\line ";
        } else if (code >= 0x20 && code < 0x7F) {
            out += char(code);
        } else if (code >= 0x80) {
            // \u takes a signed 16-bit number; "?" is what a reader without Unicode shows.
            out += "\\u";
            out += QByteArray::number(int(qint16(code)));
            out += '?';
            afterUnicode = true;
        }
        // Other control characters have no place in a transcript and are left out.
    }
}

}  // namespace

QByteArray DocumentToRtf(const QTextDocument* document, int start, int end) {
    const int length = document->characterCount() - 1;  // without the final paragraph mark
    if (end < 0 || end > length)
        end = length;
    if (start < 0)
        start = 0;

    const double defaultPoints =
        document->defaultFont().pointSizeF() > 0 ? document->defaultFont().pointSizeF() : 9;
    QList<QRgb> colours;
    QByteArray body;

    for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = qMax(start, fragment.position());
            const int to = qMin(end, fragment.position() + fragment.length());
            if (from >= to)
                continue;
            const QTextCharFormat format = fragment.charFormat();
            RunStyle style;
            if (format.foreground().style() != Qt::NoBrush) {
                const QRgb rgb = format.foreground().color().rgb() & 0xFFFFFF;
                int index = colours.indexOf(rgb);
                if (index < 0) {
                    colours.append(rgb);
                    index = colours.size() - 1;
                }
                style.colourIndex = index + 1;
            }
            const double points =
                format.fontPointSize() > 0 ? format.fontPointSize() : defaultPoints;
            style.halfPoints = qMax(1, int(std::lround(points * 2)));
            style.bold = format.fontWeight() > QFont::Medium;
            style.italic = format.fontItalic();
            style.underline = format.fontUnderline();

            body += "{\\cf" + QByteArray::number(style.colourIndex) + "\\fs" +
                    QByteArray::number(style.halfPoints);
            if (style.bold)
                body += "\\b";
            if (style.italic)
                body += "\\i";
            if (style.underline)
                body += "\\ul";
            body += ' ';
            AppendEscaped(body, fragment.text().mid(from - fragment.position(), to - from));
            body += '}';
        }
        // The paragraph mark stands after the block's last character.
        const int mark = block.position() + block.length() - 1;
        if (mark >= start && mark < end)
            body += "\\par\r\n";
    }

    QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fcharset134 SimSun;}}\r\n"
        "{\\colortbl ;";
    for (const QRgb rgb : colours) {
        rtf += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" +
               QByteArray::number(qGreen(rgb)) + "\\blue" + QByteArray::number(qBlue(rgb)) + ';';
    }
    // The document's own size first, so that empty lines keep their height.
    rtf += "}\r\n\\viewkind4\\uc1\\pard\\f0\\fs" +
           QByteArray::number(qMax(1, int(std::lround(defaultPoints * 2)))) + ' ';
    rtf += body;
    rtf += '}';
    return rtf;
}

}  // namespace tvx
