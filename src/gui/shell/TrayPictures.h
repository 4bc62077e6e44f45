#pragma once

#include <QIcon>

namespace tvx {

// The two pictures of the notification-area icon: 1 the normal one, 2 the blink phase.
QIcon TrayPicture(int which);

}  // namespace tvx
