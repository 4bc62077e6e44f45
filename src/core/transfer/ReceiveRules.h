#pragma once

#include <QDate>
#include <QString>

namespace tvx {

// The offered name reduced to its last path component ("/" and "\" both separate); empty when
// nothing usable is left ("", "." or ".."), so that a file is never written outside its folder.
QString SafeOfferName(const QString& offeredName);

// The name a received file is saved under: the offered name (after SafeOfferName) with every
// character below U+0020 and U+007F turned into "_", so that no line break or tab ends up in
// a file name.
QString ReceivedFileName(const QString& safeName);

// The bytes the receiver adds to a target's name for its temporary file.
constexpr int kTempSuffixBytes = 4;  // ".tvx"

// The name shortened, where it has to be, so that it and its temporary name (name + ".tvx")
// fit in limitBytes bytes of the file system's encoding: whole characters go from the end of
// the base name and the extension stays. The same name always gives the same result, so a
// later offer resumes the shortened name's temporary file.
QString FitFileName(const QString& name, int limitBytes);

// The name with the marker (such as "(12)") before its extension, shortened the same way to fit
// in limitBytes bytes.
QString FitMarkedName(const QString& name, const QString& marker, int limitBytes);

// "今天 08:04:09", "昨天 ...", "前天 ..." for the three most recent days; the time unchanged
// otherwise. The time is "yyyy-mm-dd hh:mm:ss".
QString FriendlyFileTime(const QString& modified, const QDate& today);

// The target itself when no file has that name, else name(1).ext, name(2).ext, ..., each
// shortened to fit the folder's file system.
QString NumberedTargetPath(const QString& target);

// A fraction as a whole percentage, such as "45%".
QString PercentText(double fraction);

// True when the file's extension is in the ";"-separated list (case does not matter).
bool IsAutoOpenType(const QString& path, const QString& typeList);

}  // namespace tvx
