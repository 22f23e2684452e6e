// SPDX-License-Identifier: MIT
#include "linemaster.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"
#include "trace/recordinglines.h"

#include <QTest>

using sim::ChipEvent;
using sim::SimulatedBoard;
using sim::SimulatedChip;
using Kind = ChipEvent::Kind;

// Register values, OTP banks and the general call end to end through the real engine are in
// tests/bus/tst_lineengine.cpp; here the master is hand-made, to check the chips' timing on the
// wire.
namespace {

constexpr auto address = [](int a0) { return 0x74 | a0; };
constexpr quint8 loadDac = 0x80; // data word top bits 100
constexpr quint8 burnOtp = 0x40; // data word top bits 010
constexpr int maxBankRegister = 0x3F;

QList<Kind> eventKinds(const SimulatedChip &chip)
{
    QList<Kind> kinds;
    for (const ChipEvent &event : chip.events())
        kinds.append(event.kind);
    return kinds;
}

} // namespace

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private slots:
    void comPortPassesLinesOnlyWhileOpen()
    {
        SimulatedBoard board;
        sim::SimulatedComPort port(board);
        for (int portNumber : {0, 17})
            QCOMPARE(port.open(portNumber, port::LineSettings{}), port::OpenResult::NotPresent);

        // Closed, it touches nothing and reads DSR released.
        port.setDtr(true);
        port.setRts(true);
        port.writeData(QByteArrayLiteral("\x07"));
        QVERIFY(board.scl() && board.sda() && board.dataWritten().isEmpty());
        board.setRts(true);
        QVERIFY(!port.dsr());

        // Opening releases both lines, as a real port does after the system raised them.
        board.setDtr(true);
        QCOMPARE(port.open(16, port::LineSettings{}), port::OpenResult::Opened);
        QCOMPARE(port.openPortNumber(), 16);
        QVERIFY(board.scl() && board.sda());
        port.setRts(true);
        port.setDtr(true);
        QVERIFY(port.dsr() && !board.sda() && !board.scl());
        // Data goes nowhere near the bus.
        port.setDtr(false);
        port.setRts(false);
        port.writeData(QByteArray("\x00\xff", 2));
        QCOMPARE(board.dataWritten(), QByteArray("\x00\xff", 2));
        // A long batch run: the board keeps the latest bytes only, in order.
        QByteArray counting;
        for (int k = 0; k < 3 * SimulatedBoard::keptDataBytes; ++k)
            counting.append(char(k % 251));
        for (qsizetype k = 0; k < counting.size(); k += 4)
            port.writeData(counting.mid(k, 4));
        QCOMPARE(board.dataWritten(), counting.right(SimulatedBoard::keptDataBytes));
        QVERIFY(board.scl() && board.sda() && board.chip(0).events().isEmpty());

        port.close();
        QVERIFY(!port.isOpen() && port.openPortNumber() == 0);
    }

    void addressAcknowledgeSpansTheNinthClock_data()
    {
        QTest::addColumn<int>("addressByte");
        QTest::addColumn<int>("absentA0"); // -1: both chips on the board
        QTest::addColumn<int>("ackA0");    // the chip expected to answer, -1: none
        QTest::newRow("A0=0 write") << 0xE8 << -1 << 0;
        QTest::newRow("A0=1 write, other chip missing") << 0xEA << 0 << 1;
        QTest::newRow("A0=1 read") << 0xEB << -1 << 1;
        QTest::newRow("A0=0 write, chip missing") << 0xE8 << 0 << -1;
        QTest::newRow("general call, A0=0") << 0x00 << -1 << 0;
        QTest::newRow("general call, A0=0 missing") << 0x00 << 0 << 1;
        QTest::newRow("general call with read bit") << 0x01 << -1 << -1;
        QTest::newRow("neighbour address 0x76") << 0xEC << -1 << -1;
        QTest::newRow("address 0x34 (A0 bit without the top bit)") << 0x68 << -1 << -1;
    }

    void addressAcknowledgeSpansTheNinthClock()
    {
        QFETCH(int, addressByte);
        QFETCH(int, absentA0);
        QFETCH(int, ackA0);
        SimulatedBoard board;
        if (absentA0 >= 0)
            board.setChipPresent(absentA0, false);
        LineMaster master(board);
        const auto acknowledging = [&board, ackA0] {
            return ackA0 >= 0 ? board.chip(ackA0).isDrivingSdaLow()
                              : board.chip(0).isDrivingSdaLow() || board.chip(1).isDrivingSdaLow();
        };
        const bool lastBit = addressByte & 1;

        master.start();
        master.sendBits(quint8(addressByte), 7);
        // The 8th bit cell, one line write at a time.
        master.play("D1 Rb D0", lastBit);
        QVERIFY2(!acknowledging(), "acknowledge before the 8th bit was clocked");
        master.play("Rb D1", lastBit);
        QCOMPARE(acknowledging(), ackA0 >= 0);  // from the falling edge after the 8th bit
        master.play("Rb R0 D1 R0 D0", lastBit); // the ninth clock with the PC's SDA released
        QCOMPARE(board.dsr(), ackA0 >= 0);
        master.play("R0 D1");
        if (lastBit && ackA0 >= 0) {
            // A read: the first data bit (bit 15 of a DAC register, always 0) replaces the ACK.
            QVERIFY(acknowledging());
            master.readByte();
            master.nackAndStop();
        } else {
            QVERIFY2(!acknowledging(), "acknowledge held past the 9th clock");
            master.stop();
        }
        QVERIFY(board.scl() && board.sda() && !acknowledging());
    }

    void framesActOnTheAddressedChipOnly()
    {
        SimulatedBoard board;
        SimulatedChip &chip = board.chip(1);
        LineMaster master(board);
        // Bytes after the data word are acknowledged and ignored.
        QCOMPARE(master.write(address(1), {0x17, 0x82, 0xAA, 0x80, 0x80, 0x12}),
                 QList<bool>(7, true));
        master.writeWord(address(1), 0x17, burnOtp, 0x155);
        QCOMPARE(master.readRegister(address(1), 0x17), quint16(0x2AA));
        QCOMPARE(chip.otpCell(0, 0x17), std::optional<quint16>(0x155));
        const QList<ChipEvent> expected = {
            {Kind::PointerWrite, 0x17, 0}, {Kind::DacWrite, 0x17, 0x2AA},
            {Kind::PointerWrite, 0x17, 0}, {Kind::OtpWrite, 0x17, 0x155},
            {Kind::PointerWrite, 0x17, 0}, {Kind::RegisterRead, 0x17, 0x2AA},
        };
        QCOMPARE(chip.events(), expected);
        QVERIFY(board.chip(0).events().isEmpty());
        QCOMPARE(board.chip(0).pointer(), quint8(0));

        // 0x04 is another general-call command, and 0x06 in second place is not a command.
        QCOMPARE(master.write(0x00, {0x04, 0x06, 0xFF}), QList<bool>(4, true));
        QCOMPARE(chip.maxBank(), 0);
        QCOMPARE(chip.dacRegister(0x17), quint16(0x2AA));
        // Bytes after the reset command are acknowledged and ignored too.
        QCOMPARE(master.write(0x00, {0x06, 0x00, 0xFF, 0x06}), QList<bool>(5, true));
        QCOMPARE(chip.maxBank(), 1);
        QCOMPARE(chip.dacRegister(0x17), quint16(0x155));
        QCOMPARE(eventKinds(chip).count(Kind::Reset), 1);
    }

    void chipTakenOffHearsNothingAndKeepsItsState()
    {
        SimulatedBoard board;
        LineMaster master(board);
        for (int a0 : {0, 1})
            master.writeWord(address(a0), 3, loadDac, 200);
        master.writeWord(address(1), 3, burnOtp, 101);
        board.chip(0).clearEvents();
        board.chip(1).clearEvents();

        master.start();
        master.sendBits(0xEA, 8);
        master.play("R0"); // the PC lets go: only the acknowledging chip holds SDA now
        QVERIFY(!board.sda());
        board.setChipPresent(1, false);
        QVERIFY(board.sda() && !board.chip(1).isDrivingSdaLow());
        QVERIFY(!master.ackSlot());
        master.stop();

        QCOMPARE(master.readRegister(address(1), 3), quint16(0xFFFF));
        QVERIFY(board.chip(0).events().isEmpty()); // the other chip does not answer for it
        master.generalCallReset();
        QVERIFY(board.chip(1).events().isEmpty());
        QCOMPARE(board.chip(0).dacRegister(3), quint16(0));

        // Back with its registers and its open bank.
        board.setChipPresent(1, true);
        QCOMPARE(master.readRegister(address(1), 3), quint16(200));
        master.generalCallReset();
        QCOMPARE(board.chip(1).maxBank(), 1);
        QCOMPARE(board.chip(1).dacRegister(3), quint16(101));
    }

    void readBitsChangeOnFallingEdgesAndRepeatWhileAcknowledged()
    {
        SimulatedBoard board;
        const SimulatedChip &chip = board.chip(1);
        board.chip(1).setDacRegister(0x15, 0x2A5);
        LineMaster master(board);
        // The pointer write ends with a repeated START, not a STOP.
        master.start();
        QVERIFY(master.sendByte(0xEA) && master.sendByte(0x15));
        board.chip(1).clearEvents();

        master.start();
        QVERIFY(master.sendByte(0xEB));
        QVERIFY(chip.isDrivingSdaLow()); // bit 15, from the edge that ended the acknowledge
        QCOMPARE(master.readByte(), quint8(0x02));
        QVERIFY(chip.isDrivingSdaLow()); // bit 8
        // The PC's acknowledge slot: the chip lets go when SCL falls after the 8th bit...
        master.play("R0 D1");
        QVERIFY(!chip.isDrivingSdaLow() && board.sda());
        // ...and, bit 7 of the low byte being 1, does not pull SDA after the PC's ACK either.
        master.play("R1 D1 R1 D0 R1 D1");
        QVERIFY(!chip.isDrivingSdaLow());
        QList<quint8> bytes{master.readByte()};
        for (int i = 0; i < 4; ++i) {
            master.masterAck();
            bytes.append(master.readByte());
        }
        master.nackAndStop();
        QVERIFY(!chip.isDrivingSdaLow() && board.sda() && board.scl());
        QCOMPARE(bytes, QList<quint8>({0xA5, 0x02, 0xA5, 0x02, 0xA5}));
        QCOMPARE(eventKinds(chip), QList<Kind>(3, Kind::RegisterRead));
        // After the NACK and STOP the chip answers a fresh frame normally.
        QCOMPARE(master.readWord(address(1)), quint16(0x2A5));
    }

    void otpResetReloadsFromNewestBank()
    {
        SimulatedBoard board;
        SimulatedChip &chip = board.chip(1);
        LineMaster master(board);
        // Burns, then a general-call reset. Live codes everywhere before, so a register left at 0
        // shows that the reset cleared it.
        const auto cycle = [&](const QList<QPair<int, int>> &burns, int maxBank) {
            for (int reg = 0; reg < SimulatedChip::channelRegisterCount; ++reg)
                master.writeWord(address(1), reg, loadDac, 0x3AA);
            for (const auto &[reg, code] : burns)
                master.writeWord(address(1), reg, burnOtp, code);
            master.generalCallReset();
            QCOMPARE(chip.events().last(), (ChipEvent{Kind::Reset, 0, quint16(maxBank)}));
            QCOMPARE(master.readRegister(address(1), maxBankRegister), quint16(maxBank));
        };
        // The same cell twice in one bank keeps the later code; first and last channel.
        cycle({{0, 512}, {4, 10}, {4, 1023}, {9, 800}, {23, 1023}, {2, 6}}, 1);
        cycle({}, 1);               // an empty reset closes no bank
        cycle({{9, 0}, {1, 5}}, 2); // a burned 0 counts
        cycle({{2, 7}}, 3);
        cycle({{2, 8}}, 3); // every bank closed: burns are ignored
        const QList<int> expected{512, 5, 7, 0, 1023, 0, 0, 0, 0, 0, 0, 0,
                                  0,   0, 0, 0, 0,    0, 0, 0, 0, 0, 0, 1023};
        for (int reg = 0; reg < SimulatedChip::channelRegisterCount; ++reg)
            QCOMPARE(master.readRegister(address(1), reg), quint16(expected[reg]));
    }

    void trafficThatChangesNothing_data()
    {
        QTest::addColumn<QList<quint8>>("frame"); // address byte first
        QTest::addColumn<int>("bits");            // clocked before the STOP; -1: the whole frame
        QTest::addColumn<int>("pointer");         // afterwards
        // Frames cut short by a STOP: the pointer moves only once its byte is acknowledged.
        const QList<QPair<const char *, QList<quint8>>> frames{
            {"DAC write", {0xE8, 0x0E, loadDac | 1, 0x55}},
            {"OTP write", {0xE8, 0x0E, burnOtp | 1, 0x55}},
            {"general call", {0x00, 0x06}}};
        for (const auto &[name, frame] : frames) {
            for (int byteIndex = 0; byteIndex < frame.size(); ++byteIndex) {
                for (int bits : {0, 1, 4, 7}) {
                    QTest::addRow("%s cut in byte %d after %d bits", name, byteIndex, bits)
                        << frame << byteIndex * 8 + bits
                        << (byteIndex >= 2 && frame[0] ? 0x0E : maxBankRegister);
                }
            }
        }
        // Every data word command but load (100) and burn (010) is ignored.
        for (quint8 command : {0x00, 0x20, 0x60, 0xA0, 0xC0, 0xE0}) {
            QTest::addRow("command bits %x", command >> 5)
                << QList<quint8>{0xE8, 0x0E, quint8(command | 3), 0xFF} << -1 << 0x0E;
        }
        // Registers past the channels read 0, and loads and burns there land nowhere.
        for (int reg : {0x18, 0x3E, 0x40, 0x80, 0xFF}) {
            for (quint8 command : {loadDac, burnOtp}) {
                QTest::addRow("command %x to register %x", command >> 5, reg)
                    << QList<quint8>{0xE8, quint8(reg), quint8(command | 1), 0x23} << -1 << reg;
            }
        }
    }

    void trafficThatChangesNothing()
    {
        QFETCH(QList<quint8>, frame);
        QFETCH(int, bits);
        QFETCH(int, pointer);
        SimulatedBoard board;
        SimulatedChip &chip = board.chip(0);
        LineMaster master(board);
        for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
            chip.setDacRegister(r, quint16(0x3FF - r));
        master.write(address(0), {maxBankRegister});
        chip.clearEvents();

        master.start();
        for (int i = 0; i < frame.size() && bits != 0; ++i) {
            if (bits < 0 || bits >= 8)
                QVERIFY(master.sendByte(frame[i]));
            else
                master.sendBits(frame[i], bits);
            bits = bits < 0 ? bits : std::max(bits - 8, 0);
        }
        master.stop();

        QVERIFY(board.sda() && !chip.isDrivingSdaLow());
        QCOMPARE(chip.pointer(), quint8(pointer));
        QCOMPARE(eventKinds(chip), QList<Kind>(pointer != maxBankRegister, Kind::PointerWrite));
        for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
            QCOMPARE(chip.dacRegister(r), quint16(0x3FF - r));
        // The next frame finds the chip in step again, and no bank was burned.
        QCOMPARE(master.readRegister(address(0), pointer), quint16(pointer == 0x0E ? 0x3F1 : 0));
        master.generalCallReset();
        QCOMPARE(chip.maxBank(), 0);
    }

    void chipsMoveSdaOnlyWhileSclLow()
    {
        SimulatedBoard board;
        trace::RecordingLines recorder(&board);
        recorder.setLevelProbe([&board] { return trace::BusLevels{board.scl(), board.sda()}; });
        LineMaster master(recorder);

        master.writeWord(address(0), 1, loadDac, 0x2AA);
        QCOMPARE(master.readRegister(address(0), 1), quint16(0x2AA));
        master.writeWord(address(1), 1, burnOtp, 0x3F0);
        master.generalCallReset();
        QCOMPARE(master.readRegister(address(1), 1), quint16(0x3F0));
        board.setChipPresent(0, false);
        QCOMPARE(master.readRegister(address(0), 1), quint16(0xFFFF));

        int starts = 0, stops = 0;
        trace::BusLevels was;
        for (const trace::LineOperation &op : recorder.operations()) {
            const trace::BusLevels now = op.levels.value();
            if (now.sda != was.sda && op.kind != trace::LineOperation::Kind::SetRts)
                QVERIFY2(!now.scl, "a chip moved SDA other than on a falling SCL edge");
            else if (now.sda != was.sda && was.scl && now.scl)
                ++(now.sda ? stops : starts);
            was = now;
        }
        // One START and one STOP per frame: a write, three reads of two frames, a burn, the reset.
        QCOMPARE(starts, 1 + 3 * 2 + 1 + 1);
        QCOMPARE(stops, starts);
    }

    void eventLogIsBounded()
    {
        SimulatedBoard board;
        LineMaster master(board);
        constexpr int writes = int(SimulatedChip::eventLogLimit) + 3;
        for (int i = 0; i < writes; ++i)
            master.write(address(0), {quint8(i % 251)});

        const QList<ChipEvent> &events = board.chip(0).events();
        QVERIFY(events.size() <= SimulatedChip::eventLogLimit);
        QVERIFY(events.size() >= SimulatedChip::eventLogLimit / 2);
        // The newest events are the ones kept, in order.
        QCOMPARE(events.first().reg, int((writes - events.size()) % 251));
        QCOMPARE(events.last().reg, (writes - 1) % 251);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
