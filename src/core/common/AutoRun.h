#pragma once

#include <QString>

#include "platform/AutoStart.h"

namespace tvx {

// The start-up list entry of this program is named "Kestrane"; its command is the
// program's executable path.
void SetAutoRun(AutoStartList& list, const QString& executablePath, bool enabled);
bool IsAutoRunSet(AutoStartList& list, const QString& executablePath);

// The three start-up list helpers under the two routines above.
void RegWriteString(AutoStartList& list, const QString& name, const QString& value);
void RegRemoveValue(AutoStartList& list, const QString& name);
QString RegReadString(AutoStartList& list, const QString& name);

}  // namespace tvx
