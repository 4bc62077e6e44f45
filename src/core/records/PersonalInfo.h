#pragma once

#include <QString>
#include <QStringList>

#include "platform/SettingsStore.h"
#include "platform/System.h"

namespace tvx {

// The user's personal-info card, in its fixed order (also the order on the wire).
struct PersonalInfo {
    QString nickName;
    QString sex = QStringLiteral("0");  // "0" undisclosed, "1" male, "2" female
    QString age;
    QString phone;
    QString email;
    QString homePage;
    QString address;  // contact address, free text
    QString otherInfo;

    QStringList Fields() const {
        return {nickName, sex, age, phone, email, homePage, address, otherInfo};
    }
};

// The card as it travels: the eight fields joined by the field separator 03 04.
QString PersonalInfoRecord(const PersonalInfo& card);

// Reads the card from the store; an empty nickname becomes the computer's name (not stored).
PersonalInfo LoadPersonalInfo(SettingsStore& store, SystemInfo& system);

}  // namespace tvx
