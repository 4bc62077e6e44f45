#include "session/Activity.h"

namespace tvx {

void Activity::Set(bool& value, bool on) {
    if (value == on)
        return;
    const bool wasWaiting = waiting();
    value = on;
    emit Changed();
    if (waiting() != wasWaiting)
        emit WaitingChanged(waiting());
}

}  // namespace tvx
