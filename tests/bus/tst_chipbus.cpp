// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "device/bitstrings.h"
#include "port/bitbangcomport.h"
#include "sim/simulatedboard.h"
#include "sim/virtualft232r.h"
#include "trace/recordinglines.h"
#include "wiredecoder.h"

#include <QTest>

using bus::ChipBus;
using trace::LineOperation;
using trace::RecordingLines;

namespace {

// Run with -ft232r, every test reaches the board through a virtual FT232R in bit-bang mode.
bool throughVirtualAdapter = false;

// The engine and the register transactions end to end against the simulated board, which
// decodes nothing but the line levels.
struct Bench
{
    Bench()
    {
        if (throughVirtualAdapter)
            fast.open(1, {});
    }
    port::SerialLines &lines()
    {
        return throughVirtualAdapter ? static_cast<port::SerialLines &>(fast) : board;
    }

    sim::SimulatedBoard board;
    sim::VirtualFt232r adapter{board};
    port::BitBangComPort fast{adapter};
    bus::LineEngine engine{lines()};
    ChipBus chip{engine};

    void write(const QString &a0, int reg, double code, bool burn = false)
    {
        const device::DataBits data = device::codeToDataBits(code);
        const auto send = burn ? &ChipBus::writeOtpRegister : &ChipBus::writeDacRegister;
        (chip.*send)(data.low, data.high, device::chipAddressBits(a0),
                     device::decmal_to_binary8(reg));
    }
    int read(const QString &a0, int reg)
    {
        chip.readDacRegister(device::decmal_to_binary5(reg), a0);
        return chip.registerWord();
    }
};

} // namespace

// The register transactions against the simulated board: who answers, what the registers and
// OTP banks then hold, and how a chip stuck in a read is freed.
class TestChipBus : public QObject
{
    Q_OBJECT

private slots:
    void writtenCodesReadBack_data()
    {
        QTest::addColumn<QString>("a0");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("code");
        QTest::newRow("A0=0 reg 0, 0") << "0" << 0 << 0;
        QTest::newRow("A0=0 reg 0x17, 1023") << "0" << 0x17 << 1023;
        QTest::newRow("A0=1 reg 0x12, 341") << "1" << 0x12 << 341;
    }

    void writtenCodesReadBack()
    {
        QFETCH(QString, a0);
        QFETCH(int, reg);
        QFETCH(int, code);
        Bench b;
        b.write(QStringLiteral("0"), reg, 77); // so that a write to the wrong chip shows
        b.write(QStringLiteral("1"), reg, 77);
        b.write(a0, reg, code);
        QCOMPARE(b.read(a0, reg), code);
        const QString other = a0 == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
        QCOMPARE(b.read(other, reg), 77);
    }

    void whoAnswers_data()
    {
        using Wiring = ChipBus::Wiring;
        using Dsr = sim::SimulatedBoard::DsrWiring;
        QTest::addColumn<bool>("chip0Present");
        QTest::addColumn<Dsr>("dsr");
        QTest::addColumn<Wiring>("wiring");
        QTest::newRow("all fine") << true << Dsr::Normal << Wiring::Fine;
        QTest::newRow("chip 0 absent (or A0 wrong)") << false << Dsr::Normal << Wiring::Fine;
        QTest::newRow("no DSR on the adapter") << true << Dsr::Missing << Wiring::NoEcho;
        QTest::newRow("DSR inverted") << true << Dsr::Inverted << Wiring::Inverted;
        QTest::newRow("DSR stuck asserted") << true << Dsr::StuckAsserted << Wiring::StuckLow;
    }

    void whoAnswers()
    {
        QFETCH(bool, chip0Present);
        QFETCH(sim::SimulatedBoard::DsrWiring, dsr);
        QFETCH(ChipBus::Wiring, wiring);
        Bench b;
        b.board.setChipPresent(0, chip0Present);
        b.board.setDsrWiring(dsr);
        RecordingLines lines(&b.lines());
        bus::LineEngine engine(lines);
        ChipBus chip(engine);
        const bool heard = dsr == sim::SimulatedBoard::DsrWiring::Normal;
        QCOMPARE(chip.checkWiring(), wiring);
        QVERIFY(b.board.scl() && b.board.sda());
        QCOMPARE(b.board.chip(1).events().size(), 0); // START and STOP touch nothing
        // The probe is an address and nothing more: on a free bus 64 writes and two samples (the
        // bus free, the acknowledge); no register moves. Where idle SDA reads low, the bus is
        // held, and a clear runs instead of the frame.
        lines.clear();
        QCOMPARE(chip.probe(QStringLiteral("0")), heard && chip0Present);
        const bool readsFree = dsr == sim::SimulatedBoard::DsrWiring::Normal ||
                               dsr == sim::SimulatedBoard::DsrWiring::Missing;
        QCOMPARE(chip.busHeld(), !readsFree);
        if (readsFree) {
            QCOMPARE(lineWrites(lines.operations()).size(), 64);
            QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), 2);
        } else if (!throughVirtualAdapter) {
            // The START's releasing writes and its reading, then the clear: nine pulses, each
            // with a reading, and a START and STOP. The frame is not sent.
            QCOMPARE(lineWrites(lines.operations()).size(), 2 + 18 + 2);
            QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), 1 + 9);
        } else {
            // A whole frame goes out before its START's reading is known; the clear follows.
            QCOMPARE(lineWrites(lines.operations()).size(), 64 + 18 + 2);
        }
        QCOMPARE(chip.probe(QStringLiteral("1")), heard);
        QCOMPARE(b.board.chip(1).events().size(), 0);

        b.chip.readDacRegister(QStringLiteral("00100"), QStringLiteral("0"));
        QCOMPARE(b.chip.chipAnswered(), chip0Present && heard);
        b.write(QStringLiteral("0"), 4, 300);
        QCOMPARE(b.chip.chipAnswered(), chip0Present && heard);
        b.chip.generalCallReset();
        QCOMPARE(b.chip.chipAnswered(), heard); // any chip answers the general call
    }

    // Each DSR reading of a write, in order: the bus before the START, then the acknowledge of

    // would not see a START. The frame checks the bus, clocks the chip free, then sends itself.
    void heldBusIsClearedBeforeTheFrame()
    {
        Bench b;
        b.board.chip(0).setDacRegister(0, 341); // the pointed register: the word it was sending
        b.board.chip(0).setDacRegister(6, 0x2AA);
        b.board.freezeChipMidRead(0);
        QVERIFY(!b.board.sda());
        RecordingLines lines(&b.lines());
        bus::LineEngine engine(lines);
        ChipBus chip(engine);
        // Where a frame cannot be held back, the callers check the bus in a transfer of its own.
        if (throughVirtualAdapter)
            QVERIFY(chip.prepareOperation());
        chip.readDacRegister(QStringLiteral("00110"), QStringLiteral("0"));
        QCOMPARE(chip.registerWord(), 0x2AA);
        QVERIFY(chip.chipAnswered());
        QCOMPARE(engine.busClearCount(), quint64(1));
        QCOMPARE(b.board.chip(0).events().first(),
                 (sim::ChipEvent{sim::ChipEvent::Kind::PointerWrite, 6, 0}));

        // The clear: SDA released by the PC throughout, each reading taken with SCL high after
        // a pulse, stopping at the first released one (341 is sent 0000 0001 0101 0101: the
        // chip holds the first bit, so seven more clocks bring out its 1), then SDA falls and
        // rises with SCL high (START, STOP), and the frame's START follows.
        const QStringList written = lineWrites(lines.operations());
        QStringList clear{"R0", "D0"};
        for (int pulse = 0; pulse < 7; ++pulse)
            clear << "D1"
                  << "D0";
        clear << "R1"
              << "R0";
        QCOMPARE(written.mid(0, clear.size()), clear);
        // On a serial line the START goes on from the released lines; an adapter sending whole
        // frames ended the check's transfer there, and the frame starts as every frame does.
        const QStringList start =
            throughVirtualAdapter ? QStringList{"R0", "D0", "R1", "D0"} : QStringList{"R1", "D0"};
        QCOMPARE(written.mid(clear.size(), start.size()), start);
        QCOMPARE(written.size(), clear.size() + start.size() - 4 + 118 + 172);
        bool sclLow = false;
        bool rtsLow = false;
        int readings = 0;
        for (const LineOperation &op : lines.operations()) {
            if (op.kind == LineOperation::Kind::SetDtr)
                sclLow = op.value;
            else if (op.kind == LineOperation::Kind::SetRts)
                rtsLow = op.value;
            else if (op.kind == LineOperation::Kind::ReadDsr && readings++ < 1 + 7 + 1)
                QVERIFY(!sclLow && !rtsLow);
        }

        // A free bus costs one reading and no write more.
        lines.clear();
        QVERIFY(engine.checkBus());
        QCOMPARE(lineWrites(lines.operations()), (QStringList{"R0", "D0"}));
        QCOMPARE(engine.busClearCount(), quint64(1));
    }

    void otpBanks()
    {
        Bench b;
        const QString a0 = QStringLiteral("0");
        const QString other = QStringLiteral("1");
        QCOMPARE(b.chip.readMaxBank(a0), 0);
        b.write(a0, 4, 1023, true);
        b.write(a0, 5, 100, true);
        b.write(other, 5, 600, true);
        b.write(a0, 4, 1);
        b.write(a0, 6, 9);
        b.write(other, 5, 4);
        QCOMPARE(b.read(a0, 4), 1); // a burn does not load the DAC register
        b.chip.generalCallReset();  // reaches both chips
        // Register 6 of A0 = 0 was never burned: reset loads 0.
        QCOMPARE((QList<int>{b.chip.readMaxBank(a0), b.chip.readMaxBank(other), b.read(a0, 4),
                             b.read(a0, 5), b.read(other, 5), b.read(a0, 6)}),
                 (QList<int>{1, 1, 1023, 100, 600, 0}));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    throughVirtualAdapter = arguments.removeAll(QStringLiteral("-ft232r")) > 0;
    TestChipBus test;
    return QTest::qExec(&test, arguments);
}
#include "tst_chipbus.moc"
