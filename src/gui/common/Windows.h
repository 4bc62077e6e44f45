#pragma once

#include <QPointer>
#include <QWidget>

#include "common/Display.h"

namespace tvx {

// Centres the form horizontally on the screen and vertically within the screen less its bars.
void CenterForm(const DisplayMetrics& display, QWidget* form);

// Shows, restores and raises the window, then asks the desktop to flash it once.
void ActivateWindow(QWidget* form);

// Shows, restores and raises the window and gives it the keyboard, without flashing.
void BringForward(QWidget* form);

// Closes and deletes the window when the reference is set, then clears the reference.
template <typename Form>
void UnloadWindow(QPointer<Form>& form) {
    if (!form)
        return;
    form->close();
    delete form.data();
    form = nullptr;
}

}  // namespace tvx
