#include "controlfixture.h"
#include "ui/dialogs/otpdialog.h"
#include "ui/widgets/spinarrows.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestOtpDialog : public QObject
{
    Q_OBJECT

private slots:
    void chooseBurnAndReload();
};

void TestOtpDialog::chooseBurnAndReload()
{
    ControlFixture f;
    for (int i = 1; i <= device::channelCount; ++i)
        f.model.dacCode[i] = 100 + i;
    f.grid().refreshAllChannels();
    ui::OtpDialog dialog(f.model, f.grid(), *f.operations, f.prompts);
    dialog.showDialog();
    QVERIFY(!dialog.isModal());
    auto *arrows = dialog.findChild<ui::SpinArrows *>();
    const auto *name = dialog.findChild<QLabel *>(QStringLiteral("registerName"));
    arrows->upArrow()->click();
    QCOMPARE(name->text(), QStringLiteral("1"));
    for (int k = 0; k < 22; ++k)
        arrows->downArrow()->click();
    QCOMPARE(name->text(), QStringLiteral("c1"));
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("voltageText"))->text(),
             f.grid().voltageText(19));
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("hexText"))->text(),
             QStringLiteral("77"));

    f.prompts.answerYes = true;
    dialog.findChild<QPushButton *>()->click();
    QCOMPARE(f.chip0().otpCell(0, 0x12), std::optional<quint16>(119));
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("1"));
    QVERIFY(dialog.isVisible());

    dialog.showDialog(); // brought forward, not loaded again
    QCOMPARE(name->text(), QStringLiteral("c1"));
    dialog.close();
    dialog.showDialog();
    QCOMPARE(name->text(), QStringLiteral("1"));
}

QTEST_MAIN(TestOtpDialog)
#include "tst_otpdialog.moc"
