#include "control/otpregisterdialog.h"
#include "controlfixture.h"

#include <QTest>

using control::OtpRegisterDialog;
using sim::ChipEvent;

namespace {

// Channel i at code 100 + i, shown in the grid.
void showDistinctCodes(ControlFixture &f)
{
    for (int i = 1; i <= device::channelCount; ++i)
        f.model.dacCode[i] = 100 + i;
    f.grid().refreshAllChannels();
    f.clearEvents();
}

void goTo(OtpRegisterDialog &dialog, const QString &name)
{
    dialog.open();
    while (dialog.name() != name && dialog.position() < OtpRegisterDialog::registerCount - 1)
        dialog.nextRegister();
}

} // namespace

class TestOtpRegisterDialog : public QObject
{
    Q_OBJECT

private slots:
    void stepsThroughNames();
    void burnsTheNamedRegister_data();
    void burnsTheNamedRegister();
    void burnsModelCodeAtThePress();
    void declinedBurnSendsNothing();
};

void TestOtpRegisterDialog::stepsThroughNames()
{
    ControlFixture f;
    showDistinctCodes(f);
    OtpRegisterDialog dialog(f.model, f.grid(), f.controller->glue(), *f.chip, f.prompts);
    dialog.open();
    QCOMPARE(dialog.name(), QStringLiteral("1"));
    QCOMPARE(dialog.hexText(), QStringLiteral("65"));
    dialog.previousRegister();
    QCOMPARE(dialog.name(), QStringLiteral("1"));

    QStringList names;
    for (int k = 0; k < 25; ++k) {
        dialog.nextRegister();
        names.append(dialog.name());
    }
    QCOMPARE(names.mid(16), (QStringList{"18", "19", "20", "21", "22", "c1", "c2", "c2", "c2"}));
    dialog.open();
    QCOMPARE(dialog.name(), QStringLiteral("1"));

    // Typing that the main window has not taken over yet is copied as it stands.
    f.grid().voltageBoxEdited(2, QStringLiteral("3."));
    dialog.nextRegister();
    QCOMPARE(dialog.voltageText(), QStringLiteral("3."));
}

void TestOtpRegisterDialog::burnsTheNamedRegister_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("a0");
    QTest::addColumn<int>("index");
    QTest::newRow("19") << "19" << 0 << 21;
    QTest::newRow("c1") << "c1" << 0 << 19;
    QTest::newRow("c2") << "c2" << 0 << 20;
    QTest::newRow("19 on the A0 = 1 device") << "19" << 1 << 21;
}

void TestOtpRegisterDialog::burnsTheNamedRegister()
{
    QFETCH(QString, name);
    QFETCH(int, a0);
    QFETCH(int, index);

    ControlFixture f;
    f.model.a0Pin = QString::number(a0);
    showDistinctCodes(f);
    OtpRegisterDialog dialog(f.model, f.grid(), f.controller->glue(), *f.chip, f.prompts);
    goTo(dialog, name);
    QCOMPARE(dialog.hexText(), f.grid().hexText(index));

    f.prompts.answerYes = true;
    QVERIFY(dialog.burnShownRegister());
    const int reg = index - 1;
    QCOMPARE(f.board.chip(a0).otpCell(0, reg), std::optional<quint16>(100 + index));
    QCOMPARE(f.board.chip(a0).maxBank(), 1);
    QCOMPARE(f.board.chip(1 - a0).maxBank(), 0);
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("1"));
    // The question names the register and the device.
    const QString question = f.prompts.questions.value(0);
    QVERIFY(question.contains(QLatin1Char('"') + name + QLatin1Char('"')));
    QVERIFY(question.contains(QStringLiteral("0x%1").arg(reg, 2, 16, QLatin1Char('0'))));
    QVERIFY(question.contains(QStringLiteral("A0 = %1").arg(a0)));
}

void TestOtpRegisterDialog::burnsModelCodeAtThePress()
{
    ControlFixture f;
    showDistinctCodes(f);
    OtpRegisterDialog dialog(f.model, f.grid(), f.controller->glue(), *f.chip, f.prompts);
    goTo(dialog, QStringLiteral("5"));
    const QString shownHex = dialog.hexText();
    f.grid().voltageBoxEdited(5, QStringLiteral("9.99"));
    f.grid().voltageBoxLeft(5);
    QCOMPARE(dialog.hexText(), shownHex); // the dialog's copy does not follow

    f.clearEvents();
    f.prompts.answerYes = true;
    dialog.burnShownRegister();
    const QList<ChipEvent> expected{
        {ChipEvent::Kind::PointerWrite, 0x04, 0}, {ChipEvent::Kind::OtpWrite, 0x04, 1023},
        {ChipEvent::Kind::Reset, 0, 1},           {ChipEvent::Kind::PointerWrite, 0x3F, 0},
        {ChipEvent::Kind::RegisterRead, 0x3F, 1},
    };
    QCOMPARE(f.chip0().events(), expected);
    QVERIFY(f.prompts.questions.value(0).contains(QStringLiteral("3FFh")));
    QCOMPARE(dialog.hexText(), shownHex);
}

void TestOtpRegisterDialog::declinedBurnSendsNothing()
{
    ControlFixture f;
    showDistinctCodes(f);
    f.grid().setMaxBankText(QStringLiteral("0"));
    OtpRegisterDialog dialog(f.model, f.grid(), f.controller->glue(), *f.chip, f.prompts);
    goTo(dialog, QStringLiteral("c1"));
    QVERIFY(!dialog.burnShownRegister());
    QCOMPARE(f.prompts.questions.size(), 1);
    QVERIFY(f.chip0().events().isEmpty());
    QVERIFY(f.board.chip(1).events().isEmpty());
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestOtpRegisterDialog)
#include "tst_otpregisterdialog.moc"
