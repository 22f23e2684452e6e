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

    void adapterPulledOutMidFrameFailsTheOperation_data()
    {
        QTest::addColumn<int>("transfersBefore");
        QTest::newRow("first transfer") << 0;
        QTest::newRow("in a later register") << 7;
    }

    void adapterPulledOutMidFrameFailsTheOperation()
    {
        QFETCH(int, transfersBefore);
        ControlFixture f(false);
        port::PortOverride adapter =
            port::PortMap::parseOverride(QStringLiteral("COM1=sim-ft232r"));
        f.stack.route({missingDevicePorts(f.dir), false, {adapter}});
        f.openPort();
        QVERIFY(f.stack.mappedPort().inFastMode());
        f.stack.virtualAdapter().unplugAfter(transfersBefore);

        const control::ChipReading reading = f.operations->readAll(QStringLiteral("0"));
        QVERIFY(!reading.portHeld());
        QVERIFY(!f.stack.mappedPort().isOpen());
        QVERIFY(reading.registersRead < device::channelCount);
        QVERIFY(!reading.wasRead(reading.registersRead + 1));
        QVERIFY(!f.stack.portError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFastModes)
#include "tst_fastmodes.moc"
