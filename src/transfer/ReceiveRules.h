#pragma once

#include <QDate>
#include <QString>

namespace tvx {

// The offered name reduced to its last path component ("/" and "\" both separate); empty when
// nothing usable is left ("", "." or ".."), so that a file is never written outside its folder.
QString SafeOfferName(const QString& offeredName);

// "今天 08:04:09", "昨天 ...", "前天 ..." for the three most recent days; the time unchanged
// otherwise. The time is "yyyy-mm-dd hh:mm:ss".
QString FriendlyFileTime(const QString& modified, const QDate& today);

// The target itself when no file has that name, else name(1).ext, name(2).ext, ...
QString NumberedTargetPath(const QString& target);

// A fraction as a whole percentage, such as "45%".
QString PercentText(double fraction);

// True when the file's extension is in the ";"-separated list (case does not matter).
bool IsAutoOpenType(const QString& path, const QString& typeList);

}  // namespace tvx
