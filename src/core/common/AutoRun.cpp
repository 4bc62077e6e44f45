#include "common/AutoRun.h"

#include "common/Text.h"

namespace tvx {

namespace {
const QString kEntryName = QStringLiteral("Kestrane");
}

void RegWriteString(AutoStartList& list, const QString& name, const QString& value) {
    list.Write(name, value);
}

void RegRemoveValue(AutoStartList& list, const QString& name) {
    list.Remove(name);
}

QString RegReadString(AutoStartList& list, const QString& name) {
    return CutAtNul(list.Read(name));
}

void SetAutoRun(AutoStartList& list, const QString& executablePath, bool enabled) {
    if (enabled)
        RegWriteString(list, kEntryName, executablePath);
    else
        RegRemoveValue(list, kEntryName);
}

bool IsAutoRunSet(AutoStartList& list, const QString& executablePath) {
    return RegReadString(list, kEntryName) == executablePath;
}

}  // namespace tvx
