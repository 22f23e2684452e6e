// SPDX-License-Identifier: MIT
#include "control/burnreport.h"
#include "control/portchipchecks.h"
#include "control/portsettingscontroller.h"
#include "control/statusline.h"
#include "controlfixture.h"
#include "sim/simulatedcomport.h"

#include <QTest>

using control::BurnReport;
using control::BurnResult;
using control::ChipOperations;
using sim::ChipEvent;
using Operation = std::function<control::OperationResult(ChipOperations &)>;
Q_DECLARE_METATYPE(Operation)

namespace {

// Bus clears as the board's lines show them (bit 0 DTR asserted, bit 1 RTS asserted). A clear
// ends in a START followed at once by a STOP: from both lines released, SDA is pulled low and
// let go again while SCL stays high. No frame does that: its START is followed by clocks.
int busClearsOn(const QByteArray &lineLog)
{
    constexpr char released = 0;
    constexpr char sdaLowSclHigh = 2;
    QByteArray states; // each line state once, in order
    for (const char state : lineLog) {
        if (states.isEmpty() || states.back() != state)
            states.append(state);
    }
    int clears = 0;
    for (qsizetype i = 2; i < states.size(); ++i) {
        if (states[i - 2] == released && states[i - 1] == sdaLowSclHigh && states[i] == released)
            ++clears;
    }
    return clears;
}

} // namespace

// A bus that is not clean, against the simulated board: frames cut off by a failing port, a chip
// holding SDA, DSR stuck, OTP cells and banks that do not take a burn. What the program says must
// be what happened on the chip.
class TestDirtyBus : public QObject
{
    Q_OBJECT

private slots:
    // The adapter is pulled (a run killed) at every line operation of a register read; the next
    // run opens the port and reads a register: it must get the right code, and nothing may have
    // been written on the way.
    void interruptedReadLeavesNoWrongCode()
    {
        const int operationsOfARead = 118 + 3 + 172 + 18;
        int wrong = 0;
        for (int cut = 0; cut < operationsOfARead; ++cut) {
            ControlFixture f;
            for (int reg = 0; reg < device::channelCount; ++reg)
                f.chip0().setDacRegister(reg, quint16(0x155 + reg));
            f.stack.simulatedPort().unplugAfter(cut);
            QVERIFY(!f.operations->readChannel(QStringLiteral("0"), 3).portHeld());
            f.openPort();
            const control::ChannelReading reading =
                f.operations->readChannel(QStringLiteral("0"), 7);
            if (reading.word != 0x155 + 6 || !reading.chipAnswered)
                ++wrong;
            QVERIFY(f.events(ChipEvent::Kind::DacWrite).isEmpty());
            QVERIFY(f.events(ChipEvent::Kind::OtpWrite).isEmpty());
        }
        QVERIFY2(wrong == 0, qPrintable(QString::number(wrong)));
    }

    // A chip stuck inside a read is clocked free before the first frame; SDA that stays low is
    // named, and nothing is burned.
    void heldBusIsClearedOrReported()
    {
        ControlFixture f(false);
        f.board.keepLineLog(true);
        control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
        connect(f.operations.get(), &ChipOperations::chipHeard, &status,
                &control::StatusLine::chipHeard);
        for (int reg = 0; reg < device::channelCount; ++reg)
            f.chip0().setDacRegister(reg, quint16(100 + reg));
        f.board.freezeChipMidRead(0);
        f.openPort(); // the open checks the bus and clears it
        QVERIFY(f.board.sda());
        f.controller->readAllRegisters();
        QVERIFY(f.model.unknownChannels().isEmpty());
        QCOMPARE(f.model.dacCode[24], 123.0);
        QCOMPARE(busClearsOn(f.board.lineLog()), 1);
        // Stuck again between two operations: the next frame's START clears it.
        f.board.freezeChipMidRead(0);
        f.controller->readAllRegisters();
        QCOMPARE(f.model.dacCode[1], 100.0);
        QCOMPARE(busClearsOn(f.board.lineLog()), 2);

        f.board.setDsrWiring(sim::SimulatedBoard::DsrWiring::StuckAsserted);
        f.clearEvents();
        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        QVERIFY(f.prompts.questions.isEmpty()); // refused before anyone is asked
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY2(
            f.prompts.errors[0].startsWith(QStringLiteral("Nothing was burned: SDA is held low")),
            qPrintable(f.prompts.errors[0]));
        QVERIFY(f.events(ChipEvent::Kind::OtpWrite).isEmpty());
        QVERIFY(!f.chip0().otpCell(0, 0));
        QVERIFY(status.silenceText().startsWith(QStringLiteral("SDA is held low")));
        // What the window shows is what it read: nothing, now.
        f.controller->readAllRegisters();
        QCOMPARE(f.model.unknownChannels().size(), device::channelCount);
        QCOMPARE(f.grid().maxBankText(), QString());
    }

    // The report of every burn that does not verify is an error that says why; only a verified
    // burn is a plain message.
    void unverifiedBurnIsReportedAsSuch_data()
    {
        QTest::addColumn<int>("deadChannel");
        QTest::addColumn<bool>("bankStaysOpen");
        QTest::addColumn<int>("firstCode"); // of channel 1; channel i has firstCode + i - 1
        QTest::addColumn<QStringList>("said");
        QTest::newRow("a cell that does not take the burn")
            << 5 << false << 500
            << QStringList{"but the burn is not verified", "Max Bank: 0 before, 1 after.",
                           "  channel 5: burned 1F8h, reads 0h"};
        QTest::newRow("a bank that does not close")
            << 0 << true << 500
            << QStringList{"but the burn is not verified", "Max Bank: 0 before, 0 after.",
                           "did not close a new bank", "  channel 1: burned 1F4h, reads 0h",
                           "  channel 22: burned 20Bh, reads 0h"};
        // Every register reads back 0 after the reset whether the bank closed or not: only the
        // max bank tells.
        QTest::newRow("a bank that does not close, codes of 0")
            << 0 << true << 0
            << QStringList{"but the burn is not verified", "Max Bank: 0 before, 0 after.",
                           "did not close a new bank"};
        QTest::newRow("a clean burn")
            << 0 << false << 500 << QStringList{"verified it", "Max Bank: 0 before, 1 after."};
    }

    void unverifiedBurnIsReportedAsSuch()
    {
        QFETCH(int, deadChannel);
        QFETCH(bool, bankStaysOpen);
        QFETCH(int, firstCode);
        QFETCH(QStringList, said);
        ControlFixture f;
        for (int i = 1; i <= device::channelCount; ++i)
            f.board.chip(0).setDacRegister(i - 1, quint16(firstCode ? firstCode + i - 1 : 0));
        if (deadChannel)
            f.chip0().setDeadOtpCell(device::registerOfChannel(deadChannel), true);
        f.chip0().setBankStaysOpen(bankStaysOpen);
        f.controller->readAllRegisters();
        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        const bool clean = !deadChannel && !bankStaysOpen;
        QCOMPARE(f.prompts.errors.size(), clean ? 0 : 1);
        QCOMPARE(f.prompts.messages.size(), clean ? 1 : 0);
        const QString report = clean ? f.prompts.messages.value(0) : f.prompts.errors.value(0);
        for (const QString &line : said)
            QVERIFY2(report.contains(line), qPrintable(report));
        // Listed are exactly the registers that do not hold their code.
        const int listed = int(report.count(QStringLiteral(": burned ")));
        QCOMPARE(listed, bankStaysOpen && firstCode ? device::channelCount : (deadChannel ? 1 : 0));
        // The grid shows what the chip holds after the reset.
        for (int i = 1; i <= device::channelCount; ++i)
            QCOMPARE(f.model.dacCode[i], double(f.chip0().dacRegister(i - 1)));
        QCOMPARE(f.grid().maxBankText(), QString::number(f.chip0().maxBank()));
    }

    // A burn cut by a port failure is headed by what happened, and nothing unread is shown as
    // read. Counted in line operations from the burn's start: the max-bank read (311), then 24
    // OTP writes of 231, the reset (121), the max bank and the read-back.
    void burnCutByThePortSaysWhatHappened_data()
    {
        QTest::addColumn<int>("unplugAfter");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("maxBank");
        QTest::newRow("in the max-bank read") << 100 << "Nothing was burned: the port failed"
                                              << "";
        QTest::newRow("in the first OTP write")
            << 400
            << "The burn of the codes of all 24 channels into OTP of the device with "
               "A0 = 0 was interrupted: the port failed"
            << "Max Bank: 0 before, not read after.";
        QTest::newRow("in the read-back")
            << 9000
            << "Burned the codes of all 24 channels into OTP of the device with A0 = 0, "
               "but the burn is not verified."
            << "Max Bank: 0 before, 1 after.";
    }

    void burnCutByThePortSaysWhatHappened()
    {
        QFETCH(int, unplugAfter);
        QFETCH(QString, headline);
        QFETCH(QString, maxBank);
        ControlFixture f;
        f.showCodes(10, 100);
        f.prompts.answerYes = true;
        f.stack.simulatedPort().unplugAfter(unplugAfter);
        f.controller->programOtpAllChannels();
        QCOMPARE(f.prompts.messages.size(), 0);
        QCOMPARE(f.prompts.errors.size(), 1);
        const QString report = f.prompts.errors[0];
        QVERIFY2(report.startsWith(headline), qPrintable(report));
        QVERIFY2(maxBank.isEmpty() ? !report.contains(QStringLiteral("before,"))
                                   : report.contains(maxBank),
                 qPrintable(report));
        QVERIFY(!report.contains(QStringLiteral("verified it")));
        // A max bank that was not read is not shown.
        const QString shown = f.grid().maxBankText();
        QVERIFY(shown.isEmpty() || shown == QString::number(f.chip0().maxBank()));
    }

    // A port that fails under the scan or the wiring check is reported as a port failure, not as
    // a finding about the chips or the wiring, and no A0 is offered.
    void checksReportAPortThatFailsUnderThem_data()
    {
        QTest::addColumn<int>("unplugAfter");
        QTest::newRow("at once") << 0;
        QTest::newRow("in the first probe") << 30;
        QTest::newRow("in the second probe") << 80;
    }

    void checksReportAPortThatFailsUnderThem()
    {
        QFETCH(int, unplugAfter);
        ControlFixture f;
        f.board.setChipPresent(0, false); // only the other chip answers: A0 would be offered
        f.stack.simulatedPort().unplugAfter(unplugAfter);
        const control::ChipScan scan = f.operations->findChips();
        QVERIFY(!scan.portHeld());

        f.openPort();
        f.stack.simulatedPort().unplugAfter(unplugAfter / 10);
        QVERIFY(!f.operations->checkWiring().portHeld());

        f.openPort();
        f.prompts.answerYes = true;
        control::PortSettingsController controller(f.stack.ports(), f.stack.portMap());
        controller.load();
        f.stack.simulatedPort().unplugAfter(unplugAfter / 10);
        control::PortChipChecks checks(f.stack.ports(), *f.operations, QStringLiteral("0"),
                                       f.prompts);
        controller.attachChecks(checks);
        QVERIFY2(checks.wiringText().contains(QStringLiteral("the port failed")),
                 qPrintable(checks.wiringText()));
        f.openPort();
        f.stack.simulatedPort().unplugAfter(unplugAfter);
        checks.findChips();
        QVERIFY2(checks.chipsText().startsWith(QStringLiteral("The port failed")),
                 qPrintable(checks.chipsText()));
        QVERIFY(!checks.switchA0Chosen());
        QVERIFY(f.prompts.questions.isEmpty());
    }

    // On an adapter that sends whole frames, a chip stuck in a read is cleared before the first
    // frame of each operation, and no burn goes out on a held bus.
    void fastModeChecksTheBusFirst()
    {
        ControlFixture f(false);
        const port::PortOverride adapter =
            port::PortMap::parseOverride(QStringLiteral("COM1=sim-ft232r"));
        f.stack.route({missingDevicePorts(f.dir), false, {adapter}});
        for (int reg = 0; reg < device::channelCount; ++reg)
            f.chip0().setDacRegister(reg, quint16(300 + reg));
        f.openPort();
        QVERIFY(f.stack.mappedPort().inFastMode());
        f.board.freezeChipMidRead(0); // after the open's own check
        const control::ChipReading reading = f.operations->readAll(QStringLiteral("0"));
        QVERIFY(reading.chipAnswered && !reading.busHeld);
        QCOMPARE(reading.word(24), 323);

        // A frame sent on a held bus counts for nothing, and the bus is cleared after it.
        f.board.freezeChipMidRead(0);
        f.stack.chip().readRegisterWord(QStringLiteral("0"));
        QVERIFY(f.stack.chip().busHeld());
        QCOMPARE(f.operations->readChannel(QStringLiteral("0"), 2).word, 301);

        f.board.setDsrWiring(sim::SimulatedBoard::DsrWiring::StuckAsserted);
        const BurnResult burned =
            f.operations->burn(QStringLiteral("0"), {5}, control::ChannelCodes{});
        QCOMPARE(burned.refusal, BurnResult::Refusal::BusHeld);
        QCOMPARE(BurnReport(burned).verdict(), BurnReport::Verdict::NothingBurned);
        QVERIFY(f.events(ChipEvent::Kind::OtpWrite).isEmpty());
    }

    void silenceMidwayIsNotHeard_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::newRow("read all") << Operation([](ChipOperations &o) -> control::OperationResult {
            const control::ChipReading reading = o.readAll(QStringLiteral("0"));
            // Channels 6 and 7 went unanswered; those around them and the max bank were read.
            if (!reading.wasRead(5) || reading.wasRead(6) || reading.wasRead(7) ||
                !reading.wasRead(8) || !reading.maxBankAnswered)
                return {QStringLiteral("wrong channels"), false, false, true};
            return reading;
        });
        QTest::newRow("load") << Operation([](ChipOperations &o) {
            control::ChannelCodes codes;
            codes.fill(300);
            return o.loadCodes(QStringLiteral("0"), codes, {});
        });
    }

    // The chip stops answering for two channels in the middle of an operation and answers again
    // for the last: the operation was not answered whole, whatever its last frame heard.
    void silenceMidwayIsNotHeard()
    {
        QFETCH(Operation, operation);
        ControlFixture f;
        connect(f.operations.get(), &ChipOperations::progressed, this, [&](int done) {
            if (done == 5 || done == 7)
                f.board.setChipPresent(0, done == 7);
        });
        const control::OperationResult result = operation(*f.operations);
        QVERIFY2(result.portHeld(), qPrintable(result.portFailure));
        QVERIFY(!result.chipAnswered);
    }

    void portFailureIsNotASilentChip_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::newRow("read a channel") << Operation([](ChipOperations &o) {
            return control::OperationResult(o.readChannel(QStringLiteral("0"), 3));
        });
        QTest::newRow("read all") << Operation([](ChipOperations &o) {
            return control::OperationResult(o.readAll(QStringLiteral("0")));
        });
        QTest::newRow("write a channel") << Operation(
            [](ChipOperations &o) { return o.writeChannel(QStringLiteral("0"), 3, 500); });
        QTest::newRow("load") << Operation([](ChipOperations &o) {
            control::ChannelCodes codes;
            codes.fill(300);
            return o.loadCodes(QStringLiteral("0"), codes, {});
        });
        QTest::newRow("reset") << Operation([](ChipOperations &o) { return o.reset(); });
    }

    // A port that fails under an operation is named as such, not taken for a chip that keeps
    // silent, and the status bar says so.
    void portFailureIsNotASilentChip()
    {
        QFETCH(Operation, operation);
        ControlFixture f;
        control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
        connect(f.operations.get(), &ChipOperations::chipHeard, &status,
                &control::StatusLine::chipHeard);
        f.stack.simulatedPort().unplugAfter(40);
        const control::OperationResult result = operation(*f.operations);
        QVERIFY(!result.portHeld());
        QVERIFY(!f.stack.ports().comPort().isOpen());
        QVERIFY2(status.silenceText().isEmpty(), qPrintable(status.silenceText()));
        QVERIFY2(status.portText().startsWith(QStringLiteral("No port open (")),
                 qPrintable(status.portText()));
    }
};

QTEST_GUILESS_MAIN(TestDirtyBus)
#include "tst_dirtybus.moc"
