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

MessageStyle MessageStyleOf(int kind, bool systemModal) {
    MessageStyle style;
    style.systemModal = systemModal;
    switch (kind) {
        case KindAsk:
            style.buttons = MessageButtons::YesNo;
            style.icon = MessageIcon::Question;
            break;
        case KindInfo:
        case KindProduct:
            style.icon = MessageIcon::Information;
            break;
        case KindWarning:
            style.icon = MessageIcon::Warning;
            break;
        case KindError:
            style.icon = MessageIcon::Error;
            break;
        case KindAskCancel:
            style.buttons = MessageButtons::YesNoCancel;
            style.icon = MessageIcon::Question;
            break;
        default:
            break;
    }
    return style;
}

MessageAnswer ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text, int kind,
                          bool systemModal) {
    return box.Show(owner, text, MessageTitle(kind), MessageStyleOf(kind, systemModal));
}

void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail) {
    ShowMessage(box, owner, text + QStringLiteral(":\r\n\r\n") + detail, KindError, false);
}

}  // namespace tvx
