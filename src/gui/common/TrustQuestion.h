#pragma once

#include "common/Messages.h"
#include "platform/MessageBox.h"
#include "protocol/PeerLink.h"
#include "texts/SecurityTexts.h"

class QWidget;

namespace tvx {

// After a refusal the user may overrule (a known peer's new certificate, a known peer on the
// plain wire), asks whether to go on so; on Yes marks `request` (a send's or an invitation's)
// to be started again with the user's consent. False for any other refusal or on No.
template <typename Request>
bool AskToTrust(MessageBoxService& messageBox, QWidget* owner, LinkRefusal refusal,
                Request& request) {
    const QString question = TrustQuestion(refusal);
    if (question.isEmpty() ||
        ShowMessage(messageBox, owner, question, MessageKind::Ask, false) != MessageAnswer::Yes)
        return false;
    if (refusal == LinkRefusal::IdentityChanged)
        request.acceptNewIdentity = true;
    else
        request.allowPlain = true;
    return true;
}

}  // namespace tvx
