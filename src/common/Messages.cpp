#include "common/Messages.h"

namespace tvx {

QString MessageTitle(int kind) {
    switch (kind) {
        case KindAsk:
        case KindAskCancel:
            return QStringLiteral("询问");
        case KindInfo:
            return QStringLiteral("提示");
        case KindWarning:
            return QStringLiteral("警告");
        case KindError:
            return QStringLiteral("错误");
        case KindProduct:
            return QStringLiteral("Tolvex");
        default:
            return QString();
    }
}

int MessageStyleOf(int kind) {
    switch (kind) {
        case KindAsk:
            return StyleYesNo | StyleIconQuestion;
        case KindInfo:
            return StyleOk | StyleIconInformation;
        case KindWarning:
            return StyleOk | StyleIconExclamation;
        case KindError:
            return StyleOk | StyleIconStop;
        case KindAskCancel:
            return StyleYesNoCancel | StyleIconQuestion;
        case KindProduct:
            return StyleOk | StyleIconInformation;
        default:
            return 0;
    }
}

int ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text, int kind,
                bool systemModal) {
    int style = MessageStyleOf(kind);
    if (systemModal)
        style |= StyleSystemModal;
    return box.Show(owner, text, MessageTitle(kind), style);
}

void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail) {
    ShowMessage(box, owner, text + QStringLiteral(":\r\n\r\n") + detail, KindError, false);
}

}  // namespace tvx
