#pragma once

class QCoreApplication;

namespace tvx {

// The program speaks Simplified Chinese whatever the desktop's locale: Chinese number, date
// and file-type texts, and Qt's own dialogs (file dialogs, standard buttons) in Chinese when
// Qt's translations are installed. False when those translations were not found.
bool UseChineseLanguage(QCoreApplication& app);

}  // namespace tvx
