#pragma once

#include <QString>

namespace tvx {

// The longest name a file in the folder may have, in bytes of the local 8-bit encoding as the
// file system stores it; the usual 255 when the system does not say.
int FileNameLimit(const QString& folder);

// How many bytes the file system spends on the name (UTF-8 here).
qsizetype FileNameBytes(const QString& name);

}  // namespace tvx
