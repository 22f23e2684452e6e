#include "sim/simulatedboard.h"
#include "wiredecoder.h"

#include <QTest>
#include <string_view>

using sim::ChipEvent;
using sim::SimulatedBoard;
using sim::SimulatedChip;

namespace {

constexpr int chipAddress0 = 0x74;
constexpr int chipAddress1 = 0x75;
constexpr int maxBankRegister = 0x3F;
constexpr quint8 loadDacBits = 0x80; // data word top bits 100
constexpr quint8 burnOtpBits = 0x40; // data word top bits 010

int chipAddress(int a0)
{
    return a0 ? chipAddress1 : chipAddress0;
}

// A bit-banging master that puts on the lines exactly the sequences of the program's bus engine.
// Unlike the engine it may sample the acknowledge, which adds DSR reads but no line writes.
class LineMaster
{
public:
    explicit LineMaster(port::SerialLines &lines) : m_lines(lines) {}

    // Line writes as lineWrites() shows them: "D1" asserts DTR (SCL low), "R0" releases RTS
    // (SDA high); "Rb" puts the bit on SDA (asserted for 0, released for 1).
    void play(std::string_view writes, bool bit = false)
    {
        for (std::size_t i = 0; i + 1 < writes.size(); i += 3) {
            const char value = writes[i + 1];
            const bool asserted = value == 'b' ? !bit : value == '1';
            if (writes[i] == 'D')
                m_lines.setDtr(asserted);
            else
                m_lines.setRts(asserted);
        }
    }

    void start() { play("R0 D0 R1 D0"); }
    void sendBit(bool bit) { play("D1 Rb D0 Rb D1 Rb", bit); }
    void sendBits(quint8 byte, int count)
    {
        for (int i = 7; i > 7 - count; --i)
            sendBit((byte >> i) & 1);
    }
    // The ninth clock with SDA released; true if the slave held SDA low meanwhile.
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
    bool readBit()
    {
        play("R0 D1 R0 D1 R0 D0");
        return !m_lines.dsr();
    }
    quint8 readByte()
    {
        quint8 byte = 0;
        for (int i = 0; i < 8; ++i)
            byte = quint8((byte << 1) | (readBit() ? 1 : 0));
        return byte;
    }
    void masterAck() { play("R0 D1 R1 D1 R1 D0 R1 D1"); }
    void nackAndStop() { play("R0 D1 R0 D0 R0 D1 R1 D0 R0 D0"); }
    void stop() { play("R1 D1 R1 D0 R0 D0"); }

    // START, the address byte and data, STOP; the acknowledge of every byte, in order.
    QList<bool> write(int address7, const QList<quint8> &data)
    {
        QList<bool> acks;
        start();
        acks.append(sendByte(quint8(address7 << 1)));
        for (quint8 byte : data)
            acks.append(sendByte(byte));
        stop();
        return acks;
    }
    void pointerWrite(int address7, int reg) { write(address7, {quint8(reg)}); }
    // A word read as the engine does it: ACK after the high byte, NACK after the low byte.
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
        pointerWrite(address7, reg);
        return readWord(address7);
    }
    void writeWord(int address7, int reg, quint8 command, int code)
    {
        write(address7, {quint8(reg), quint8(command | ((code >> 8) & 0x03)), quint8(code)});
    }
    void writeDac(int address7, int reg, int code) { writeWord(address7, reg, loadDacBits, code); }
    void burnOtp(int address7, int reg, int code) { writeWord(address7, reg, burnOtpBits, code); }
    // Every bit clocked as a data bit, the acknowledge slots as released (1) bits.
    void generalCallReset()
    {
        start();
        sendBits(0x00, 8);
        sendBit(true);
        sendBits(SimulatedChip::generalCallReset, 8);
        sendBit(true);
        stop();
    }

private:
    port::SerialLines &m_lines;
};

// Passes the line writes on to the board and watches the bus levels after each: a change of SDA
// while SCL stays high is a START or STOP when the PC moved RTS, and a fault when a chip did.
class BusWatcher : public port::SerialLines
{
public:
    explicit BusWatcher(SimulatedBoard &board) : m_board(board) {}

    bool isOpen() const override { return m_board.isOpen(); }
    void setDtr(bool asserted) override
    {
        m_board.setDtr(asserted);
        look(false);
    }
    void setRts(bool asserted) override
    {
        m_board.setRts(asserted);
        look(true);
    }
    bool dsr() override { return m_board.dsr(); }
    void writeData(const QByteArray &bytes) override { m_board.writeData(bytes); }

    int starts = 0;
    int stops = 0;
    int chipMovesWhileSclHigh = 0;

private:
    void look(bool rtsWritten)
    {
        const bool scl = m_board.scl();
        const bool sda = m_board.sda();
        if (m_scl && scl && sda != m_sda) {
            if (!rtsWritten)
                ++chipMovesWhileSclHigh;
            else if (!sda)
                ++starts;
            else
                ++stops;
        }
        m_scl = scl;
        m_sda = sda;
    }

    SimulatedBoard &m_board;
    bool m_scl = true;
    bool m_sda = true;
};

QList<ChipEvent::Kind> eventKinds(const SimulatedChip &chip)
{
    QList<ChipEvent::Kind> kinds;
    for (const ChipEvent &event : chip.events())
        kinds.append(event.kind);
    return kinds;
}

// Codes burned between two general-call resets: (register, code) pairs.
using Burns = QList<QPair<int, int>>;

} // namespace

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private slots:
    // Lines and levels
    void idleBusAfterConstruction();
    void linesDriveBusLevels_data();
    void linesDriveBusLevels();
    void dataLineBytesAreRecorded();
    void delayedLinesStillCarryFrames();

    // Addressing and acknowledge
    void addressAcknowledge_data();
    void addressAcknowledge();
    void acknowledgeSpansTheNinthClock_data();
    void acknowledgeSpansTheNinthClock();
    void everyWrittenByteIsAcknowledged();
    void missingChipReadsAllOnes();
    void chipTakenOffWhileAcknowledgingReleasesSda();

    // Registers
    void dacCodeReadsBack_data();
    void dacCodeReadsBack();
    void writeReachesOnlyTheAddressedChip();
    void maxBankIsZeroAtPowerUp();
    void otherRegistersReadZero_data();
    void otherRegistersReadZero();
    void wordsWithOtherCommandsAreIgnored_data();
    void wordsWithOtherCommandsAreIgnored();
    void readDataChangesOnFallingEdges();
    void readRepeatsWordWhileMasterAcknowledges();
    void repeatedStartReadsWithoutStop();
    void readMatchesIndependentDecoder();

    // OTP and general call
    void otpBurnWaitsForReset();
    void otpResetReloadsFromNewestBank_data();
    void otpResetReloadsFromNewestBank();
    void resetWithoutBurnKeepsBankOpen();
    void generalCallReachesBothChips_data();
    void generalCallReachesBothChips();
    void generalCallOtherCommandIsIgnored();

    // Robustness
    void frameCutByStopChangesNothing_data();
    void frameCutByStopChangesNothing();
    void chipsMoveSdaOnlyWhileSclLow();
    void eventLogIsBounded();
};

// Lines and levels --------------------------------------------------------------------------

void TestSimulatedBoard::idleBusAfterConstruction()
{
    SimulatedBoard board;
    QVERIFY(board.isOpen());
    QVERIFY(board.scl());
    QVERIFY(board.sda());
    QVERIFY(!board.dsr());
    for (int a0 : {0, 1}) {
        QVERIFY(board.isChipPresent(a0));
        QCOMPARE(board.chip(a0).a0(), a0);
        QCOMPARE(board.chip(a0).address(), chipAddress(a0));
        QVERIFY(!board.chip(a0).isDrivingSdaLow());
    }
}

void TestSimulatedBoard::linesDriveBusLevels_data()
{
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<bool>("scl");
    QTest::addColumn<bool>("sda");

    QTest::newRow("both released") << false << false << true << true;
    QTest::newRow("DTR pulls SCL low") << true << false << false << true;
    QTest::newRow("RTS pulls SDA low") << false << true << true << false;
    QTest::newRow("both asserted") << true << true << false << false;
}

void TestSimulatedBoard::linesDriveBusLevels()
{
    QFETCH(bool, dtr);
    QFETCH(bool, rts);
    QFETCH(bool, scl);
    QFETCH(bool, sda);

    SimulatedBoard board;
    // Clock low first, so that moving SDA is never a bus condition here.
    board.setDtr(true);
    board.setRts(rts);
    board.setDtr(dtr);
    QCOMPARE(board.scl(), scl);
    QCOMPARE(board.sda(), sda);
    QCOMPARE(board.dsr(), !sda);
}

void TestSimulatedBoard::dataLineBytesAreRecorded()
{
    SimulatedBoard board;
    const QByteArray marker("\x00\xff\x55\xaa", 4);
    board.writeData(marker);
    board.writeData("ok");
    QCOMPARE(board.dataWritten(), marker + QByteArray("ok"));
    // The data line is not part of the bus.
    QVERIFY(board.scl());
    QVERIFY(board.sda());
    QVERIFY(board.chip(0).events().isEmpty());

    board.clearDataWritten();
    QVERIFY(board.dataWritten().isEmpty());
    board.writeData("x");
    QCOMPARE(board.dataWritten(), QByteArray("x"));
}

void TestSimulatedBoard::delayedLinesStillCarryFrames()
{
    SimulatedBoard board;
    QCOMPARE(board.lineDelay(), std::chrono::nanoseconds(0));
    board.setLineDelay(std::chrono::microseconds(1));
    QCOMPARE(board.lineDelay(), std::chrono::nanoseconds(1000));

    LineMaster master(board);
    master.writeDac(chipAddress0, 9, 0x155);
    QCOMPARE(master.readRegister(chipAddress0, 9), quint16(0x155));
}

// Addressing and acknowledge ----------------------------------------------------------------

void TestSimulatedBoard::addressAcknowledge_data()
{
    QTest::addColumn<int>("addressByte");
    QTest::addColumn<int>("absentA0"); // -1: both chips on the board
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("A0=0 write") << 0xE8 << -1 << true;
    QTest::newRow("A0=0 read") << 0xE9 << -1 << true;
    QTest::newRow("A0=1 write") << 0xEA << -1 << true;
    QTest::newRow("A0=1 read") << 0xEB << -1 << true;
    QTest::newRow("A0=0 write, other chip missing") << 0xE8 << 1 << true;
    QTest::newRow("A0=0 write, chip missing") << 0xE8 << 0 << false;
    QTest::newRow("A0=1 read, chip missing") << 0xEB << 1 << false;
    QTest::newRow("general call") << 0x00 << -1 << true;
    QTest::newRow("general call, one chip missing") << 0x00 << 0 << true;
    QTest::newRow("general call with read bit") << 0x01 << -1 << false;
    QTest::newRow("neighbour address 0x76") << 0xEC << -1 << false;
    QTest::newRow("address 0x34 (A0 bit without the top bit)") << 0x68 << -1 << false;
    QTest::newRow("address 0x7F") << 0xFE << -1 << false;
}

void TestSimulatedBoard::addressAcknowledge()
{
    QFETCH(int, addressByte);
    QFETCH(int, absentA0);
    QFETCH(bool, acknowledged);

    SimulatedBoard board;
    if (absentA0 >= 0)
        board.setChipPresent(absentA0, false);
    LineMaster master(board);

    master.start();
    QCOMPARE(master.sendByte(quint8(addressByte)), acknowledged);
    if (addressByte & 1) {
        master.readByte();
        master.nackAndStop();
    } else {
        master.stop();
    }
    QVERIFY(board.scl());
    QVERIFY(board.sda());
    QVERIFY(!board.chip(0).isDrivingSdaLow());
    QVERIFY(!board.chip(1).isDrivingSdaLow());
}

void TestSimulatedBoard::acknowledgeSpansTheNinthClock_data()
{
    QTest::addColumn<int>("addressByte");
    QTest::addColumn<int>("a0"); // the chip expected to answer

    QTest::newRow("A0=0 write") << 0xE8 << 0;
    QTest::newRow("A0=1 write") << 0xEA << 1;
    QTest::newRow("A0=1 read") << 0xEB << 1;
    QTest::newRow("general call, A0=0") << 0x00 << 0;
    QTest::newRow("general call, A0=1") << 0x00 << 1;
}

void TestSimulatedBoard::acknowledgeSpansTheNinthClock()
{
    QFETCH(int, addressByte);
    QFETCH(int, a0);

    SimulatedBoard board;
    LineMaster master(board);
    const SimulatedChip &chip = board.chip(a0);
    const bool lastBit = addressByte & 1;

    master.start();
    master.sendBits(quint8(addressByte), 7);
    // The 8th bit cell, one line write at a time.
    master.play("D1 Rb D0", lastBit);
    QVERIFY2(!chip.isDrivingSdaLow(), "acknowledge before the 8th bit was clocked");
    master.play("Rb D1", lastBit);
    QVERIFY2(chip.isDrivingSdaLow(), "no acknowledge at the falling edge after the 8th bit");
    master.play("Rb", lastBit);
    // The ninth clock with the PC's SDA released.
    master.play("R0 D1 R0");
    QVERIFY(!board.sda());
    master.play("D0");
    QVERIFY(chip.isDrivingSdaLow());
    QVERIFY(board.dsr());
    master.play("R0 D1");
    if (lastBit) {
        // A read: the first data bit (bit 15 of a DAC register, always 0) replaces the ACK.
        QVERIFY(chip.isDrivingSdaLow());
        master.readByte();
        master.nackAndStop();
    } else {
        QVERIFY2(!chip.isDrivingSdaLow(), "acknowledge held past the 9th clock");
        QVERIFY(board.sda());
        master.stop();
    }
    QVERIFY(board.sda());
}

void TestSimulatedBoard::everyWrittenByteIsAcknowledged()
{
    SimulatedBoard board;
    LineMaster master(board);
    const QList<bool> all(6, true);

    QCOMPARE(master.write(chipAddress1, {0x05, 0x83, 0xFF, 0x12, 0x34}), all);
    QCOMPARE(board.chip(1).dacRegister(5), quint16(1023));
    QCOMPARE(master.write(0x00, {0x06, 0x00, 0xFF, 0x06, 0x06}), all);
}

void TestSimulatedBoard::missingChipReadsAllOnes()
{
    SimulatedBoard board;
    LineMaster master(board);
    master.writeDac(chipAddress1, 3, 200);
    board.setChipPresent(1, false);
    QVERIFY(!board.isChipPresent(1));

    QCOMPARE(master.readRegister(chipAddress1, 3), quint16(0xFFFF));
    QCOMPARE(master.readRegister(chipAddress1, maxBankRegister), quint16(0xFFFF));
    // An absent chip hears nothing, and the one left on the board does not answer for it.
    QCOMPARE(board.chip(1).events().size(), 2);
    QCOMPARE(board.chip(0).events().size(), 0);

    board.setChipPresent(1, true);
    QCOMPARE(master.readRegister(chipAddress1, 3), quint16(200));
}

void TestSimulatedBoard::chipTakenOffWhileAcknowledgingReleasesSda()
{
    SimulatedBoard board;
    LineMaster master(board);
    master.start();
    master.sendBits(0xEA, 8);
    master.play("R0"); // the PC lets go: only the acknowledging chip holds SDA now
    QVERIFY(!board.sda());
    board.setChipPresent(1, false);
    QVERIFY(board.sda());
    QVERIFY(!master.ackSlot());
    master.stop();

    board.setChipPresent(1, true);
    QCOMPARE(master.write(chipAddress1, {0x01}), QList<bool>({true, true}));
    QCOMPARE(board.chip(1).pointer(), quint8(0x01));
}

// Registers ---------------------------------------------------------------------------------

void TestSimulatedBoard::dacCodeReadsBack_data()
{
    QTest::addColumn<int>("a0");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("code");

    QTest::newRow("A0=0 reg 0x00 code 0") << 0 << 0x00 << 0;
    QTest::newRow("A0=0 reg 0x04 code 512") << 0 << 0x04 << 512;
    QTest::newRow("A0=0 reg 0x04 code 1023") << 0 << 0x04 << 1023;
    QTest::newRow("A0=0 reg 0x12 code 0x2AA") << 0 << 0x12 << 0x2AA;
    QTest::newRow("A0=0 reg 0x17 code 1") << 0 << 0x17 << 1;
    QTest::newRow("A0=1 reg 0x00 code 1023") << 1 << 0x00 << 1023;
    QTest::newRow("A0=1 reg 0x0B code 0x155") << 1 << 0x0B << 0x155;
    QTest::newRow("A0=1 reg 0x13 code 256") << 1 << 0x13 << 256;
    QTest::newRow("A0=1 reg 0x17 code 512") << 1 << 0x17 << 512;
    QTest::newRow("A0=1 reg 0x10 code 0") << 1 << 0x10 << 0;
}

void TestSimulatedBoard::dacCodeReadsBack()
{
    QFETCH(int, a0);
    QFETCH(int, reg);
    QFETCH(int, code);

    SimulatedBoard board;
    SimulatedChip &chip = board.chip(a0);
    chip.setDacRegister(reg, 0x3C3); // so that a write of 0 shows
    LineMaster master(board);

    master.writeDac(chipAddress(a0), reg, code);
    QCOMPARE(chip.dacRegister(reg), quint16(code));
    QCOMPARE(chip.pointer(), quint8(reg));
    QCOMPARE(master.readRegister(chipAddress(a0), reg), quint16(code));

    const QList<ChipEvent> expected = {
        {ChipEvent::Kind::PointerWrite, reg, 0},
        {ChipEvent::Kind::DacWrite, reg, quint16(code)},
        {ChipEvent::Kind::PointerWrite, reg, 0},
        {ChipEvent::Kind::RegisterRead, reg, quint16(code)},
    };
    QCOMPARE(chip.events(), expected);
    chip.clearEvents();
    QVERIFY(chip.events().isEmpty());
}

void TestSimulatedBoard::writeReachesOnlyTheAddressedChip()
{
    SimulatedBoard board;
    LineMaster master(board);
    board.chip(1).setDacRegister(4, 77);

    master.writeDac(chipAddress0, 4, 1000);
    master.pointerWrite(chipAddress0, 0x11);
    QCOMPARE(master.readWord(chipAddress0), quint16(0));

    QCOMPARE(board.chip(0).dacRegister(4), quint16(1000));
    QCOMPARE(board.chip(1).dacRegister(4), quint16(77));
    QCOMPARE(board.chip(1).pointer(), quint8(0));
    QVERIFY(board.chip(1).events().isEmpty());
    QCOMPARE(master.readRegister(chipAddress1, 4), quint16(77));
    QCOMPARE(board.chip(0).pointer(), quint8(0x11));
}

void TestSimulatedBoard::maxBankIsZeroAtPowerUp()
{
    SimulatedBoard board;
    LineMaster master(board);
    for (int a0 : {0, 1}) {
        QCOMPARE(master.readRegister(chipAddress(a0), maxBankRegister), quint16(0));
        QCOMPARE(board.chip(a0).maxBank(), 0);
        for (int reg = 0; reg < SimulatedChip::channelRegisterCount; ++reg) {
            QCOMPARE(master.readRegister(chipAddress(a0), reg), quint16(0));
            for (int bank = 0; bank < SimulatedChip::otpBankCount; ++bank)
                QVERIFY(!board.chip(a0).otpCell(bank, reg));
        }
    }
}

void TestSimulatedBoard::otherRegistersReadZero_data()
{
    QTest::addColumn<int>("reg");

    QTest::newRow("0x18, first past the channels") << 0x18;
    QTest::newRow("0x1F") << 0x1F;
    QTest::newRow("0x20") << 0x20;
    QTest::newRow("0x3E, below max bank") << 0x3E;
    QTest::newRow("0x40, above max bank") << 0x40;
    QTest::newRow("0x7F") << 0x7F;
    QTest::newRow("0x80, a channel register plus bit 7") << 0x80;
    QTest::newRow("0xFF") << 0xFF;
}

void TestSimulatedBoard::otherRegistersReadZero()
{
    QFETCH(int, reg);

    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
        chip.setDacRegister(r, quint16(0x3FF - r));

    QCOMPARE(master.readRegister(chipAddress0, reg), quint16(0));
    // Neither a DAC load nor a burn lands anywhere.
    master.writeDac(chipAddress0, reg, 0x123);
    master.burnOtp(chipAddress0, reg, 0x123);
    QCOMPARE(master.readRegister(chipAddress0, reg), quint16(0));
    for (int r = 0; r < SimulatedChip::channelRegisterCount; ++r)
        QCOMPARE(chip.dacRegister(r), quint16(0x3FF - r));
    QVERIFY(!eventKinds(chip).contains(ChipEvent::Kind::DacWrite));
    QVERIFY(!eventKinds(chip).contains(ChipEvent::Kind::OtpWrite));

    master.generalCallReset();
    QCOMPARE(chip.maxBank(), 0);
}

void TestSimulatedBoard::wordsWithOtherCommandsAreIgnored_data()
{
    QTest::addColumn<int>("highByte");

    QTest::newRow("000") << 0x03;
    QTest::newRow("001") << 0x23;
    QTest::newRow("011") << 0x63;
    QTest::newRow("101") << 0xA3;
    QTest::newRow("110") << 0xC3;
    QTest::newRow("111") << 0xE3;
}

void TestSimulatedBoard::wordsWithOtherCommandsAreIgnored()
{
    QFETCH(int, highByte);

    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    chip.setDacRegister(6, 99);
    LineMaster master(board);

    master.write(chipAddress0, {0x06, quint8(highByte), 0xFF});
    QCOMPARE(chip.dacRegister(6), quint16(99));
    QVERIFY(!chip.otpCell(0, 6));
    master.generalCallReset();
    QCOMPARE(chip.maxBank(), 0);
}

void TestSimulatedBoard::readDataChangesOnFallingEdges()
{
    SimulatedBoard board;
    const SimulatedChip &chip = board.chip(0);
    board.chip(0).setDacRegister(2, 0x0FF); // high byte 0x00, low byte 0xFF
    LineMaster master(board);
    master.pointerWrite(chipAddress0, 2);

    master.start();
    QVERIFY(master.sendByte(0xE9));
    QVERIFY(chip.isDrivingSdaLow()); // bit 15, from the edge that ended the acknowledge
    QCOMPARE(master.readByte(), quint8(0x00));
    // The PC's acknowledge slot: the chip lets go when SCL falls after the 8th bit.
    master.play("R0 D1");
    QVERIFY(!chip.isDrivingSdaLow());
    QVERIFY(board.sda());
    master.play("R1 D1 R1 D0 R1");
    QVERIFY(!chip.isDrivingSdaLow());
    master.play("D1");
    // Bit 7 of the low byte is 1: nothing pulls SDA once the PC lets go.
    QVERIFY(!chip.isDrivingSdaLow());
    QCOMPARE(master.readByte(), quint8(0xFF));
    master.nackAndStop();
    QVERIFY(!chip.isDrivingSdaLow());
    QVERIFY(board.sda());
    QVERIFY(board.scl());
}

void TestSimulatedBoard::readRepeatsWordWhileMasterAcknowledges()
{
    SimulatedBoard board;
    board.chip(1).setDacRegister(0x15, 0x2A5);
    LineMaster master(board);
    master.pointerWrite(chipAddress1, 0x15);
    board.chip(1).clearEvents();

    master.start();
    master.sendByte(0xEB);
    QList<quint8> bytes;
    for (int i = 0; i < 5; ++i) {
        bytes.append(master.readByte());
        master.masterAck();
    }
    bytes.append(master.readByte());
    master.nackAndStop();

    QCOMPARE(bytes, QList<quint8>({0x02, 0xA5, 0x02, 0xA5, 0x02, 0xA5}));
    QCOMPARE(eventKinds(board.chip(1)), QList<ChipEvent::Kind>(3, ChipEvent::Kind::RegisterRead));
    // After the NACK and STOP the chip answers a fresh frame normally.
    QCOMPARE(master.readWord(chipAddress1), quint16(0x2A5));
}

void TestSimulatedBoard::repeatedStartReadsWithoutStop()
{
    SimulatedBoard board;
    board.chip(0).setDacRegister(0x0D, 0x1C7);
    LineMaster master(board);

    master.start();
    QVERIFY(master.sendByte(0xE8));
    QVERIFY(master.sendByte(0x0D));
    QCOMPARE(master.readWord(chipAddress0), quint16(0x1C7));
}

void TestSimulatedBoard::readMatchesIndependentDecoder()
{
    SimulatedBoard board;
    board.chip(1).setDacRegister(0x08, 0x2D3);
    port::RecordingLines recorder(&board);
    LineMaster master(recorder);

    QCOMPARE(master.readRegister(chipAddress1, 0x08), quint16(0x2D3));

    const QList<WireFrame> frames = decodeFrames(recorder.operations());
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].bytes, QList<quint8>({0xEA, 0x08}));
    QVERIFY(frames[0].stopped);
    QCOMPARE(frames[1].bytes.first(), quint8(0xEB));
    QVERIFY(frames[1].stopped);
    // The three acknowledges (pointer write: address and pointer; read: address), then the
    // sixteen data bits 0x2D3, as the port read them.
    const QList<int> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 1};
    QCOMPARE(sampledBits(recorder.operations()), expected);
}

// OTP and general call ----------------------------------------------------------------------

void TestSimulatedBoard::otpBurnWaitsForReset()
{
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    master.writeDac(chipAddress0, 3, 111);

    master.burnOtp(chipAddress0, 3, 900);
    QCOMPARE(chip.otpCell(0, 3), std::optional<quint16>(900));
    QCOMPARE(master.readRegister(chipAddress0, 3), quint16(111));
    QCOMPARE(master.readRegister(chipAddress0, maxBankRegister), quint16(0));

    master.generalCallReset();
    QCOMPARE(master.readRegister(chipAddress0, 3), quint16(900));
    QCOMPARE(master.readRegister(chipAddress0, maxBankRegister), quint16(1));
    QCOMPARE(eventKinds(chip).count(ChipEvent::Kind::OtpWrite), 1);
    QVERIFY(chip.events().contains(ChipEvent{ChipEvent::Kind::Reset, 0, 1}));
}

void TestSimulatedBoard::otpResetReloadsFromNewestBank_data()
{
    QTest::addColumn<QList<Burns>>("cycles"); // burns, then a general-call reset, per entry
    QTest::addColumn<int>("maxBank");
    QTest::addColumn<Burns>("expected"); // register, code after the last reset

    QTest::newRow("one bank") << QList<Burns>{{{2, 300}, {5, 700}}} << 1
                              << Burns{{2, 300}, {5, 700}, {7, 0}, {0, 0}};
    QTest::newRow("newest bank wins, older fills in")
        << QList<Burns>{{{2, 300}, {5, 700}}, {{2, 400}}} << 2 << Burns{{2, 400}, {5, 700}, {7, 0}};
    QTest::newRow("three banks") << QList<Burns>{{{0, 1}}, {{0, 2}, {1, 20}}, {{0, 3}}} << 3
                                 << Burns{{0, 3}, {1, 20}, {2, 0}};
    QTest::newRow("burns after three banks are ignored")
        << QList<Burns>{{{0, 1}}, {{0, 2}}, {{0, 3}}, {{0, 4}, {1, 9}}, {{23, 5}}} << 3
        << Burns{{0, 3}, {1, 0}, {23, 0}};
    QTest::newRow("empty reset between banks")
        << QList<Burns>{{{1, 5}}, {}, {{2, 6}}, {}} << 2 << Burns{{1, 5}, {2, 6}};
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
            master.writeDac(chipAddress1, reg, 0x3AA);
        for (const auto &[reg, code] : burns)
            master.burnOtp(chipAddress1, reg, code);
        master.generalCallReset();
    }

    QCOMPARE(master.readRegister(chipAddress1, maxBankRegister), quint16(maxBank));
    QCOMPARE(chip.maxBank(), maxBank);
    for (const auto &[reg, code] : expected)
        QCOMPARE(master.readRegister(chipAddress1, reg), quint16(code));
}

void TestSimulatedBoard::resetWithoutBurnKeepsBankOpen()
{
    SimulatedBoard board;
    SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    master.writeDac(chipAddress0, 1, 600);

    master.generalCallReset();
    QCOMPARE(chip.maxBank(), 0);
    QCOMPARE(master.readRegister(chipAddress0, 1), quint16(0));

    // The bank still open is the first one.
    master.burnOtp(chipAddress0, 1, 42);
    QCOMPARE(chip.otpCell(0, 1), std::optional<quint16>(42));
    master.generalCallReset();
    master.generalCallReset();
    QCOMPARE(chip.maxBank(), 1);
    QCOMPARE(chip.dacRegister(1), quint16(42));
    QVERIFY(!chip.otpCell(1, 1));
}

void TestSimulatedBoard::generalCallReachesBothChips_data()
{
    QTest::addColumn<bool>("burn0");
    QTest::addColumn<bool>("burn1");
    QTest::addColumn<int>("absentA0"); // -1: both chips on the board

    QTest::newRow("burned on A0=0 only") << true << false << -1;
    QTest::newRow("burned on A0=1 only") << false << true << -1;
    QTest::newRow("burned on both") << true << true << -1;
    QTest::newRow("burned on both, A0=0 off the board") << true << true << 0;
    QTest::newRow("burned on both, A0=1 off the board") << true << true << 1;
}

void TestSimulatedBoard::generalCallReachesBothChips()
{
    QFETCH(bool, burn0);
    QFETCH(bool, burn1);
    QFETCH(int, absentA0);

    SimulatedBoard board;
    LineMaster master(board);
    const bool burned[2] = {burn0, burn1};
    for (int a0 : {0, 1}) {
        master.writeDac(chipAddress(a0), 10, 333);
        if (burned[a0])
            master.burnOtp(chipAddress(a0), 10, 100 + a0);
    }
    if (absentA0 >= 0)
        board.setChipPresent(absentA0, false);

    master.generalCallReset();

    for (int a0 : {0, 1}) {
        const SimulatedChip &chip = board.chip(a0);
        if (a0 == absentA0) {
            QCOMPARE(chip.maxBank(), 0);
            QCOMPARE(chip.dacRegister(10), quint16(333));
            continue;
        }
        QCOMPARE(chip.maxBank(), burned[a0] ? 1 : 0);
        QCOMPARE(chip.dacRegister(10), quint16(burned[a0] ? 100 + a0 : 0));
    }
}

void TestSimulatedBoard::generalCallOtherCommandIsIgnored()
{
    SimulatedBoard board;
    LineMaster master(board);
    master.writeDac(chipAddress0, 0, 500);
    master.burnOtp(chipAddress0, 0, 7);

    // 0x04 is another general-call command, and 0x06 in second place is not a command.
    QCOMPARE(master.write(0x00, {0x04, 0x06}), QList<bool>(3, true));
    QCOMPARE(board.chip(0).maxBank(), 0);
    QCOMPARE(board.chip(0).dacRegister(0), quint16(500));
    QVERIFY(!eventKinds(board.chip(0)).contains(ChipEvent::Kind::Reset));

    // The same reset command as a short frame does what the paced one does.
    master.write(0x00, {0x06});
    QCOMPARE(board.chip(0).maxBank(), 1);
    QCOMPARE(board.chip(0).dacRegister(0), quint16(7));
}

// Robustness --------------------------------------------------------------------------------

void TestSimulatedBoard::frameCutByStopChangesNothing_data()
{
    QTest::addColumn<int>("command"); // data word top bits, or -1 for the general call
    QTest::addColumn<int>("byteIndex");
    QTest::addColumn<int>("bits"); // of that byte, before the STOP
    QTest::addColumn<bool>("pointerMoved");

    for (int bits : {0, 1, 4, 7}) {
        for (int byteIndex : {0, 1, 2, 3}) {
            QTest::addRow("DAC write, byte %d, %d bits", byteIndex, bits)
                << int(loadDacBits) << byteIndex << bits << (byteIndex >= 2);
        }
    }
    QTest::newRow("OTP write, byte 3, 7 bits") << int(burnOtpBits) << 3 << 7 << true;
    QTest::newRow("OTP write, byte 2, 3 bits") << int(burnOtpBits) << 2 << 3 << true;
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
    master.writeDac(chipAddress0, 0x0E, 0x2F0);
    master.burnOtp(chipAddress0, 0x0E, 0x0AB);
    master.pointerWrite(chipAddress0, 0x3F);
    chip.clearEvents();

    const QList<quint8> frame = command < 0
                                    ? QList<quint8>{0x00, SimulatedChip::generalCallReset}
                                    : QList<quint8>{0xE8, 0x0E, quint8(command | 0x01), 0x55};
    master.start();
    for (int i = 0; i < byteIndex; ++i)
        QVERIFY(master.sendByte(frame[i]));
    master.sendBits(frame[byteIndex], bits);
    master.stop();

    QVERIFY(board.sda());
    QVERIFY(!chip.isDrivingSdaLow());
    QCOMPARE(chip.dacRegister(0x0E), quint16(0x2F0));
    QCOMPARE(chip.otpCell(0, 0x0E), std::optional<quint16>(0x0AB));
    QCOMPARE(chip.maxBank(), 0);
    QCOMPARE(chip.pointer(), quint8(pointerMoved ? 0x0E : 0x3F));
    const QList<ChipEvent::Kind> kinds = eventKinds(chip);
    QCOMPARE(kinds, pointerMoved ? QList<ChipEvent::Kind>{ChipEvent::Kind::PointerWrite}
                                 : QList<ChipEvent::Kind>{});

    // The next frame finds the chip in step again.
    QCOMPARE(master.readRegister(chipAddress0, 0x0E), quint16(0x2F0));
}

void TestSimulatedBoard::chipsMoveSdaOnlyWhileSclLow()
{
    SimulatedBoard board;
    BusWatcher watcher(board);
    LineMaster master(watcher);

    master.writeDac(chipAddress0, 1, 0x2AA);
    master.writeDac(chipAddress1, 1, 0x155);
    QCOMPARE(master.readRegister(chipAddress0, 1), quint16(0x2AA));
    QCOMPARE(master.readRegister(chipAddress1, 1), quint16(0x155));
    master.burnOtp(chipAddress1, 1, 0x3F0);
    master.generalCallReset();
    QCOMPARE(master.readRegister(chipAddress1, maxBankRegister), quint16(1));
    board.setChipPresent(0, false);
    QCOMPARE(master.readRegister(chipAddress0, 1), quint16(0xFFFF));

    QCOMPARE(watcher.chipMovesWhileSclHigh, 0);
    // One START and one STOP per frame: 2 writes, 3 reads of two frames, a burn and the reset,
    // and the read of the missing chip.
    QCOMPARE(watcher.starts, 2 + 3 * 2 + 1 + 1 + 2);
    QCOMPARE(watcher.stops, watcher.starts);
}

void TestSimulatedBoard::eventLogIsBounded()
{
    SimulatedBoard board;
    const SimulatedChip &chip = board.chip(0);
    LineMaster master(board);
    constexpr int writes = int(SimulatedChip::eventLogLimit) + 3;
    for (int i = 0; i < writes; ++i)
        master.pointerWrite(chipAddress0, i & 0xFF);

    QVERIFY(chip.events().size() <= SimulatedChip::eventLogLimit);
    QVERIFY(chip.events().size() >= SimulatedChip::eventLogLimit / 2);
    // The newest events are the ones kept.
    QCOMPARE(chip.events().last(),
             (ChipEvent{ChipEvent::Kind::PointerWrite, (writes - 1) & 0xFF, 0}));
}

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
