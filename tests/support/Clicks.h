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

// The window's control of this type and object name; a test failure when there is none.
template <typename Control>
Control* Find(const QWidget* window, const char* objectName) {
    auto* control = window->findChild<Control*>(QString::fromLatin1(objectName));
    EXPECT_NE(control, nullptr) << objectName;
    return control;
}

}  // namespace tvx::test
