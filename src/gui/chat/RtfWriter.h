#pragma once

#include <QByteArray>

class QTextDocument;

namespace tvx {

// RTF text of the characters from start up to end of the document (the whole text when end is
// negative): a colour table, font sizes, bold, italic, underline and paragraph breaks, which is
// all a chat transcript holds. Characters outside ASCII are written as \uN? escapes, so the
// result is plain ASCII. It ends with the closing brace, without a line break.
QByteArray DocumentToRtf(const QTextDocument* document, int start = 0, int end = -1);

}  // namespace tvx
