#include "control/burnreport.h"
#include "control/otpregisterdialog.h"
#include "control/statusline.h"
#include "controlfixture.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"

#include <QSettings>
#include <QTest>
#include <cmath>

using sim::ChipEvent;

namespace {

int otpWrites(const sim::SimulatedChip &chip)
{
    int count = 0;
    for (const ChipEvent &e : chip.events())
        count += e.kind == ChipEvent::Kind::OtpWrite;
    return count;
}

// Channel i holds code 100 + i in the chip's DAC register and on screen; nothing burned yet.
struct BurnFixture : ControlFixture
{
    BurnFixture()
    {
        model.vsup = 10;
        for (int i = 1; i <= device::channelCount; ++i)
            model.dacCode[i] = 100 + i;
        grid().refreshAllChannels();
        prompts.answerYes = true;
        clearEvents();
    }
};

} // namespace

// The screen says what the chip holds, after loads, burns and the batch window's reload.
class TestChipTruth : public QObject
{
    Q_OBJECT

private slots:
    void loadedCodesAreWhatTheChipGot_data();
    void loadedCodesAreWhatTheChipGot();
    void batchWindowKeepsChipAndVsup();
    void burnReadsBackAndReports_data();
    void burnReadsBackAndReports();
    void noBankLeftBurnsNothing();
    void portChosenInDialogIsRead();
};

void TestChipTruth::loadedCodesAreWhatTheChipGot_data()
{
    QTest::addColumn<double>("code");
    QTest::newRow("fraction") << 512.7;
    QTest::newRow("negative") << -5.0;
    QTest::newRow("beyond full scale") << 2000.0;
    QTest::newRow("full scale") << 1024.0;
}

void TestChipTruth::loadedCodesAreWhatTheChipGot()
{
    QFETCH(double, code);
    ControlFixture f;
    device::RegisterSet set;
    set.vsup = 10;
    set.codes.fill(100);
    set.codes[2] = code;
    f.grid().loadRegisterSet(set);
    const double shown = f.model.dacCode[3];
    // A code the chip can hold (1024 is full scale, sent as 1023), the one it got last.
    QVERIFY(shown >= 0 && shown <= 1024 && shown == std::floor(shown));
    QCOMPARE(int(std::min(shown, 1023.0)), int(f.chip0().dacRegister(2)));
    QCOMPARE(f.grid().hexText(3), device::shownCode(shown));
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 10"));
}

void TestChipTruth::batchWindowKeepsChipAndVsup()
{
    ControlFixture f;
    device::DeviceModel stored;
    stored.vrefHigh = {10, 10};
    QVERIFY(f.settings.saveAtExit(stored, {1, 9600}));
    f.controller->loadSettings();
    f.controller->changeAddress();
    f.grid().vsupBoxEdited(QStringLiteral("2.5"));
    f.grid().vsupBoxLeft();

    f.controller->openingBatchWindow();
    QCOMPARE(f.model.a0Pin, QStringLiteral("1"));
    QCOMPARE(f.model.vsup, 2.5);
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 2.5"));
}

void TestChipTruth::burnReadsBackAndReports_data()
{
    QTest::addColumn<bool>("single");
    QTest::newRow("one register") << true;
    QTest::newRow("all channels") << false;
}

void TestChipTruth::burnReadsBackAndReports()
{
    QFETCH(bool, single);
    BurnFixture f;
    if (single) {
        control::OtpRegisterDialog dialog{f.model, f.grid(), *f.operations, f.prompts};
        dialog.open();
        for (int k = 0; k < 4; ++k)
            dialog.nextRegister(); // "5"
        QVERIFY(dialog.burnShownRegister());
    } else {
        f.controller->programOtpAllChannels();
    }
    // The reset after the burn reloads every register from OTP: unburned ones read 0.
    for (int i = 1; i <= device::channelCount; ++i) {
        const int held = f.chip0().dacRegister(i - 1);
        QCOMPARE(held, single && i != 5 ? 0 : 100 + i);
        QCOMPARE(f.grid().hexText(i), device::shownCode(held));
    }
    QCOMPARE(f.prompts.errors, QStringList());
    QCOMPARE(f.prompts.messages.size(), 1);
    const QString report = f.prompts.messages.first();
    QVERIFY(report.contains(QStringLiteral("Max Bank: 0 before, 1 after.")));
    QVERIFY(report.contains(QStringLiteral("every burned register holds its code")));
}

void TestChipTruth::noBankLeftBurnsNothing()
{
    BurnFixture f;
    for (int bank = 1; bank <= control::ChipOperations::otpBankCount; ++bank)
        f.controller->programOtpAllChannels();
    QCOMPARE(f.chip0().maxBank(), 3);
    f.clearEvents();
    f.prompts.questions.clear();

    f.controller->programOtpAllChannels();
    control::OtpRegisterDialog dialog{f.model, f.grid(), *f.operations, f.prompts};
    dialog.open();
    QVERIFY(!dialog.burnShownRegister());
    QCOMPARE(otpWrites(f.chip0()), 0);
    QVERIFY(f.prompts.questions.isEmpty());
    QCOMPARE(f.prompts.errors.size(), 2);
    QVERIFY(f.prompts.errors.first().contains(QStringLiteral("All 3 OTP banks")));

    f.board.setChipPresent(0, false); // a silent chip is not mistaken for a full one
    f.controller->programOtpAllChannels();
    QVERIFY(f.prompts.errors.last().contains(QStringLiteral("no chip answered")));
}

void TestChipTruth::portChosenInDialogIsRead()
{
    ControlFixture f(false);
    control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
    QVERIFY(status.portText().contains(QStringLiteral("\"COM Setting\"")));
    port::PortManager &ports = f.stack.ports();
    ports.setPortNumber(1);
    ports.setBitRate(9600);
    ports.probeComPorts();
    ports.openSelectedComPort();
    f.controller->portSettingsClosed(0);
    QVERIFY(f.chip0().events().contains(ChipEvent{ChipEvent::Kind::RegisterRead, 0x3F, 0}));
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestChipTruth)
#include "tst_chiptruth.moc"
