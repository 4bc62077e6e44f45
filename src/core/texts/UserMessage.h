#pragma once

#include <QString>

#include "common/Messages.h"

namespace tvx {

// What a front end shows for an engine's outcome: the text, the kind of box it goes in and
// whether that box keeps the whole desktop waiting. The texts live under texts/ and nowhere
// else; windows and commands both take them from there.
struct UserMessage {
    MessageKind kind = MessageKind::None;
    QString text;
    bool systemModal = false;

    bool isEmpty() const { return text.isEmpty(); }
};

// What stands for a note or invitation text that holds nothing.
QString EmptyNoteText();

// The reasons shown after "could not go on with ..." when a connection broke midway.
QString ConnectionLostReasons();

}  // namespace tvx
