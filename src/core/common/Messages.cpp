#include "common/Messages.h"

namespace tvx {

QString MessageTitle(MessageKind kind) {
    switch (kind) {
        case MessageKind::Ask:
        case MessageKind::AskCancel:
            return QStringLiteral("询问");
        case MessageKind::Info:
            return QStringLiteral("提示");
        case MessageKind::Warning:
            return QStringLiteral("警告");
        case MessageKind::Error:
            return QStringLiteral("错误");
        case MessageKind::Product:
            return QStringLiteral("Tolvex");
        default:
            return QString();
    }
}

MessageStyle MessageStyleOf(MessageKind kind, bool systemModal) {
    MessageStyle style;
    style.systemModal = systemModal;
    switch (kind) {
        case MessageKind::Ask:
            style.buttons = MessageButtons::YesNo;
            style.icon = MessageIcon::Question;
            break;
        case MessageKind::Info:
        case MessageKind::Product:
            style.icon = MessageIcon::Information;
            break;
        case MessageKind::Warning:
            style.icon = MessageIcon::Warning;
            break;
        case MessageKind::Error:
            style.icon = MessageIcon::Error;
            break;
        case MessageKind::AskCancel:
            style.buttons = MessageButtons::YesNoCancel;
            style.icon = MessageIcon::Question;
            break;
        default:
            break;
    }
    return style;
}

MessageAnswer ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text,
                          MessageKind kind, bool systemModal) {
    return box.Show(owner, text, MessageTitle(kind), MessageStyleOf(kind, systemModal));
}

void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail) {
    ShowMessage(box, owner, text + QStringLiteral(":\r\n\r\n") + detail, MessageKind::Error, false);
}

}  // namespace tvx
