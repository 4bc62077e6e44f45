#pragma once

#include <QString>

namespace tvx {

// The handshake as a function of the message counter (1 to 3) and the message received.
//
//   step  side      counter  message received                       action
//   1     caller    -        (connection established)               send challenge Cc
//   2     answerer  1        exactly 32 bytes, any content          send its response
//   3     caller    1        exactly the response to Cc             send AA 55 alone
//   4     answerer  2        exactly the one character AA 55        send challenge Ca
//   5     caller    2        exactly 32 bytes, any content          send its response
//   6     answerer  3        exactly the response to Ca             verified; verified reply
//   7     caller    3        first character 55 AA                  verified; version check
struct HandshakeStep {
    enum class Kind {
        Reply,     // send text
        Verified,  // the handshake passed; at the caller text is the rest of the verified reply
        Fail,      // reset without a word
    };
    Kind kind = Kind::Fail;
    QString text;
};

// A fresh challenge of 32 bytes. It never holds the terminator, so a challenge that arrives
// in pieces cannot look complete before its end. A marked one begins with the eight bytes
// "TVX/TLS1" (the rest random): the sign that this end turns the connection into TLS once
// verified. Design peers take any 32 bytes as a challenge.
QString DrawChallenge(bool marked = false);
bool IsMarkedChallenge(const QString& challenge);

// The answerer's step; at counter 2 it draws its challenge into ownChallenge, marked when
// `markOwn`.
HandshakeStep AnswererHandshakeStep(int counter, const QString& message, QString& ownChallenge,
                                    bool markOwn = false);
// The caller's step, given the challenge it sent at the start.
HandshakeStep CallerHandshakeStep(int counter, const QString& message, const QString& ownChallenge);

}  // namespace tvx
