#include "common/Windows.h"

#include <QApplication>

namespace tvx {

void CenterForm(const DisplayMetrics& display, QWidget* form) {
    const int tppX = display.twipsPerPixelX;
    const int tppY = display.twipsPerPixelY;
    const QSize frame = form->frameGeometry().size();
    const int formWidth = frame.width() * tppX;
    const int formHeight = frame.height() * tppY;
    int left = display.screen.width * tppX - formWidth;
    int top = (display.screen.fullScreenHeight + display.screen.captionHeight) * tppY - formHeight;
    left = left < 0 ? 0 : left / 2;
    top = top < 0 ? 0 : top / 2;
    form->move(left / tppX, top / tppY);
}

void ActivateWindow(QWidget* form) {
    BringForward(form);
    QApplication::alert(form, 1000);
}

void BringForward(QWidget* form) {
    form->show();
    if (form->windowState() & Qt::WindowMinimized)
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    form->raise();
    form->activateWindow();
}

}  // namespace tvx
