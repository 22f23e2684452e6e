#include "controlfixture.h"
#include "device/numbertext.h"

#include <QSignalSpy>
#include <QTest>

using device::channelCount;

class TestRegisterGrid : public QObject
{
    Q_OBJECT

private slots:
    void typingWritesEachKeystroke();
    void typedVoltages_data();
    void typedVoltages();
    void fullScaleSendsTopCode();
    void zeroVsupFreezesCodes();
    void spinControl_data();
    void spinControl();
    void spinFollowsLastRefreshedChannel();
    void refreshWritesBackChangedBoxes();
    void ownTextsKeepTheirCodes_data();
    void ownTextsKeepTheirCodes();
    void spinPassesCodesSharingAMillivolt_data();
    void spinPassesCodesSharingAMillivolt();
    void vsupChangeRewritesEveryChannel();
    void controlPanelRefreshedOnlyWhileOpen();
    void registerOfChannel_data();
    void registerOfChannel();

private:
    // Puts codes into the model and shows them, as the first read of the chip would.
    static void showCodes(ControlFixture &f, double vsup, double code)
    {
        f.model.vsup = vsup;
        for (int i = 1; i <= channelCount; ++i)
            f.model.dacCode[i] = code;
        f.grid().refreshAllChannels();
        f.clearEvents();
    }
};

void TestRegisterGrid::typingWritesEachKeystroke()
{
    ControlFixture f;
    showCodes(f, 10, 0);
    f.grid().voltageBoxEdited(3, QString());
    f.clearEvents();
    for (const char *text : {"5", "5.", "5.2"})
        f.grid().voltageBoxEdited(3, QString::fromLatin1(text));
    QCOMPARE(f.dacWrites(), (QList<int>{512, 512, 532}));
    QCOMPARE(f.grid().hexText(3), QStringLiteral("0")); // not updated while typing

    f.clearEvents();
    f.grid().voltageBoxLeft(3);
    QCOMPARE(f.grid().voltageText(3), QStringLiteral(" 5.195"));
    QCOMPARE(f.grid().hexText(3), QStringLiteral("214"));
    QCOMPARE(f.dacWrites(), (QList<int>{532, 532}));
    QCOMPARE(f.dacWritesWithRegister().first().first, 2);
    QCOMPARE(f.chip0().dacRegister(2), quint16(532));
}

void TestRegisterGrid::typedVoltages_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("shown");
    QTest::newRow("half scale") << "5" << 512.0 << " 5";
    QTest::newRow("above vsup clamps") << "12" << 1024.0 << " 10";
    QTest::newRow("below vlow clamps") << "-1" << 0.0 << " 0";
    QTest::newRow("letters") << "abc" << 0.0 << " 0";
    QTest::newRow("cleared") << "" << 0.0 << " 0";
    QTest::newRow("trailing unit") << "2.5V" << 256.0 << " 2.5";
    QTest::newRow("leading blanks") << "   7.5" << 768.0 << " 7.5";
    QTest::newRow("no leading zero") << ".25" << 26.0 << " .253";
}

void TestRegisterGrid::typedVoltages()
{
    QFETCH(QString, typed);
    QFETCH(double, code);
    QFETCH(QString, shown);
    ControlFixture f;
    showCodes(f, 10, 300);
    f.grid().voltageBoxEdited(7, typed);
    QCOMPARE(f.model.dacCode[7], code);
    f.grid().voltageBoxLeft(7);
    QCOMPARE(f.grid().voltageText(7), shown);
    QCOMPARE(f.model.dacCode[7], code);
    QCOMPARE(int(f.chip0().dacRegister(6)), std::min(int(code), 1023));
}

void TestRegisterGrid::fullScaleSendsTopCode()
{
    ControlFixture f;
    showCodes(f, 10, 0);
    f.grid().voltageBoxEdited(5, QStringLiteral("10"));
    f.grid().voltageBoxLeft(5);
    QCOMPARE(f.model.dacCode[5], 1024.0);
    QCOMPARE(f.grid().voltageText(5), QStringLiteral(" 10"));
    QCOMPARE(f.grid().hexText(5), QStringLiteral("400"));
    QCOMPARE(f.chip0().dacRegister(4), quint16(1023));
}

void TestRegisterGrid::zeroVsupFreezesCodes()
{
    ControlFixture f;
    showCodes(f, 10, 700);
    f.grid().vsupBoxEdited(QStringLiteral("0"));
    f.grid().vsupBoxLeft();
    for (int i = 1; i <= channelCount; ++i) {
        QCOMPARE(f.grid().voltageText(i), QStringLiteral(" 0"));
        QCOMPARE(f.model.dacCode[i], 700.0);
    }
    f.grid().voltageBoxEdited(2, QStringLiteral("3"));
    f.grid().voltageBoxLeft(2);
    QCOMPARE(f.model.dacCode[2], 700.0);
}

void TestRegisterGrid::spinControl_data()
{
    QTest::addColumn<double>("code");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("up from 512") << 512.0 << 1 << QList<int>{513} << " 5.009";
    QTest::newRow("down from 512") << 512.0 << -1 << QList<int>{511} << " 4.99";
    QTest::newRow("up at 1023") << 1023.0 << 1 << QList<int>{} << " 9.99";
    QTest::newRow("down at 0") << 0.0 << -1 << QList<int>{} << " 0";
    QTest::newRow("down from full scale") << 1024.0 << -1 << QList<int>{1023} << " 9.99";
}

void TestRegisterGrid::spinControl()
{
    QFETCH(double, code);
    QFETCH(int, step);
    QFETCH(QList<int>, sent);
    QFETCH(QString, shown);
    ControlFixture f;
    showCodes(f, 10, code);
    f.grid().voltageBoxClicked(4);
    f.grid().stepChannelCode(step);
    QCOMPARE(f.dacWrites(), sent);
    QCOMPARE(f.grid().voltageText(4), shown);
    QCOMPARE(f.grid().hexText(4), device::shownCode(f.model.dacCode[4]));
}

void TestRegisterGrid::spinFollowsLastRefreshedChannel()
{
    ControlFixture f;
    showCodes(f, 10, 100);
    f.grid().voltageBoxClicked(2);
    f.model.dacCode[24] = 900;
    f.grid().refreshAllChannels();
    QCOMPARE(f.model.selectedChannel, 24);
    f.clearEvents();
    f.grid().stepChannelCode(1);
    QCOMPARE(f.dacWritesWithRegister(), (QList<QPair<int, int>>{{23, 901}}));
}

void TestRegisterGrid::refreshWritesBackChangedBoxes()
{
    ControlFixture f;
    showCodes(f, 10, 100);
    f.model.dacCode[3] = 200;
    f.model.dacCode[19] = 300;
    f.grid().refreshAllChannels();
    // Only the two boxes whose text changed write their channels, in register order.
    QCOMPARE(f.dacWritesWithRegister(), (QList<QPair<int, int>>{{2, 200}, {18, 300}}));
    f.clearEvents();
    f.grid().refreshAllChannels();
    QVERIFY(f.dacWrites().isEmpty());
}

void TestRegisterGrid::ownTextsKeepTheirCodes_data()
{
    QTest::addColumn<double>("vsup");
    QTest::newRow("1.8 V") << 1.8;
    QTest::newRow("1 V") << 1.0;
    QTest::newRow("0.5 V") << 0.5;
    QTest::newRow("10 V") << 10.0;
    QTest::newRow("3.3 V") << 3.3;
}

void TestRegisterGrid::ownTextsKeepTheirCodes()
{
    // Reading the program's own truncated text back must not move a code, whatever the step.
    QFETCH(double, vsup);
    ControlFixture f;
    showCodes(f, vsup, 0);
    for (int code = 0; code <= 1024; code += 1) {
        const int channel = 1 + code % channelCount;
        f.model.dacCode[channel] = code;
        f.grid().refreshAllChannels();
        QCOMPARE(f.model.dacCode[channel], double(code));
        f.grid().voltageBoxLeft(channel);
        QCOMPARE(f.model.dacCode[channel], double(code));
    }
    QCOMPARE(f.chip0().dacRegister(1023 % channelCount), quint16(1023));
}

void TestRegisterGrid::spinPassesCodesSharingAMillivolt_data()
{
    QTest::addColumn<double>("vsup");
    QTest::newRow("1.8 V: truncation used to pull 17 back to 16") << 1.8;
    QTest::newRow("0.5 V: neighbouring codes share a millivolt") << 0.5;
}

void TestRegisterGrid::spinPassesCodesSharingAMillivolt()
{
    QFETCH(double, vsup);
    ControlFixture f;
    showCodes(f, vsup, 16);
    f.grid().voltageBoxClicked(1);
    QList<int> expected;
    for (int code = 17; code <= 40; ++code) {
        f.grid().stepChannelCode(1);
        expected.append(code);
        QCOMPARE(f.model.dacCode[1], double(code));
        QCOMPARE(f.grid().hexText(1), QString::number(code, 16).toUpper());
    }
    // Every step reached the chip, even where two codes share a millivolt text.
    QCOMPARE(f.dacWrites(), expected);
    QCOMPARE(f.chip0().dacRegister(0), quint16(40));
}

void TestRegisterGrid::vsupChangeRewritesEveryChannel()
{
    ControlFixture f;
    showCodes(f, 10, 1023);
    f.grid().vsupBoxEdited(QStringLiteral("3.3"));
    f.grid().vsupBoxLeft();
    QCOMPARE(f.model.vsup, 3.3);
    QCOMPARE(f.grid().voltageText(1), QStringLiteral(" 3.296"));
    QCOMPARE(f.model.vrefHigh[0], 3.3);
    QCOMPARE(f.dacWrites(), QList<int>(channelCount, 1023));
}

void TestRegisterGrid::controlPanelRefreshedOnlyWhileOpen()
{
    ControlFixture f;
    QSignalSpy refreshes(&f.grid(), &control::RegisterGrid::controlPanelRefreshDue);
    f.grid().refreshAllChannels();
    QCOMPARE(refreshes.size(), 0);
    f.model.controlPanelOpen = 1;
    f.grid().refreshAllChannels();
    QCOMPARE(refreshes.size(), 1);
    f.grid().voltageBoxClicked(2);
    f.grid().stepChannelCode(1); // the spin control does not refresh the panel
    QCOMPARE(refreshes.size(), 1);
}

void TestRegisterGrid::registerOfChannel_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("reg");
    QTest::newRow("1") << 1 << "1" << 0x00;
    QTest::newRow("18") << 18 << "18" << 0x11;
    QTest::newRow("c1") << 19 << "c1" << 0x12;
    QTest::newRow("c2") << 20 << "c2" << 0x13;
    QTest::newRow("19") << 21 << "19" << 0x14;
    QTest::newRow("22") << 24 << "22" << 0x17;
}

void TestRegisterGrid::registerOfChannel()
{
    QFETCH(int, index);
    QFETCH(QString, label);
    QFETCH(int, reg);
    ControlFixture f;
    QCOMPARE(device::channelLabel(index), label);
    QCOMPARE(f.grid().voltageText(index), label); // placeholder until the first refresh
    showCodes(f, 10, 0);
    f.grid().voltageBoxEdited(index, QStringLiteral("5"));
    QCOMPARE(f.dacWritesWithRegister(), (QList<QPair<int, int>>{{reg, 512}}));
}

QTEST_GUILESS_MAIN(TestRegisterGrid)
#include "tst_registergrid.moc"
