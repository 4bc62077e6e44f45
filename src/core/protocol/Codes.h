#pragma once

#include <QtGlobal>

namespace tvx {

// A protocol code is one UTF-16LE unit written as its two bytes in wire order: 02 05 is the
// byte 0x02 followed by 0x05, so the unit 0x0502.
constexpr char16_t WireUnit(quint8 first, quint8 second) {
    return char16_t(first | (second << 8));
}

// The fixed ports; nothing configures them.
constexpr quint16 kFileControlPort = 8510;
constexpr quint16 kFileDataPort = 8511;
constexpr quint16 kChatPort = 9170;

// Every code of the protocol, the same for all four roles.
struct ProtocolCodes {
    static constexpr char16_t Terminator = WireUnit(0x02, 0x05);
    static constexpr char16_t Separator = WireUnit(0x03, 0x04);

    // Handshake and admission.
    static constexpr char16_t AskChallenge = WireUnit(0xAA, 0x55);
    static constexpr char16_t Verified = WireUnit(0x55, 0xAA);
    static constexpr char16_t Version = WireUnit(0x00, 0x05);
    static constexpr char16_t AdmissionRequest = WireUnit(0x18, 0x4B);
    static constexpr char16_t Admitted = WireUnit(0x1F, 0x10);
    static constexpr char16_t RefusedCode = WireUnit(0x1C, 0x11);
    static constexpr char16_t RefusedBlocked = WireUnit(0x1A, 0x13);
    static constexpr char16_t Introduction = WireUnit(0x16, 0x4D);

    // File transfer.
    static constexpr char16_t FileOffer = WireUnit(0x1E, 0x10);
    static constexpr char16_t OfferAccepted = WireUnit(0x0F, 0x18);
    static constexpr char16_t OfferRefused = WireUnit(0x14, 0x1E);
    static constexpr char16_t OfferRefusedAuto = WireUnit(0x15, 0x17);
    static constexpr char16_t FileComplete = WireUnit(0x00, 0x00);
    static constexpr char16_t SenderCancel = WireUnit(0x1A, 0x0E);
    static constexpr char16_t ReceiverCancel = WireUnit(0x17, 0x1D);

    // Chat.
    static constexpr char16_t ChatInvitation = WireUnit(0x0B, 0x1A);
    static constexpr char16_t InvitationAccepted = WireUnit(0x13, 0x1D);
    static constexpr char16_t InvitationAcceptedAuto = WireUnit(0x1B, 0x16);
    static constexpr char16_t InvitationRefused = WireUnit(0x1E, 0x12);
    static constexpr char16_t InvitationRefusedAuto = WireUnit(0x11, 0x16);
    static constexpr char16_t InitiatorText = WireUnit(0x1D, 0x0C);
    static constexpr char16_t ResponderText = WireUnit(0x12, 0x0F);
    static constexpr char16_t InitiatorLeaves = WireUnit(0x19, 0x14);
    static constexpr char16_t ResponderLeaves = WireUnit(0x0B, 0x15);
};

}  // namespace tvx
