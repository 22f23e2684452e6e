#include "controlfixture.h"
#include "device/numbertext.h"

#include <QSignalSpy>
#include <QTest>

using device::channelCount;
using Writes = QList<QPair<int, int>>;

namespace {

// Every channel at one code, shown in the grid as the first read of the chip would leave it.
void showCodes(ControlFixture &f, double vsup, double code)
{
    f.model.vsup = vsup;
    f.model.dacCode.fill(code);
    f.grid().refreshAllChannels();
    f.clearEvents();
}

} // namespace

class TestRegisterGrid : public QObject
{
    Q_OBJECT

private slots:
    void typingWritesEachKeystroke();
    void typedVoltages_data();
    void typedVoltages();
    void spinControl_data();
    void spinControl();
    void refreshWritesBackChangedBoxes();
    void codesDoNotDrift_data();
    void codesDoNotDrift();
    void controlPanelRefreshedOnlyWhileOpen();
};

void TestRegisterGrid::typingWritesEachKeystroke()
{
    ControlFixture f;
    // Until the first refresh the boxes hold placeholders.
    QCOMPARE(f.grid().voltageText(19), QStringLiteral("c1"));
    QCOMPARE(f.grid().hexText(21), QStringLiteral("13h"));
    showCodes(f, 10, 0);
    f.grid().voltageBoxEdited(3, QString());
    f.clearEvents();
    for (const char *text : {"5", "5.", "5.2"})
        f.grid().voltageBoxEdited(3, QString::fromLatin1(text));
    QCOMPARE(f.grid().hexText(3), QStringLiteral("0")); // not updated while typing
    f.grid().voltageBoxLeft(3);
    QCOMPARE(f.grid().voltageText(3), QStringLiteral(" 5.195"));
    QCOMPARE(f.grid().hexText(3), QStringLiteral("214"));
    QCOMPARE(f.dacWritesWithRegister(), (Writes{{2, 512}, {2, 512}, {2, 532}, {2, 532}, {2, 532}}));
}

void TestRegisterGrid::typedVoltages_data()
{
    QTest::addColumn<double>("vsup");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("shown");
    QTest::newRow("above vsup: full scale") << 10.0 << "12" << 1024.0 << " 10";
    QTest::newRow("below vlow clamps") << 10.0 << "-1" << 0.0 << " 0";
    QTest::newRow("cleared") << 10.0 << "" << 0.0 << " 0";
    QTest::newRow("rounded, shown truncated") << 10.0 << ".25" << 26.0 << " .253";
    QTest::newRow("Vsup 0: code kept") << 0.0 << "3" << 300.0 << " 0";
}

void TestRegisterGrid::typedVoltages()
{
    QFETCH(double, vsup);
    QFETCH(QString, typed);
    QFETCH(double, code);
    QFETCH(QString, shown);
    ControlFixture f;
    showCodes(f, vsup, 300);
    f.grid().voltageBoxEdited(7, typed);
    QCOMPARE(f.model.dacCode[7], code);
    f.grid().voltageBoxLeft(7);
    QCOMPARE(f.grid().voltageText(7), shown);
    QCOMPARE(f.grid().hexText(7), device::shownCode(code));
    QCOMPARE(int(f.chip0().dacRegister(6)), std::min(int(code), 1023));
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

void TestRegisterGrid::refreshWritesBackChangedBoxes()
{
    ControlFixture f;
    showCodes(f, 10, 1023);
    // A new "Vsup" changes every text: all 24 go out again, and the value is kept for this A0.
    f.grid().vsupBoxEdited(QStringLiteral("3.3"));
    f.grid().vsupBoxLeft();
    QCOMPARE(f.grid().voltageText(1), QStringLiteral(" 3.296"));
    QCOMPARE(f.model.vrefHigh[0], 3.3);
    QCOMPARE(f.dacWrites(), QList<int>(channelCount, 1023));
    f.clearEvents();
    f.grid().voltageBoxClicked(2);
    f.model.dacCode[3] = 200;
    f.model.dacCode[19] = 300;
    f.grid().refreshAllChannels();
    f.grid().refreshAllChannels();
    // Only the boxes whose text changed write their channels, in register order; the spin
    // control then steps the last of them, not the one clicked before.
    f.grid().stepChannelCode(1);
    QCOMPARE(f.dacWritesWithRegister(), (Writes{{2, 200}, {18, 300}, {18, 301}}));
}

void TestRegisterGrid::codesDoNotDrift_data()
{
    QTest::addColumn<double>("vsup");
    QTest::newRow("1.8 V") << 1.8;
    QTest::newRow("1 V") << 1.0;
    QTest::newRow("0.5 V: neighbouring codes share a millivolt") << 0.5;
    QTest::newRow("3.3 V") << 3.3;
}

void TestRegisterGrid::codesDoNotDrift()
{
    QFETCH(double, vsup);
    ControlFixture f;
    showCodes(f, vsup, 0);
    // Reading the program's own truncated text back must not move a code.
    for (int code = 0; code <= 1024; ++code) {
        const int channel = 1 + code % channelCount;
        f.model.dacCode[channel] = code;
        f.grid().refreshAllChannels();
        f.grid().voltageBoxLeft(channel);
        QCOMPARE(f.model.dacCode[channel], double(code));
    }
    // Every spin step reaches the chip, even where two codes share a millivolt text.
    showCodes(f, vsup, 16);
    f.grid().voltageBoxClicked(1);
    QList<int> expected;
    for (int code = 17; code <= 40; ++code) {
        f.grid().stepChannelCode(1);
        expected.append(code);
        QCOMPARE(f.grid().hexText(1), QString::number(code, 16).toUpper());
    }
    QCOMPARE(f.dacWrites(), expected);
}

void TestRegisterGrid::controlPanelRefreshedOnlyWhileOpen()
{
    ControlFixture f;
    QSignalSpy refreshes(&f.grid(), &control::RegisterGrid::controlPanelRefreshDue);
    f.grid().refreshAllChannels();
    f.model.controlPanelOpen = 1;
    f.grid().refreshAllChannels();
    f.grid().voltageBoxClicked(2);
    f.grid().stepChannelCode(1); // the spin control does not refresh the panel
    QCOMPARE(refreshes.size(), 1);
}

QTEST_GUILESS_MAIN(TestRegisterGrid)
#include "tst_registergrid.moc"
