#include "control/otpregisterdialog.h"
#include "controlfixture.h"

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
        for (int i = 1; i <= device::channelCount; ++i)
            model.dacCode[i] = 100 + i;
        grid().refreshAllChannels();
        clearEvents();
    }
    void goTo(const QString &name)
    {
        dialog.open();
        while (dialog.name() != name && dialog.position() < OtpRegisterDialog::registerCount - 1)
            dialog.nextRegister();
    }

    OtpRegisterDialog dialog{model, grid(), controller->glue(), stack.chip(), prompts};
};

} // namespace

class TestOtpRegisterDialog : public QObject
{
    Q_OBJECT

private slots:
    void stepsThroughNames();
    void burnsTheNamedRegister_data();
    void burnsTheNamedRegister();
    void burnsModelCodeAtThePress();
};

void TestOtpRegisterDialog::stepsThroughNames()
{
    DialogFixture f;
    f.dialog.open();
    QCOMPARE(f.dialog.name(), QStringLiteral("1"));
    QCOMPARE(f.dialog.hexText(), QStringLiteral("65"));
    f.dialog.previousRegister();
    QCOMPARE(f.dialog.name(), QStringLiteral("1"));

    QStringList names;
    for (int k = 0; k < 25; ++k) {
        f.dialog.nextRegister();
        names.append(f.dialog.name());
    }
    QCOMPARE(names.mid(16), (QStringList{"18", "19", "20", "21", "22", "c1", "c2", "c2", "c2"}));
    f.dialog.open();
    QCOMPARE(f.dialog.name(), QStringLiteral("1"));

    // Typing that the main window has not taken over yet is copied as it stands.
    f.grid().voltageBoxEdited(2, QStringLiteral("3."));
    f.dialog.nextRegister();
    QCOMPARE(f.dialog.voltageText(), QStringLiteral("3."));
}

void TestOtpRegisterDialog::burnsTheNamedRegister_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("a0");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("19") << "19" << 0 << 21 << true;
    QTest::newRow("c1") << "c1" << 0 << 19 << true;
    QTest::newRow("c2") << "c2" << 0 << 20 << true;
    QTest::newRow("19 on the A0 = 1 device") << "19" << 1 << 21 << true;
    QTest::newRow("c1, declined") << "c1" << 0 << 19 << false;
}

void TestOtpRegisterDialog::burnsTheNamedRegister()
{
    QFETCH(QString, name);
    QFETCH(int, a0);
    QFETCH(int, index);
    QFETCH(bool, confirmed);

    DialogFixture f(a0);
    f.grid().setMaxBankText(QStringLiteral("0"));
    f.goTo(name);
    QCOMPARE(f.dialog.hexText(), f.grid().hexText(index));

    f.prompts.answerYes = confirmed;
    QCOMPARE(f.dialog.burnShownRegister(), confirmed);
    const int reg = index - 1;
    QCOMPARE(f.board.chip(a0).otpCell(0, reg),
             confirmed ? std::optional<quint16>(100 + index) : std::nullopt);
    QCOMPARE(f.board.chip(a0).maxBank(), int(confirmed));
    QCOMPARE(f.board.chip(1 - a0).maxBank(), 0);
    QCOMPARE(f.grid().maxBankText(), QString::number(int(confirmed)));
    if (!confirmed) // not even a reset
        QVERIFY(f.board.chip(0).events().isEmpty() && f.board.chip(1).events().isEmpty());
    // The question names the register and the device.
    QCOMPARE(f.prompts.questions.size(), 1);
    const QString question = f.prompts.questions.value(0);
    QVERIFY(question.contains(QLatin1Char('"') + name + QLatin1Char('"')));
    QVERIFY(question.contains(QStringLiteral("0x%1").arg(reg, 2, 16, QLatin1Char('0'))));
    QVERIFY(question.contains(QStringLiteral("A0 = %1").arg(a0)));
}

void TestOtpRegisterDialog::burnsModelCodeAtThePress()
{
    DialogFixture f;
    f.goTo(QStringLiteral("5"));
    const QString shownHex = f.dialog.hexText();
    f.grid().voltageBoxEdited(5, QStringLiteral("9.99"));
    f.grid().voltageBoxLeft(5);
    QCOMPARE(f.dialog.hexText(), shownHex); // the dialog's copy does not follow

    f.clearEvents();
    f.prompts.answerYes = true;
    f.dialog.burnShownRegister();
    const QList<ChipEvent> expected{
        {ChipEvent::Kind::PointerWrite, 0x04, 0}, {ChipEvent::Kind::OtpWrite, 0x04, 1023},
        {ChipEvent::Kind::Reset, 0, 1},           {ChipEvent::Kind::PointerWrite, 0x3F, 0},
        {ChipEvent::Kind::RegisterRead, 0x3F, 1},
    };
    QCOMPARE(f.chip0().events(), expected);
    QVERIFY(f.prompts.questions.value(0).contains(QStringLiteral("3FFh")));
    QCOMPARE(f.dialog.hexText(), shownHex);
}

QTEST_GUILESS_MAIN(TestOtpRegisterDialog)
#include "tst_otpregisterdialog.moc"
