#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSet>

#include "address/AddressCode.h"
#include "address/AddressInput.h"
#include "support/Fakes.h"

using namespace tvx;
using tvx::test::FakePlatform;

TEST(AddressCode, WorkedExamples) {
    EXPECT_EQ(EncodeAddressCode(QStringLiteral("192.168.1.10"), 0x5A),
              QStringLiteral("NVSSWFDSEN"));
    EXPECT_EQ(DecodeAddressCode(QStringLiteral("NVSSWFDSEN")), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(EncodeAddressCode(QStringLiteral("10.0.0.1"), 0x01), QStringLiteral("XXEEEXEEEF"));
    EXPECT_EQ(DecodeAddressCode(QStringLiteral("XXEEEXEEEF")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(DecodeAddressCode(QStringLiteral("EEEEEEEEEE")), QStringLiteral("0.0.0.0"));
}

TEST(AddressCode, EveryMaskRoundTrips) {
    const QString addresses[] = {QStringLiteral("0.0.0.0"), QStringLiteral("255.255.255.255"),
                                 QStringLiteral("127.0.0.2"), QStringLiteral("010.001.000.099")};
    for (const QString& address : addresses) {
        for (int mask = 0; mask < 256; ++mask) {
            const QString code = EncodeAddressCode(address, mask);
            ASSERT_EQ(code.size(), 10);
            ASSERT_TRUE(IsAddressCode(code)) << code.toStdString();
            ASSERT_EQ(ResolvePeerAddress(code), NormalizeDottedAddress(address));
        }
    }
}

TEST(AddressCode, RandomMaskVaries) {
    QSet<QString> codes;
    for (int i = 0; i < 20; ++i) {
        const QString code = EncodeAddressCode(QStringLiteral("192.168.0.5"));
        EXPECT_EQ(ResolvePeerAddress(code), QStringLiteral("192.168.0.5"));
        codes.insert(code);
    }
    EXPECT_GT(codes.size(), 10);
}

TEST(DottedAddress, Validation) {
    EXPECT_TRUE(IsDottedAddress(QStringLiteral("0.0.0.0")));
    EXPECT_TRUE(IsDottedAddress(QStringLiteral("255.255.255.255")));
    EXPECT_TRUE(IsDottedAddress(QStringLiteral("192.168.001.010")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.256")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.1 ")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral(" 1.1.1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1..1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.+1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.-1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("0x1.1.1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.1e1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("1.1.1.٣")));  // not an ASCII digit
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("0001.1.1.1")));
    EXPECT_FALSE(IsDottedAddress(QStringLiteral("100.100.100.1000")));
    EXPECT_FALSE(IsDottedAddress(QString()));
}

TEST(AddressCodeValidation, LettersAndLength) {
    EXPECT_TRUE(IsAddressCode(QStringLiteral("nvsswfdsen")));
    EXPECT_FALSE(IsAddressCode(QStringLiteral("NVSSWFDSE")));
    EXPECT_FALSE(IsAddressCode(QStringLiteral("NVSSWFDSENE")));
    const QString forbidden = QStringLiteral("GIJLOPRTUZ");
    for (QChar letter : forbidden) {
        QString code = QStringLiteral("NVSSWFDSEN");
        code[3] = letter;
        EXPECT_FALSE(IsAddressCode(code)) << code.toStdString();
        EXPECT_EQ(ResolvePeerAddress(code), QString());
    }
    EXPECT_FALSE(IsAddressCode(QStringLiteral("NVSSWFDSE1")));
}

TEST(ResolvePeerAddress, EitherKindOrNothing) {
    EXPECT_EQ(ResolvePeerAddress(QStringLiteral("192.168.001.010")),
              QStringLiteral("192.168.1.10"));
    EXPECT_EQ(ResolvePeerAddress(QStringLiteral("nvsswfdsen")), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(ResolvePeerAddress(QStringLiteral("EEEEEEEEEE")), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(ResolvePeerAddress(QStringLiteral("host.example")), QString());
    EXPECT_EQ(ResolvePeerAddress(QString()), QString());
}

class CheckTarget : public ::testing::Test {
protected:
    QString Check(const QString& typed) {
        box.setText(typed);
        return CheckTargetAddress(*fake.messageBox, nullptr, &box, QStringLiteral("192.168.0.5"));
    }
    QString LastMessage() const {
        return fake.messageBox->shown.isEmpty() ? QString() : fake.messageBox->shown.last().text;
    }

    FakePlatform fake;
    QLineEdit box;
};

TEST_F(CheckTarget, RefusesEmptyInvalidAndLocal) {
    EXPECT_EQ(Check(QString()), QString());
    EXPECT_EQ(LastMessage(), QStringLiteral("必须输入对方IP或TVX地址。"));
    EXPECT_EQ(fake.messageBox->shown.last().title, QStringLiteral("提示"));

    EXPECT_EQ(Check(QStringLiteral("1.2.3")), QString());
    EXPECT_EQ(LastMessage(), QStringLiteral("无效的IP或TVX地址,请重新输入。"));
    EXPECT_EQ(fake.messageBox->shown.last().title, QStringLiteral("错误"));

    const QString localSpellings[] = {
        QStringLiteral("192.168.0.5"), QStringLiteral("192.168.000.005"),
        EncodeAddressCode(QStringLiteral("192.168.0.5"), 1),
        EncodeAddressCode(QStringLiteral("192.168.0.5"), 200).toLower()};
    for (const QString& typed : localSpellings) {
        int before = fake.messageBox->shown.size();
        EXPECT_EQ(Check(typed), QString()) << typed.toStdString();
        ASSERT_EQ(fake.messageBox->shown.size(), before + 1);
        EXPECT_EQ(LastMessage(), QStringLiteral("目标地址不能为本地地址,请重新输入。"));
        EXPECT_EQ(fake.messageBox->shown.last().style, MessageStyleOf(MessageKind::Warning));
    }
}

TEST_F(CheckTarget, AcceptsAPeerWithoutAMessage) {
    EXPECT_EQ(Check(QStringLiteral("192.168.0.6")), QStringLiteral("192.168.0.6"));
    EXPECT_EQ(Check(QStringLiteral("nvsswfdsen")), QStringLiteral("192.168.1.10"));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}
