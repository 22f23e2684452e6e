// SPDX-License-Identifier: MIT
#include "control/otpregisterdialog.h"
#include "controlfixture.h"
#include "device/numbertext.h"

#include <QTest>

using control::OtpRegisterDialog;
using sim::ChipEvent;

namespace {

// The program with channel i at code 100 + i, shown in the grid, and the dialog.
struct DialogFixture : ControlFixture
{
    explicit DialogFixture(int a0 = 0)
    {
        model.a0Pin = QString::number(a0);
        showCodes(10, 100, 1);
    }

    OtpRegisterDialog dialog{model, grid(), *operations, prompts};
};

} // namespace

class TestOtpRegisterDialog : public QObject
{
    Q_OBJECT

private slots:
    void stepsThroughNames()
    {
        DialogFixture f;
        f.dialog.open();
        f.dialog.previousRegister();
        QCOMPARE(f.dialog.hexText(), QStringLiteral("65"));
        QStringList names;
        for (int k = 0; k < 25; ++k, f.dialog.nextRegister())
            names.append(f.dialog.name());
        QCOMPARE(names.mid(16),
                 (QStringList{"17", "18", "19", "20", "21", "22", "c1", "c2", "c2"}));

        // Typing that the main window has not taken over yet is copied as it stands.
        f.grid().voltageBoxEdited(2, QStringLiteral("3."));
        f.dialog.open();
        f.dialog.nextRegister();
        QCOMPARE(f.dialog.voltageText(), QStringLiteral("3."));
    }

    void burnsTheNamedRegister_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("a0");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("c1") << "c1" << 0 << 19 << true;
        QTest::newRow("c2") << "c2" << 0 << 20 << true;
        QTest::newRow("19 on the A0 = 1 device") << "19" << 1 << 21 << true;
        QTest::newRow("c1, declined") << "c1" << 0 << 19 << false;
    }

    void burnsTheNamedRegister()
    {
        QFETCH(QString, name);
        QFETCH(int, a0);
        QFETCH(int, index);
        QFETCH(bool, confirmed);

        DialogFixture f(a0);
        f.grid().setMaxBankText(QStringLiteral("0"));
        f.dialog.open();
        while (f.dialog.name() != name &&
               f.dialog.position() < OtpRegisterDialog::registerCount - 1)
            f.dialog.nextRegister();
        const QString shownHex = f.dialog.hexText();
        QCOMPARE(shownHex, f.grid().hexText(index));
        // The main window changes the code after the dialog has shown it: the model's code burns.
        f.grid().voltageBoxEdited(index, QStringLiteral("9.99"));
        f.grid().voltageBoxLeft(index);
        f.clearEvents();

        f.prompts.answerYes = confirmed;
        QCOMPARE(f.dialog.burnShownRegister(), confirmed);
        QCOMPARE(f.dialog.hexText(), shownHex); // the dialog's copy does not follow
        const int reg = index - 1;
        // The max bank first; after the burn and its reset, the max bank and every register.
        using Kind = ChipEvent::Kind;
        QList<ChipEvent> expected{{Kind::PointerWrite, 0x3F, 0}, {Kind::RegisterRead, 0x3F, 0}};
        if (confirmed)
            expected += {{Kind::PointerWrite, reg, 0},
                         {Kind::OtpWrite, reg, 1023},
                         {Kind::Reset, 0, 1},
                         {Kind::PointerWrite, 0x3F, 0},
                         {Kind::RegisterRead, 0x3F, 1}};
        // Declined: nothing after the max bank.
        QCOMPARE(f.board.chip(a0).events().mid(0, expected.size() + !confirmed), expected);
        QCOMPARE(f.board.chip(1 - a0).maxBank(), 0);
        QCOMPARE(f.board.chip(1 - a0).events().size(), int(confirmed)); // the general call only
        QCOMPARE(f.grid().maxBankText(), QString::number(int(confirmed)));
        // The question names the code, the register and the device.
        QCOMPARE(f.prompts.questions.size(), 1);
        const QString question = f.prompts.questions.value(0);
        QVERIFY(question.contains(QLatin1Char('"') + name + QLatin1Char('"')));
        const QString address = QStringLiteral("%1").arg(reg, 2, 16, QLatin1Char('0')).toUpper();
        QVERIFY2(question.contains(QStringLiteral("(address %1h)").arg(address)),
                 qPrintable(question));
        QVERIFY(question.contains(QStringLiteral("A0 = %1").arg(a0)));
        QVERIFY(question.contains(QStringLiteral("3FFh")));
        if (!confirmed)
            return;
        // The reset after the burn reloads every register from OTP: the grid shows what the chip
        // holds.
        for (int i = 1; i <= device::channelCount; ++i)
            QCOMPARE(f.grid().hexText(i), device::shownCode(f.board.chip(a0).dacRegister(i - 1)));
        QCOMPARE(f.prompts.errors, QStringList()); // the report's text is checked with burn-all
        QCOMPARE(f.prompts.messages.size(), 1);
        // The reset reloaded the other channels too (unburned cells hold 0), and the other chip.
        const QString report = f.prompts.messages[0];
        QVERIFY2(report.contains(QStringLiteral("reloaded every register of both chips")) &&
                     report.contains(QStringLiteral("A0 = %1 was not read").arg(1 - a0)),
                 qPrintable(report));
        // Channel 1 showed code 101: 10 V * 101 / 1024 = 0.986 V.
        QVERIFY2(report.contains(QStringLiteral("channel 1: .986 V (65h) before, 0 V (0h) now")),
                 qPrintable(report));
        QVERIFY(!report.contains(QStringLiteral("channel %1:").arg(name)));
    }

    void noBankLeftBurnsNothing()
    {
        DialogFixture f;
        f.prompts.answerYes = true;
        for (int bank = 1; bank <= control::ChipOperations::otpBankCount; ++bank)
            f.controller->programOtpAllChannels();
        QCOMPARE(f.chip0().maxBank(), 3);
        f.clearEvents();
        f.prompts.questions.clear();
        f.prompts.errors.clear();

        f.controller->programOtpAllChannels();
        f.dialog.open();
        QVERIFY(!f.dialog.burnShownRegister());
        QVERIFY(f.events(ChipEvent::Kind::OtpWrite).isEmpty());
        QVERIFY(f.prompts.questions.isEmpty());
        QCOMPARE(f.prompts.errors.size(), 2);
        QVERIFY(f.prompts.errors.first().contains(
            QStringLiteral("Nothing was burned: all 3 OTP banks")));

        f.board.setChipPresent(0, false); // a silent chip is not mistaken for a full one
        f.controller->programOtpAllChannels();
        QVERIFY(f.prompts.errors.last().contains(QStringLiteral("no chip answered")));
    }
};

QTEST_GUILESS_MAIN(TestOtpRegisterDialog)
#include "tst_otpregisterdialog.moc"
