#include "protocol/HandshakeSteps.h"

#include "common/Handshake.h"
#include "protocol/Codes.h"

namespace tvx {

namespace {

constexpr qsizetype kChallengeUnits = 16;  // 32 bytes

HandshakeStep Reply(const QString& text) {
    return {HandshakeStep::Kind::Reply, text};
}
HandshakeStep Fail() {
    return {HandshakeStep::Kind::Fail, QString()};
}

}  // namespace

QString DrawChallenge() {
    QString challenge = MakeChallenge();
    while (challenge.contains(QChar(ProtocolCodes::Terminator)))
        challenge = MakeChallenge();
    return challenge;
}

HandshakeStep AnswererHandshakeStep(int counter, const QString& message, QString& ownChallenge) {
    switch (counter) {
        case 1:
            if (message.size() != kChallengeUnits)
                return Fail();
            return Reply(ChallengeResponse(message));
        case 2:
            if (message != QString(QChar(ProtocolCodes::AskChallenge)))
                return Fail();
            ownChallenge = DrawChallenge();
            return Reply(ownChallenge);
        case 3:
            if (ownChallenge.isEmpty() || message != ChallengeResponse(ownChallenge))
                return Fail();
            return {HandshakeStep::Kind::Verified, QString()};
        default:
            return Fail();
    }
}

HandshakeStep CallerHandshakeStep(int counter, const QString& message,
                                  const QString& ownChallenge) {
    switch (counter) {
        case 1:
            if (message != ChallengeResponse(ownChallenge))
                return Fail();
            return Reply(QString(QChar(ProtocolCodes::AskChallenge)));
        case 2:
            if (message.size() != kChallengeUnits)
                return Fail();
            return Reply(ChallengeResponse(message));
        case 3:
            if (message.isEmpty() || message.front().unicode() != ProtocolCodes::Verified) {
                return Fail();
            }
            return {HandshakeStep::Kind::Verified, message.mid(1)};
        default:
            return Fail();
    }
}

}  // namespace tvx
