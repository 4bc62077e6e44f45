#include "transfer/ReceiveRules.h"

#include <QFileInfo>
#include <QStringList>
#include <cmath>

#include "common/Paths.h"

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
    // Anything of that name blocks the rename, a folder too.
    for (int n = 1; QFileInfo::exists(path); ++n) {
        path = FolderOf(target) + BaseNameOf(target) + QLatin1Char('(') + QString::number(n) +
               QLatin1Char(')') + ExtensionOf(target);
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
