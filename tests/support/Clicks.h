#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QString>
#include <QWidget>

namespace tvx::test {

// Clicks the window's button of this object name as the user would, so that the button's
// wiring is tested with its handler. A disabled button ignores the click, as on screen.
inline void ClickButton(QWidget* window, const QString& objectName) {
    auto* button = window->findChild<QAbstractButton*>(objectName);
    ASSERT_NE(button, nullptr) << objectName.toStdString();
    button->click();
}

}  // namespace tvx::test
