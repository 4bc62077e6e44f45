#pragma once

#include <QString>

namespace tvx {

// The 11-character style code of a chat text: colour (0x00BBGGRR) in upper-case hex padded to 6,
// then "1"/"0" for bold, italic and underline, then the point size cut to 2 characters.
QString FontStyleCode(quint32 colorBgr, bool bold, bool italic, bool underline, double pointSize);

}  // namespace tvx
