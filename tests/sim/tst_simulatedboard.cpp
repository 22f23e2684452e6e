#include "sim/simulatedboard.h"
#include "trace/recordinglines.h"

#include <QTest>
#include <string_view>

using sim::ChipEvent;
using sim::SimulatedBoard;
using sim::SimulatedChip;
using Kind = ChipEvent::Kind;

// Register values, OTP banks and the general call end to end through the real engine are in
// tests/bus/tst_chipbus.cpp; here the master is hand-made, to check the chips' timing on the wire.
namespace {

constexpr int address(int a0)
{
    return 0x74 | a0;
}
constexpr quint8 loadDac = 0x80; // data word top bits 100
constexpr quint8 burnOtp = 0x40; // data word top bits 010
constexpr int maxBankRegister = 0x3F;

// A bit-banging master that puts on the lines the sequences of the program's bus engine. Unlike
// the engine it may sample the acknowledge, which adds DSR reads but no line writes.
class LineMaster
{
public:
    explicit LineMaster(port::SerialLines &lines) : m_lines(lines) {}

    // "D1" asserts DTR (SCL low), "R0" releases RTS (SDA high); "Rb" puts the bit on SDA.
    void play(std::string_view writes, bool bit = false)
    {
        for (std::size_t i = 0; i + 1 < writes.size(); i += 3) {
            const bool asserted = writes[i + 1] == 'b' ? !bit : writes[i + 1] == '1';
            if (writes[i] == 'D')
                m_lines.setDtr(asserted);
            else
                m_lines.setRts(asserted);
        }
    }

    void start() { play("R0 D0 R1 D0"); }
    void stop() { play("R1 D1 R1 D0 R0 D0"); }
    void sendBits(quint8 byte, int count)
    {
        for (int i = 7; i > 7 - count; --i)
            play("D1 Rb D0 Rb D1 Rb", (byte >> i) & 1);
    }
    // The ninth clock with SDA released; true if a chip held SDA low meanwhile.
    bool ackSlot()
    {
        play("R0 D1 R0 D0");
        const bool acknowledged = m_lines.dsr();
        play("R0 D1");
        return acknowledged;
    }
    bool sendByte(quint8 byte)
    {
        sendBits(byte, 8);
        return ackSlot();
    }
    quint8 readByte()
    {
        quint8 byte = 0;
        for (int i = 0; i < 8; ++i) {
            play("R0 D1 R0 D1 R0 D0");
            byte = quint8((byte << 1) | (m_lines.dsr() ? 0 : 1));
        }
        return byte;
    }
    void masterAck() { play("R0 D1 R1 D1 R1 D0 R1 D1"); }
    void nackAndStop() { play("R0 D1 R0 D0 R0 D1 R1 D0 R0 D0"); }

    // START, the bytes, STOP; the acknowledge of every byte, in order.
    QList<bool> write(int address7, const QList<quint8> &data)
    {
        start();
        QList<bool> acks{sendByte(quint8(address7 << 1))};
        for (quint8 byte : data)
            acks.append(sendByte(byte));
        stop();
        return acks;
    }
    // As the engine reads: ACK after the high byte, NACK after the low byte.
    quint16 readWord(int address7)
    {
        start();
        sendByte(quint8((address7 << 1) | 1));
        const quint8 high = readByte();
        masterAck();
        const quint8 low = readByte();
        nackAndStop();
        return quint16((high << 8) | low);
    }
    quint16 readRegister(int address7, int reg)
    {
        write(address7, {quint8(reg)});
        return readWord(address7);
    }
    void writeWord(int address7, int reg, quint8 command, int code)
    {
        write(address7, {quint8(reg), quint8(command | ((code >> 8) & 0x03)), quint8(code)});
    }
    // Clocked as the engine paces it: the acknowledge slots as released data bits.
    void generalCallReset()
    {
        start();
        for (quint8 byte : {0x00, 0x06}) {
            sendBits(byte, 8);
            sendBits(0xFF, 1);
        }
        stop();
    }

private:
    port::SerialLines &m_lines;
};

QList<Kind> eventKinds(const SimulatedChip &chip)
{
    QList<Kind> kinds;
    for (const ChipEvent &event : chip.events())
        kinds.append(event.kind);
    return kinds;
}

using Burns = QList<QPair<int, int>>; // (register, code)

} // namespace

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private slots:
    void linesDriveBusLevelsButNotTheDataLine();

    void addressAcknowledgeSpansTheNinthClock_data();
    void addressAcknowledgeSpansTheNinthClock();
    void everyWrittenByteIsAcknowledged();
    void chipTakenOffReleasesSdaHearsNothingAndKeepsRegisters();

    void loadBurnAndReadAreLoggedOnTheAddressedChipOnly();
    void writesThatLandNowhereChangeNothing();
    void readBitsChangeOnFallingEdgesAndRepeatWhileAcknowledged();

    void otpResetReloadsFromNewestBank_data();
    void otpResetReloadsFromNewestBank();
    void generalCallSkipsAbsentChips();
    void generalCallOtherCommandIsIgnored();

    void frameCutByStopChangesNothing_data();
    void frameCutByStopChangesNothing();
    void chipsMoveSdaOnlyWhileSclLow();
    void eventLogIsBounded();
};

void TestSimulatedBoard::linesDriveBusLevelsButNotTheDataLine()
{
    SimulatedBoard board;
    QVERIFY(board.scl() && board.sda() && !board.dsr());
    board.writeData(QByteArray("\x00\xff", 2));
    board.writeData("ok");
    QCOMPARE(board.dataWritten(), QByteArray("\x00\xffok", 4));
    QVERIFY(board.scl() && board.sda());
    QVERIFY(board.chip(0).events().isEmpty());
    board.clearDataWritten();
    QVERIFY(board.dataWritten().isEmpty());

    for (bool dtr : {false, true}) {
        for (bool rts : {false, true}) {
            // Clock low first, so that moving SDA is never a bus condition here.
            board.setDtr(true);
            board.setRts(rts);
            board.setDtr(dtr);
            QCOMPARE(board.scl(), !dtr);
            QCOMPARE(board.sda(), !rts);
            QCOMPARE(board.dsr(), rts);
        }
    }
}

void TestSimulatedBoard::addressAcknowledgeSpansTheNinthClock_data()
{
    QTest::addColumn<int>("addressByte");
    QTest::addColumn<int>("absentA0"); // -1: both chips on the board
    QTest::addColumn<int>("ackA0");    // the chip expected to answer, -1: none
    QTest::newRow("A0=0 write") << 0xE8 << -1 << 0;
    QTest::newRow("A0=1 write, other chip missing") << 0xEA << 0 << 1;
    QTest::newRow("A0=1 read") << 0xEB << -1 << 1;
    QTest::newRow("A0=0 write, chip missing") << 0xE8 << 0 << -1;
    QTest::newRow("A0=1 read, chip missing") << 0xEB << 1 << -1;
    QTest::newRow("general call, A0=0") << 0x00 << -1 << 0;
    QTest::newRow("general call, A0=0 missing") << 0x00 << 0 << 1;
    QTest::newRow("general call with read bit") << 0x01 << -1 << -1;
    QTest::newRow("neighbour address 0x76") << 0xEC << -1 << -1;
    QTest::newRow("address 0x34 (A0 bit without the top bit)") << 0x68 << -1 << -1;
    QTest::newRow("address 0x7F") << 0xFE << -1 << -1;
}

void TestSimulatedBoard::addressAcknowledgeSpansTheNinthClock()
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

void TestSimulatedBoard::everyWrittenByteIsAcknowledged()
{
    SimulatedBoard board;
    LineMaster master(board);
    // Bytes after the data word, and after a general-call command, are acknowledged and ignored.
    QCOMPARE(master.write(address(1), {0x05, 0x83, 0xFF, 0x80, 0x80, 0x12}), QList<bool>(7, true));
    QCOMPARE(board.chip(1).dacRegister(5), quint16(1023));
    QCOMPARE(master.write(0x00, {0x06, 0x00, 0xFF, 0x06, 0x06}), QList<bool>(6, true));
}

void TestSimulatedBoard::chipTakenOffReleasesSdaHearsNothingAndKeepsRegisters()
{
    SimulatedBoard board;
    LineMaster master(board);
    master.writeWord(address(1), 3, loadDac, 200);
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
    QVERIFY(board.chip(1).events().isEmpty());
    QVERIFY(board.chip(0).events().isEmpty()); // the other chip does not answer for it
    board.setChipPresent(1, true);
    QCOMPARE(master.readRegister(address(1), 3), quint16(200));
}

void TestSimulatedBoard::loadBurnAndReadAreLoggedOnTheAddressedChipOnly()
{
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(1);
    LineMaster master(board);
    master.writeWord(address(1), 0x17, loadDac, 0x2AA);
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
}

void TestSimulatedBoard::writesThatLandNowhereChangeNothing()
{
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
        chip.setDacRegister(r, quint16(0x3FF - r));

    // A channel register, with every data word command but load (100) and burn (010).
    for (quint8 command : {0x00, 0x20, 0x60, 0xA0, 0xC0, 0xE0})
        master.write(address(0), {0x06, quint8(command | 0x03), 0xFF});
    // Registers past the channels read 0, and loads and burns there land nowhere.
    for (int reg : {0x18, 0x3E, 0x40, 0x80, 0xFF}) {
        QCOMPARE(master.readRegister(address(0), reg), quint16(0));
        master.writeWord(address(0), reg, loadDac, 0x123);
        master.writeWord(address(0), reg, burnOtp, 0x123);
        QCOMPARE(master.readRegister(address(0), reg), quint16(0));
    }
    for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
        QCOMPARE(chip.dacRegister(r), quint16(0x3FF - r));
    QVERIFY(!eventKinds(chip).contains(Kind::DacWrite));
    QVERIFY(!eventKinds(chip).contains(Kind::OtpWrite));
    master.generalCallReset();
    QCOMPARE(chip.maxBank(), 0);
}

void TestSimulatedBoard::readBitsChangeOnFallingEdgesAndRepeatWhileAcknowledged()
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

void TestSimulatedBoard::otpResetReloadsFromNewestBank_data()
{
    QTest::addColumn<QList<Burns>>("cycles"); // burns, then a general-call reset, per entry
    QTest::addColumn<int>("maxBank");
    QTest::addColumn<Burns>("expected"); // register, code after the last reset
    QTest::newRow("empty resets close no bank")
        << QList<Burns>{{}, {{1, 5}}, {}, {{2, 6}}, {}} << 2 << Burns{{1, 5}, {2, 6}, {3, 0}};
    QTest::newRow("same cell twice in one bank keeps the later")
        << QList<Burns>{{{4, 10}, {4, 1023}}} << 1 << Burns{{4, 1023}};
    QTest::newRow("code 0 burned still counts")
        << QList<Burns>{{{9, 800}}, {{9, 0}}} << 2 << Burns{{9, 0}};
    QTest::newRow("first and last channel")
        << QList<Burns>{{{0, 512}, {23, 1023}}} << 1 << Burns{{0, 512}, {23, 1023}, {22, 0}};
}

void TestSimulatedBoard::otpResetReloadsFromNewestBank()
{
    QFETCH(QList<Burns>, cycles);
    QFETCH(int, maxBank);
    QFETCH(Burns, expected);
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(1);
    LineMaster master(board);
    for (const Burns &burns : cycles) {
        // Live codes everywhere, so a register left at 0 shows that the reset cleared it.
        for (int reg = 0; reg < SimulatedChip::channelRegisterCount; ++reg)
            master.writeWord(address(1), reg, loadDac, 0x3AA);
        for (const auto &[reg, code] : burns)
            master.writeWord(address(1), reg, burnOtp, code);
        master.generalCallReset();
    }
    QCOMPARE(chip.events().last(), (ChipEvent{Kind::Reset, 0, quint16(maxBank)}));
    QCOMPARE(master.readRegister(address(1), maxBankRegister), quint16(maxBank));
    for (const auto &[reg, code] : expected)
        QCOMPARE(master.readRegister(address(1), reg), quint16(code));
}

void TestSimulatedBoard::generalCallSkipsAbsentChips()
{
    SimulatedBoard board;
    LineMaster master(board);
    for (int a0 : {0, 1})
        master.writeWord(address(a0), 10, loadDac, 333);
    master.writeWord(address(1), 10, burnOtp, 101);
    board.setChipPresent(1, false);
    master.generalCallReset();
    QCOMPARE(board.chip(0).dacRegister(10), quint16(0));
    QCOMPARE(board.chip(1).dacRegister(10), quint16(333));
    QCOMPARE(board.chip(1).maxBank(), 0);

    board.setChipPresent(1, true);
    master.generalCallReset();
    QCOMPARE(board.chip(1).maxBank(), 1);
    QCOMPARE(board.chip(1).dacRegister(10), quint16(101));
}

void TestSimulatedBoard::generalCallOtherCommandIsIgnored()
{
    SimulatedBoard board;
    LineMaster master(board);
    master.writeWord(address(0), 0, loadDac, 500);
    master.writeWord(address(0), 0, burnOtp, 7);

    // 0x04 is another general-call command, and 0x06 in second place is not a command.
    QCOMPARE(master.write(0x00, {0x04, 0x06}), QList<bool>(3, true));
    QCOMPARE(board.chip(0).maxBank(), 0);
    QCOMPARE(board.chip(0).dacRegister(0), quint16(500));
    QVERIFY(!eventKinds(board.chip(0)).contains(Kind::Reset));

    // The reset command in a short frame does what the paced one does.
    master.write(0x00, {0x06});
    QCOMPARE(board.chip(0).maxBank(), 1);
    QCOMPARE(board.chip(0).dacRegister(0), quint16(7));
}

void TestSimulatedBoard::frameCutByStopChangesNothing_data()
{
    QTest::addColumn<int>("command"); // data word top bits, or -1 for the general call
    QTest::addColumn<int>("byteIndex");
    QTest::addColumn<int>("bits"); // of that byte, before the STOP
    QTest::addColumn<bool>("pointerMoved");
    for (int bits : {0, 1, 4, 7}) {
        for (int byteIndex : {0, 1, 2, 3}) {
            QTest::addRow("DAC write, byte %d, %d bits", byteIndex, bits)
                << int(loadDac) << byteIndex << bits << (byteIndex >= 2);
        }
    }
    QTest::newRow("OTP write, byte 3, 7 bits") << int(burnOtp) << 3 << 7 << true;
    QTest::newRow("OTP write, byte 2, 3 bits") << int(burnOtp) << 2 << 3 << true;
    QTest::newRow("general call, byte 1, 7 bits") << -1 << 1 << 7 << false;
    QTest::newRow("general call, byte 0, 5 bits") << -1 << 0 << 5 << false;
}

void TestSimulatedBoard::frameCutByStopChangesNothing()
{
    QFETCH(int, command);
    QFETCH(int, byteIndex);
    QFETCH(int, bits);
    QFETCH(bool, pointerMoved);
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    master.writeWord(address(0), 0x0E, loadDac, 0x2F0);
    master.writeWord(address(0), 0x0E, burnOtp, 0x0AB);
    master.write(address(0), {maxBankRegister});
    chip.clearEvents();

    const QList<quint8> frame = command < 0 ? QList<quint8>{0x00, 0x06}
                                            : QList<quint8>{0xE8, 0x0E, quint8(command | 1), 0x55};
    master.start();
    for (int i = 0; i < byteIndex; ++i)
        QVERIFY(master.sendByte(frame[i]));
    master.sendBits(frame[byteIndex], bits);
    master.stop();

    QVERIFY(board.sda() && !chip.isDrivingSdaLow());
    QCOMPARE(chip.dacRegister(0x0E), quint16(0x2F0));
    QCOMPARE(chip.otpCell(0, 0x0E), std::optional<quint16>(0x0AB));
    QCOMPARE(chip.maxBank(), 0);
    QCOMPARE(chip.pointer(), quint8(pointerMoved ? 0x0E : maxBankRegister));
    QCOMPARE(eventKinds(chip), pointerMoved ? QList<Kind>{Kind::PointerWrite} : QList<Kind>{});
    // The next frame finds the chip in step again.
    QCOMPARE(master.readRegister(address(0), 0x0E), quint16(0x2F0));
}

void TestSimulatedBoard::chipsMoveSdaOnlyWhileSclLow()
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

    int starts = 0;
    int stops = 0;
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

void TestSimulatedBoard::eventLogIsBounded()
{
    SimulatedBoard board;
    const SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    constexpr int writes = int(SimulatedChip::eventLogLimit) + 3;
    for (int i = 0; i < writes; ++i)
        master.write(address(0), {quint8(i % 251)});

    const QList<ChipEvent> &events = chip.events();
    QVERIFY(events.size() <= SimulatedChip::eventLogLimit);
    QVERIFY(events.size() >= SimulatedChip::eventLogLimit / 2);
    // The newest events are the ones kept, in order.
    QCOMPARE(events.first().reg, int((writes - events.size()) % 251));
    QCOMPARE(events.last().reg, (writes - 1) % 251);
}

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
