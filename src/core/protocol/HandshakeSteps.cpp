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

// "TVX/TLS1" as the challenge's first four units, the low byte of each first.
QString ChallengeMark() {
    static const QChar units[] = {QChar(0x5654), QChar(0x2F58), QChar(0x4C54), QChar(0x3153)};
    return QString(units, 4);
}

}  // namespace

QString DrawChallenge(bool marked) {
    QString challenge = MakeChallenge();
    if (marked)
        challenge.replace(0, 4, ChallengeMark());
    while (challenge.contains(QChar(ProtocolCodes::Terminator))) {
        challenge = MakeChallenge();
        if (marked)
            challenge.replace(0, 4, ChallengeMark());
    }
    return challenge;
}

bool IsMarkedChallenge(const QString& challenge) {
    return challenge.size() == kChallengeUnits && challenge.startsWith(ChallengeMark());
}

HandshakeStep AnswererHandshakeStep(int counter, const QString& message, QString& ownChallenge,
                                    bool markOwn) {
    switch (counter) {
        case 1:
            if (message.size() != kChallengeUnits)
                return Fail();
            return Reply(ChallengeResponse(message));
        case 2:
            if (message != QString(QChar(ProtocolCodes::AskChallenge)))
                return Fail();
            ownChallenge = DrawChallenge(markOwn);
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
