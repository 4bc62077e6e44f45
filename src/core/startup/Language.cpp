#include "startup/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tvx {

bool UseChineseLanguage(QCoreApplication& app) {
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    QLocale::setDefault(chinese);
    // Debian's qt6-translations-l10n puts qtbase_zh_CN.qm in Qt's translations folder.
    auto* translator = new QTranslator(&app);
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        app.installTranslator(translator))
        return true;
    delete translator;
    return false;
}

}  // namespace tvx
