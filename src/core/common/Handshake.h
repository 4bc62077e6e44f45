#pragma once

#include <QString>

namespace tvx {

// 32 lower-case hex characters: MD5 over the text's UTF-16LE bytes. Both peers must agree on it;
// it makes the handshake responses, the admission digest and the stored verification codes.
QString Digest(const QString& text);

// 32 random bytes as 16 two-byte characters (byte 2k is the low byte of character k).
QString MakeChallenge();

// The digest of the challenge as 32 single-byte characters, packed two to a character.
QString ChallengeResponse(const QString& challenge);

// Random values drawn for each use: a scrambling key 1 to 254 and an address mask 1 to 255.
int DrawScrambleKey();
int DrawAddressMask();

}  // namespace tvx
