#include "address/AddressInput.h"

#include <QLineEdit>

#include "address/AddressCode.h"
#include "common/Messages.h"

namespace tvx {

QString CheckTargetAddress(MessageBoxService& box, QWidget* owner, QLineEdit* addressBox,
                           const QString& localAddress) {
    const QString typed = addressBox->text();
    if (typed.isEmpty()) {
        ShowMessage(box, owner, QStringLiteral("必须输入对方IP或TVX地址。"), MessageKind::Info,
                    false);
        addressBox->setFocus();
        return QString();
    }
    const QString peer = ResolvePeerAddress(typed);
    if (peer.isEmpty()) {
        ShowMessage(box, owner, QStringLiteral("无效的IP或TVX地址,请重新输入。"),
                    MessageKind::Error, false);
        addressBox->setFocus();
        return QString();
    }
    if (peer == ResolvePeerAddress(localAddress)) {
        ShowMessage(box, owner, QStringLiteral("目标地址不能为本地地址,请重新输入。"),
                    MessageKind::Warning, false);
        addressBox->setFocus();
        return QString();
    }
    return peer;
}

}  // namespace tvx
