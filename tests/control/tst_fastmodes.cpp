// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"
#include "controlfixture.h"
#include "device/bitstrings.h"
#include "port/bitbangcomport.h"
#include "port/mappedcomport.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"
#include "sim/virtualft232r.h"

#include <QTest>
#include <functional>

using bus::ChipBus;
using Transaction = std::function<void(ChipBus &)>;
Q_DECLARE_METATYPE(Transaction)

namespace {

// The two ways a USB adapter can carry the bus, against the serial path as the reference.
enum class Path { Serial, VirtualFt232r, SkippingIdleWrites };

// One board and one way to it; the board keeps a log of every line write it hears.
struct Rig
{
    explicit Rig(Path path, int transferLimit = sim::VirtualFt232r::transferLimit) : path(path)
    {
        board.keepLineLog(true);
        adapter.setTransferLimit(transferLimit);
        port::PortMap map;
        map.mapToSimulated(1, &serial);
        map.setIdleWriteSkipping(1, true);
        skipping.setPortMap(map);
        if (path == Path::VirtualFt232r)
            fast.open(1, {});
        else if (path == Path::SkippingIdleWrites)
            skipping.open(1, {});
        else
            serial.open(1, {});
        // The open released both lines; the transaction starts from there.
        board.clearLineLog();
    }
    port::SerialLines &lines()
    {
        switch (path) {
        case Path::VirtualFt232r:
            return fast;
        case Path::SkippingIdleWrites:
            return skipping;
        case Path::Serial:
            break;
        }
        return serial;
    }
    // The line states the board went through from the open (both released), each change once.
    QByteArray levels() const
    {
        QByteArray changes(1, '\0');
        for (const char state : board.lineLog()) {
            if (changes.back() != state)
                changes.append(state);
        }
        return changes;
    }

    Path path;
    sim::SimulatedBoard board;
    sim::SimulatedComPort serial{board};
    sim::VirtualFt232r adapter{board};
    port::BitBangComPort fast{adapter};
    port::MappedComPort skipping;
    bus::LineEngine engine{lines()};
    ChipBus chip{engine};
};

Transaction dacWrite(int reg, int code, bool burn = false)
{
    return [=](ChipBus &c) {
        const device::DataBits data = device::codeToDataBits(code);
        (c.*(burn ? &ChipBus::writeOtpRegister : &ChipBus::writeDacRegister))(
            data.low, data.high, device::chipAddressBits(QStringLiteral("0")),
            device::decmal_to_binary8(reg));
    };
}

const Transaction readAllRegisters = [](ChipBus &c) {
    for (int reg = 0; reg < 24; ++reg)
        c.readDacRegister(device::decmal_to_binary5(reg), QStringLiteral("0"));
    c.readMaxBank(QStringLiteral("0"));
};

// What an instrument on TXD (D0) decodes from the adapter's steps: each character's bits are
// sampled in their middle, timed from its start bit's falling edge; a character without its
// stop bit ends the decoding.
QByteArray decodeTxd(const QByteArray &steps, double stepsPerBit)
{
    const auto txd = [&](double at) {
        const qsizetype step = qsizetype(at);
        return step >= steps.size() || (quint8(steps[step]) & 0x01);
    };
    QByteArray decoded;
    double at = 0;
    for (;;) {
        while (at < steps.size() && txd(at))
            at += 1;
        if (at >= steps.size() || txd(at + 0.5 * stepsPerBit))
            return decoded;
        const double start = at;
        int byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte |= int(txd(start + (1.5 + bit) * stepsPerBit)) << bit;
        if (!txd(start + 9.5 * stepsPerBit))
            return decoded;
        decoded.append(char(byte));
        at = start + 9.5 * stepsPerBit;
    }
}

} // namespace

class TestFastModes : public QObject
{
    Q_OBJECT

private slots:
    void everyTransactionKeepsItsLineStates_data()
    {
        QTest::addColumn<Transaction>("transaction");
        QTest::addColumn<int>("lineWrites");
        QTest::addColumn<int>("pauses");
        // Fast mode only: an OTP write is preceded by a bus check in a transfer of its own (two
        // releasing writes and the step of their sample), which a serial line does in the START.
        QTest::addColumn<int>("checkSteps");
        QTest::newRow("DAC write") << dacWrite(4, 341) << 226 << 4 << 0;
        QTest::newRow("OTP burn") << dacWrite(7, 1000, true) << 226 << 3 << 3;
        QTest::newRow("read a register") << Transaction([](ChipBus &c) {
            c.readDacRegister(QStringLiteral("00100"), QStringLiteral("0"));
        }) << 290 << 0 << 0;
        QTest::newRow("read all registers") << readAllRegisters << 7250 << 0 << 0;
        QTest::newRow("general call reset")
            << Transaction([](ChipBus &c) { c.generalCallReset(); }) << 118 << 59 << 0;
        QTest::newRow("probe both chips") << Transaction([](ChipBus &c) {
            c.probe(QStringLiteral("0"));
            c.probe(QStringLiteral("1"));
        }) << 128 << 0 << 0;
        // The bus check first, then the echo; its last reading follows its last write: the
        // adapter needs one more step for it.
        QTest::newRow("wiring check")
            << Transaction([](ChipBus &c) { QCOMPARE(c.checkWiring(), ChipBus::Wiring::Fine); })
            << 10 << 0 << 1;
    }

    // The board sees the same levels in the same order on every path, and the reads agree: the
    // FT232R's sample of a step is taken before the step is applied, so a reading after a write
    // is the next step's sample.
    void everyTransactionKeepsItsLineStates()
    {
        QFETCH(Transaction, transaction);
        QFETCH(int, lineWrites);
        QFETCH(int, pauses);
        QFETCH(int, checkSteps);
        QList<QList<int>> results;
        QList<QByteArray> levels;
        for (const Path path : {Path::Serial, Path::VirtualFt232r, Path::SkippingIdleWrites}) {
            // A small transfer limit splits every frame on the way.
            Rig rig(path, 50);
            for (int reg = 0; reg < 24; ++reg)
                rig.board.chip(0).setDacRegister(reg, 37 * reg + 5);
            transaction(rig.chip);
            const sim::SimulatedChip &chip = rig.board.chip(0);
            results.append({rig.chip.registerWord(), int(rig.chip.chipAnswered()),
                            chip.dacRegister(4), chip.otpCell(0, 7).value_or(-1)});
            levels.append(rig.levels());
            if (path == Path::Serial)
                QCOMPARE(rig.board.lineLog().size(), lineWrites);
            if (path == Path::VirtualFt232r) {
                const qsizetype steps = rig.adapter.stepsApplied().size() - checkSteps;
                QVERIFY2(steps == lineWrites + pauses || steps == lineWrites + pauses + 1,
                         qPrintable(QString::number(steps)));
                for (const int size : rig.adapter.transferSizes())
                    QVERIFY(size <= 50);
            }
        }
        QCOMPARE(results[1], results[0]);
        QCOMPARE(results[2], results[0]);
        QCOMPARE(levels[1], levels[0]);
        QCOMPARE(levels[2], levels[0]);
    }

    void framesAreSplitAtTheAdaptersLimit()
    {
        Rig rig(Path::VirtualFt232r);
        dacWrite(4, 341)(rig.chip);
        // 226 writes and 4 pauses as steps, in transfers of at most 128.
        QCOMPARE(rig.adapter.transferSizes(), (QList<int>{128, 102}));
        QCOMPARE(rig.board.chip(0).dacRegister(4), 341);
    }

    // Most writes of a read set a line to the level it has; only the rest reach the adapter.
    void skippingIdleWritesLeavesTheChangesOnly()
    {
        Rig rig(Path::SkippingIdleWrites);
        readAllRegisters(rig.chip);
        QCOMPARE(rig.board.lineLog().size(), 7250 - 4352);
    }

    void markerBlockLeavesOnTxdAsUartFrames_data()
    {
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("4800") << 4800 << QByteArray("\x07\0\0\0", 4);
        QTest::newRow("9600") << 9600 << QByteArray("\x55\xAA\x01\x80", 4);
        QTest::newRow("19200") << 19200 << QByteArray("\xFF\0\xFF\0", 4);
        QTest::newRow("28800") << 28800 << QByteArray("\x12\x34\x56\x78", 4);
        QTest::newRow("38400") << 38400 << QByteArray("\xFE\x7F\xC3\x3C", 4);
    }

    // An instrument on TXD decodes the block as from a serial port.
    void markerBlockLeavesOnTxdAsUartFrames()
    {
        QFETCH(int, bitRate);
        QFETCH(QByteArray, block);
        Rig rig(Path::VirtualFt232r);
        rig.fast.close();
        rig.fast.open(1, port::LineSettings{bitRate});
        rig.board.clearLineLog();
        const qsizetype before = rig.adapter.stepsApplied().size();
        rig.fast.writeData(block);
        // It left at once, without waiting for a frame, and touched neither bus line.
        const QByteArray steps = rig.adapter.stepsApplied().mid(before);
        QVERIFY(!steps.isEmpty());
        QVERIFY(rig.board.lineLog().isEmpty());
        const double stepsPerBit = double(port::BitBangComPort::stepsPerSecond) / bitRate;
        const QByteArray decoded = decodeTxd(steps, stepsPerBit);
        QCOMPARE(decoded.toHex(), block.toHex());
        // The whole block takes its ten bits a character, and ends at mark.
        QVERIFY(qAbs(steps.size() - 10 * block.size() * stepsPerBit) <= 1);
        QVERIFY(quint8(steps.back()) & 0x01);
    }

    // The batch runner's block, through the port selection, in fast mode.
    void outputBytesLeaveOnTxdInFastMode()
    {
        ControlFixture f(false);
        f.stack.route({missingDevicePorts(f.dir),
                       false,
                       {port::PortMap::parseOverride(QStringLiteral("COM1=sim-ft232r"))}});
        f.openPort();
        QVERIFY(f.stack.mappedPort().inFastMode());
        const qsizetype before = f.stack.virtualAdapter().stepsApplied().size();
        f.stack.ports().setOutputBytes(1, 7);
        f.stack.ports().setOutputBytes(2, 0xC5);
        f.stack.ports().sendOutputBytes(2);
        const QByteArray steps = f.stack.virtualAdapter().stepsApplied().mid(before);
        QCOMPARE(decodeTxd(steps, port::BitBangComPort::stepsPerSecond / 9600.0).toHex(),
                 QByteArray("07c50000"));
    }

    // Cut at every transfer of a whole reading, the last chunk of each frame among them: the
    // operation fails, and every register it counts as read holds what the board holds.
    void adapterPulledOutAnywhereCountsOnlyWholeRegisters()
    {
        const auto fastFixture = [](ControlFixture &f) {
            port::PortOverride adapter =
                port::PortMap::parseOverride(QStringLiteral("COM1=sim-ft232r"));
            f.stack.route({missingDevicePorts(f.dir), false, {adapter}});
            for (int reg = 0; reg < device::channelCount; ++reg)
                f.chip0().setDacRegister(reg, quint16(0x2A5 - 7 * reg));
            f.openPort();
        };
        int transfers = 0;
        {
            ControlFixture f(false);
            fastFixture(f);
            f.stack.virtualAdapter().setTransferLimit(50);
            const int opened = int(f.stack.virtualAdapter().transferSizes().size());
            QVERIFY(f.operations->readAll(QStringLiteral("0")).registersRead == 24);
            transfers = int(f.stack.virtualAdapter().transferSizes().size()) - opened;
        }
        QVERIFY(transfers > 24 * 2);
        for (int cut = 0; cut < transfers; ++cut) {
            ControlFixture f(false);
            fastFixture(f);
            f.stack.virtualAdapter().setTransferLimit(50);
            QVERIFY(f.stack.mappedPort().inFastMode());
            f.stack.virtualAdapter().unplugAfter(cut);

            const control::ChipReading reading = f.operations->readAll(QStringLiteral("0"));
            QVERIFY(!reading.portHeld());
            QVERIFY(!f.stack.mappedPort().isOpen());
            QVERIFY(!f.stack.portError().isEmpty());
            // The last transfers are the max bank's.
            QVERIFY2(reading.registersRead < device::channelCount || !reading.maxBankAnswered,
                     qPrintable(QString::number(cut)));
            if (reading.registersRead < device::channelCount)
                QVERIFY(!reading.wasRead(reading.registersRead + 1));
            for (int index = 1; index <= reading.registersRead; ++index) {
                if (reading.wasRead(index))
                    QCOMPARE(reading.word(index), int(f.chip0().dacRegister(index - 1)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFastModes)
#include "tst_fastmodes.moc"
