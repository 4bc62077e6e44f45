#include "records/PersonalInfo.h"

#include "common/Text.h"
#include "records/Settings.h"

namespace tvx {

QString PersonalInfoRecord(const PersonalInfo& card) {
    // The separator is the unit whose bytes are 03 04 on the wire (UTF-16LE).
    return card.Fields().join(QChar(0x0403));
}

PersonalInfo LoadPersonalInfo(SettingsStore& store, SystemInfo& system) {
    PersonalInfo card;
    const QString sex = ReadSetting(store, QStringLiteral("Sex"));
    card.sex = (sex == QLatin1String("0") || sex == QLatin1String("1") || sex == QLatin1String("2"))
                   ? sex
                   : QStringLiteral("0");
    card.age = ReadSetting(store, QStringLiteral("Age"));
    card.phone = ReadSetting(store, QStringLiteral("Phone"));
    card.email = ReadSetting(store, QStringLiteral("Email"));
    card.homePage = ReadSetting(store, QStringLiteral("HomePage"));
    card.address = ReadSetting(store, QStringLiteral("Address"));
    card.otherInfo = TrimLines(ReadSetting(store, QStringLiteral("OtherInfo")));
    const QString nickName = ReadSetting(store, QStringLiteral("NickName"));
    card.nickName =
        nickName.isEmpty() ? CutAtNul(system.ComputerName().left(255)) : TrimSpaces(nickName);
    return card;
}

}  // namespace tvx
