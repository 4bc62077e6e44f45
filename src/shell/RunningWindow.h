#pragma once

#include <QWidget>

namespace tvx {

struct Session;

// A small window that says the program runs and on which address, with a way to quit.
// It stands where the notification-area icon will be.
class RunningWindow : public QWidget {
    Q_OBJECT

public:
    explicit RunningWindow(Session& session, QWidget* parent = nullptr);
};

}  // namespace tvx
