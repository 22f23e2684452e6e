// SPDX-License-Identifier: MIT
#include "controlfixture.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>

using device::channelCount;

class TestRegisterGrid : public QObject
{
    Q_OBJECT

private slots:
    void edits_data()
    {
        QTest::addColumn<double>("vsup");
        QTest::addColumn<double>("code");
        QTest::addColumn<QString>("typed"); // typed into the box and left; a spin step when null
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("newCode");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("hint"); // the status bar says why the voltage was not taken
        // Typing writes once, leaving writes twice: the rewritten text's change handling, the
        // check.
        const auto typed = [](const char *name, double vsup, const char *text, double code,
                              const char *shown, bool hint = false) {
            const int sent = std::min(int(code), 1023);
            QTest::newRow(name) << vsup << 300.0 << QString::fromLatin1(text) << 0 << code << shown
                                << QList<int>(3, sent) << hint;
        };
        typed("above vsup: full scale", 10, "12", 1024, " 10");
        typed("below vlow clamps", 10, "-1", 0, " 0");
        typed("rounded, shown truncated", 10, ".25", 26, " .253");
        typed("Vsup 0: code kept, and why", 0, "3", 300, " 0", true);
        typed("Vsup 0, typed 0: nothing to explain", 0, "0.0", 300, " 0");
        const auto spin = [](const char *name, double code, int step, double newCode,
                             const char *shown, const QList<int> &sent) {
            QTest::newRow(name) << 10.0 << code << QString() << step << newCode << shown << sent
                                << false;
        };
        spin("up from 512", 512, 1, 513, " 5.009", {513});
        spin("up at 1023", 1023, 1, 1023, " 9.99", {});
        spin("down at 0", 0, -1, 0, " 0", {});
        spin("down from full scale", 1024, -1, 1023, " 9.99", {1023});
    }

    void edits()
    {
        QFETCH(double, vsup);
        QFETCH(double, code);
        QFETCH(QString, typed);
        QFETCH(int, step);
        QFETCH(double, newCode);
        QFETCH(QString, shown);
        QFETCH(QList<int>, sent);
        QFETCH(bool, hint);
        ControlFixture f;
        f.showCodes(vsup, code);
        QSignalSpy hints(&f.grid(), &control::RegisterGrid::hint);
        f.grid().voltageBoxClicked(7);
        if (typed.isNull()) {
            f.grid().stepChannelCode(step);
        } else {
            f.grid().voltageBoxEdited(7, typed);
            QCOMPARE(f.model.dacCode[7], newCode);                  // at once, while typing
            QCOMPARE(f.grid().hexText(7), device::shownCode(code)); // the box follows only later
            f.grid().voltageBoxLeft(7);
        }
        QCOMPARE(f.model.dacCode[7], newCode);
        QCOMPARE(f.grid().voltageText(7), shown);
        QCOMPARE(f.grid().hexText(7), device::shownCode(newCode));
        QCOMPARE(f.dacWrites(), sent);
        QCOMPARE(hints.size(), int(hint));
        if (hint)
            QVERIFY(hints[0][0].toString().startsWith(QStringLiteral("Vsup is 0 V")));
    }

    void refreshesKeepCodes()
    {
        ControlFixture f;
        // Until the first refresh the boxes hold placeholders.
        QCOMPARE(f.grid().voltageText(19), QStringLiteral("c1"));
        QCOMPARE(f.grid().hexText(21), QStringLiteral("13h"));
        // The control panel is refreshed only while open, by a refresh and by a step.
        QSignalSpy refreshes(&f.grid(), &control::RegisterGrid::controlPanelRefreshDue);
        f.grid().refreshAllChannels();
        f.model.controlPanelOpen = 1;
        f.grid().refreshAllChannels();
        f.grid().voltageBoxClicked(2);
        f.grid().stepChannelCode(1);
        QCOMPARE(refreshes.size(), 2);

        // At 0.5 V neighbouring codes share a millivolt.
        for (const double vsup : {1.8, 0.5, 3.3}) {
            f.showCodes(vsup, 0);
            // Reading the program's own truncated text back must not move a code.
            for (int code = 0; code <= 1024; ++code) {
                const int channel = 1 + code % channelCount;
                f.model.dacCode[channel] = code;
                f.grid().refreshAllChannels();
                f.grid().voltageBoxLeft(channel);
                QCOMPARE(f.model.dacCode[channel], double(code));
            }
            // Every spin step reaches the chip, even where two codes share a millivolt text.
            f.showCodes(vsup, 16);
            f.grid().voltageBoxClicked(1);
            QList<int> expected;
            for (int code = 17; code <= 40; ++code) {
                f.grid().stepChannelCode(1);
                expected.append(code);
                QCOMPARE(f.grid().hexText(1), QString::number(code, 16).toUpper());
            }
            QCOMPARE(f.dacWrites(), expected);
        }
    }

    void loadedCodesAreWhatTheChipGot()
    {
        // A fraction, a negative, beyond full scale, and full scale itself.
        for (const double code : {512.7, -5.0, 2000.0, 1024.0}) {
            ControlFixture f;
            device::RegisterSet set;
            set.vsup = 10;
            set.codes.fill(100);
            set.codes[2] = code;
            f.grid().loadRegisterSet(set);
            const double shown = f.model.dacCode[3];
            // A code the chip can hold (1024 is full scale, sent as 1023), the one it got last.
            QVERIFY2(shown >= 0 && shown <= 1024 && shown == std::floor(shown),
                     qPrintable(QString::number(code)));
            QCOMPARE(int(std::min(shown, 1023.0)), int(f.chip0().dacRegister(2)));
            QCOMPARE(f.grid().hexText(3), device::shownCode(shown));
            QCOMPARE(f.grid().vsupText(), QStringLiteral(" 10"));
        }
    }

    // A step on a channel whose code is not known starts from what the chip holds, never from
    // a stale code; where the chip cannot be read, nothing is written.
    void stepOnAnUnknownChannelReadsItFirst()
    {
        ControlFixture f;
        f.showCodes(10, 0);
        f.model.dacCode[22] = 920; // another chip's code, say, left behind
        f.model.codeUnknown[22] = true;
        f.grid().voltageBoxClicked(22);
        f.grid().stepChannelCode(1);
        QCOMPARE(f.dacWrites(), QList<int>{1});
        QCOMPARE(int(f.chip0().dacRegister(21)), 1);
        QCOMPARE(f.grid().hexText(22), QStringLiteral("1"));
        QVERIFY(!f.model.codeUnknown[22]);

        f.clearEvents();
        f.model.codeUnknown[22] = true;
        f.board.setChipPresent(0, false);
        f.grid().stepChannelCode(-1);
        QVERIFY(f.dacWrites().isEmpty());
        QVERIFY(f.model.codeUnknown[22]);
        QCOMPARE(f.grid().hexText(22), QStringLiteral("1")); // as the refresh left it
    }
};

QTEST_GUILESS_MAIN(TestRegisterGrid)
#include "tst_registergrid.moc"
