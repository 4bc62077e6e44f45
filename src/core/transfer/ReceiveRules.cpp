#include "transfer/ReceiveRules.h"

#include <QFileInfo>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <cmath>

#include "common/Paths.h"
#include "platform/FileSystem.h"

namespace tvx {

QString SafeOfferName(const QString& offeredName) {
    QString name = offeredName;
    const int cut =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0)
        name = name.mid(cut + 1);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    // A NUL would cut the path short at the platform.
    if (name.contains(QChar(0)))
        return QString();
    return name;
}

QString ReceivedFileName(const QString& safeName) {
    QString name = safeName;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    }
    return name;
}

namespace {

// The longest start of text, in whole characters, that takes at most roomBytes bytes. A
// character is what the reader sees as one (a letter with its accents); when even the first
// is too long, whole code points, so that no UTF-8 sequence is ever cut.
QString CutToBytes(const QString& text, qsizetype roomBytes) {
    qsizetype used = 0;
    qsizetype end = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype next = graphemes.toNextBoundary(); next > 0 && next <= text.size();
         next = graphemes.toNextBoundary()) {
        used += FileNameBytes(text.mid(end, next - end));
        if (used > roomBytes)
            break;
        end = next;
    }
    if (end > 0)
        return text.left(end);
    used = 0;
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype width = text.at(at).isHighSurrogate() && at + 1 < text.size() &&
                                        text.at(at + 1).isLowSurrogate()
                                    ? 2
                                    : 1;
        used += FileNameBytes(text.mid(at, width));
        if (used > roomBytes)
            break;
        at += width;
        end = at;
    }
    return text.left(end);
}

}  // namespace

QString FitMarkedName(const QString& name, const QString& marker, int limitBytes) {
    QString extension = ExtensionOf(name);
    QString base = name.chopped(extension.size());
    if (FileNameBytes(base + marker + extension) <= limitBytes)
        return base + marker + extension;
    // An "extension" that takes half the room is no extension: the name is cut at its end.
    if (FileNameBytes(marker + extension) * 2 > limitBytes) {
        base = name;
        extension.clear();
    }
    const QString tail = marker + extension;
    QString fitted = CutToBytes(base, limitBytes - FileNameBytes(tail)) + tail;
    if (fitted.isEmpty() || fitted == QLatin1String(".") || fitted == QLatin1String(".."))
        fitted = QStringLiteral("_");
    return fitted;
}

QString FitFileName(const QString& name, int limitBytes) {
    return FitMarkedName(name, QString(), limitBytes - kTempSuffixBytes);
}

QString FriendlyFileTime(const QString& modified, const QDate& today) {
    const QDate date = QDate::fromString(modified.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        return modified;
    const QString rest = modified.mid(10);
    const qint64 daysAgo = date.daysTo(today);
    if (daysAgo == 0)
        return QStringLiteral("今") + QStringLiteral("天") + rest;
    if (daysAgo == 1)
        return QStringLiteral("昨") + QStringLiteral("天") + rest;
    if (daysAgo == 2)
        return QStringLiteral("前") + QStringLiteral("天") + rest;
    return modified;
}

QString NumberedTargetPath(const QString& target) {
    QString path = target;
    const QString folder = FolderOf(target);
    const int limit = FileNameLimit(folder);
    // Anything of that name blocks the rename, a folder too.
    for (int n = 1; QFileInfo::exists(path); ++n) {
        const QString marker = QLatin1Char('(') + QString::number(n) + QLatin1Char(')');
        path = folder + FitMarkedName(FileNameOf(target), marker, limit);
    }
    return path;
}

QString PercentText(double fraction) {
    return QString::number(qint64(std::floor(fraction * 100 + 0.5))) + QLatin1Char('%');
}

bool IsAutoOpenType(const QString& path, const QString& typeList) {
    const QString extension = ExtensionOf(path).toUpper();
    if (extension.isEmpty())
        return false;
    const QStringList types = typeList.split(QLatin1Char(';'));
    for (const QString& type : types) {
        if (QLatin1Char('.') + type.toUpper() == extension)
            return true;
    }
    return false;
}

}  // namespace tvx
