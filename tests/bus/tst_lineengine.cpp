#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "device/bitstrings.h"
#include "port/bitbangcomport.h"
#include "sim/simulatedboard.h"
#include "sim/virtualft232r.h"
#include "trace/recordinglines.h"
#include "wiredecoder.h"

#include <QTest>
#include <functional>

using bus::ChipBus;
using trace::LineOperation;
using trace::RecordingLines;

using FrameAction = std::function<void(ChipBus &)>;
Q_DECLARE_METATYPE(FrameAction)
Q_DECLARE_METATYPE(ChipBus::Outcome)

namespace {

// Answers DSR reads from a script of SDA levels (1 = high), then reads released.
class ScriptedDsr : public port::SerialLines
{
public:
    explicit ScriptedDsr(QList<int> sdaBits) : m_bits(std::move(sdaBits)) {}
    bool isOpen() const override { return true; }
    void setDtr(bool) override {}
    void setRts(bool) override {}
    bool dsr() override { return m_next < m_bits.size() ? m_bits[m_next++] == 0 : false; }
    void writeData(const QByteArray &) override {}

private:
    QList<int> m_bits;
    int m_next = 0;
};

// A DAC write (or an OTP burn) as the glue hands it over: data low, data high, address, register.
FrameAction dac(QString low, QString high, QString address, QString reg, bool burn = false)
{
    return [=](ChipBus &c) {
        const auto write = burn ? &ChipBus::writeOtpRegister : &ChipBus::writeDacRegister;
        (c.*write)(low, high, address, reg);
    };
}

FrameAction readDac(QString reg, QString a0)
{
    return [=](ChipBus &c) { c.readDacRegister(reg, a0); };
}

// Address 0xE8, then the data byte as text.
FrameAction pointerWrite(QString data)
{
    return [=](ChipBus &c) { c.engine().writeShortFrame(u"11101000", data); };
}

const FrameAction readWord = [](ChipBus &c) { c.readRegisterWord(QStringLiteral("0")); };
const FrameAction generalCall = [](ChipBus &c) { c.generalCallReset(); };

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

class TestLineEngine : public QObject
{
    Q_OBJECT

private slots:
    void readBackFollowsDsr()
    {
        for (const int word : {0, 65535, 0xA55A}) {
            QList<int> sdaBits{1, 0}; // the bus is free; the chip acknowledges its address
            for (int k = 15; k >= 0; --k)
                sdaBits.append((word >> k) & 1);
            ScriptedDsr script(sdaBits);
            RecordingLines lines(&script);
            bus::LineEngine engine(lines);
            ChipBus chip(engine);
            chip.readRegisterWord(QStringLiteral("0"));
            QCOMPARE(chip.registerWord(), word);
            // The chip's bit is valid while SCL is high: every sample is taken there.
            bool sclLow = false;
            for (const LineOperation &op : lines.operations()) {
                if (op.kind == LineOperation::Kind::SetDtr)
                    sclLow = op.value;
                else if (op.kind == LineOperation::Kind::ReadDsr)
                    QVERIFY(!sclLow);
            }
        }
    }

    void wireBytes_data()
    {
        using Frames = QList<QList<quint8>>;
        QTest::addColumn<FrameAction>("action");
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<int>("pauses");
        QTest::newRow("DAC 1023 to channel 5, extra pause")
            << dac("11111111", "00000011", "11101000", "00000100")
            << Frames{{0xE8, 0x04, 0x83, 0xFF}} << 4;
        QTest::newRow("DAC 512 to channel 5") << dac("00000000", "00000010", "11101000", "00000100")
                                              << Frames{{0xE8, 0x04, 0x82, 0x00}} << 4;
        QTest::newRow("DAC c1 on A0=1") << dac("00000000", "00000010", "11101010", "00010010")
                                        << Frames{{0xEA, 0x12, 0x82, 0x00}} << 4;
        QTest::newRow("leading 000 of high bits never sent")
            << dac("00000000", "11111110", "11101000", "00010111")
            << Frames{{0xE8, 0x17, 0x9E, 0x00}} << 4;
        QTest::newRow("OTP 1023 to channel 5")
            << dac("11111111", "00000011", "11101000", "00000100", true)
            << Frames{{0xE8, 0x04, 0x43, 0xFF}} << 3;
        QTest::newRow("read register 0x17, A0=1")
            << readDac("10111", "1") << Frames{{0xEA, 0x17}, {0xEB, 0xFF, 0xFF}} << 0;
        QTest::newRow("read word") << readWord << Frames{{0xE9, 0xFF, 0xFF}} << 0;
        QTest::newRow("max bank") << FrameAction(
                                         [](ChipBus &c) { c.readMaxBank(QStringLiteral("0")); })
                                  << Frames{{0xE8, 0x3F}, {0xE9, 0xFF, 0xFF}} << 0;
        QTest::newRow("six characters to a channel read are cut")
            << readDac("111111", "0") << Frames{{0xE8, 0x1F}, {0xE9, 0xFF, 0xFF}} << 0;
        QTest::newRow("general call") << generalCall << Frames{{0x00, 0x06}} << 59;
        QTest::newRow("short text, 0 padded") << pointerWrite("1010") << Frames{{0xE8, 0xA0}} << 0;
        QTest::newRow("only '1' is a one, a letter first")
            << pointerWrite("x211 111") << Frames{{0xE8, 0x37}} << 0;
        QTest::newRow("ten characters, first eight used")
            << pointerWrite("1111111100") << Frames{{0xE8, 0xFF}} << 0;
    }

    void wireBytes()
    {
        QFETCH(FrameAction, action);
        QFETCH(QList<QList<quint8>>, frames);
        QFETCH(int, pauses);
        RecordingLines lines;
        bus::LineEngine engine(lines);
        ChipBus chip(engine);
        action(chip);
        const QList<WireFrame> decoded = decodeFrames(lines.operations());
        QCOMPARE(decoded.size(), frames.size());
        int writes = 0;
        int reads = 0;
        for (int i = 0; i < frames.size(); ++i) {
            QCOMPARE(decoded[i].bytes, frames[i]);
            QVERIFY(decoded[i].stopped);
            // Six writes to each of nine bit cells a byte, START and STOP; a frame samples SDA
            // before its START, the acknowledge of every byte it writes and, when it reads,
            // every data bit it receives.
            writes += 10 + 54 * int(frames[i].size());
            reads +=
                1 + (frames[i][0] & 1 ? 1 + 8 * int(frames[i].size() - 1) : int(frames[i].size()));
        }
        const QStringList written = lineWrites(lines.operations());
        QCOMPARE(written.size(), writes);
        QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), reads);
        QCOMPARE(engine.pauseCount(), quint64(pauses));
        // Every frame leaves the bus idle, both outputs released. It begins by releasing SDA, then
        // START; each bit cell writes its RTS value three times, interleaved with DTR.
        QCOMPARE(written.mid(written.size() - 2), (QStringList{"R0", "D0"}));
        QCOMPARE(written.mid(0, 4), (QStringList{"R0", "D0", "R1", "D0"}));
        for (int bit = 0; bit < 8; ++bit) {
            const QString r =
                frames[0][0] >> (7 - bit) & 1 ? QStringLiteral("R0") : QStringLiteral("R1");
            QCOMPARE(written.mid(4 + 6 * bit, 6), (QStringList{"D1", r, "D0", r, "D1", r}));
        }
        // The PC releases SDA for every acknowledge slot of a write; in a read it acknowledges the
        // first received byte and not the second.
        if (frames.last().size() == 3 && frames.last()[0] & 1)
            QCOMPARE(decoded.last().ninthBits, (QList<bool>{true, false, true}));
        else
            QVERIFY(!decoded.last().ninthBits.contains(false));
    }

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
    // every byte the PC writes (0 = SDA low). A NACK on any byte means the write did not take.
    void everyAcknowledgeCounts_data()
    {
        QTest::addColumn<QList<int>>("sda");
        QTest::addColumn<ChipBus::Outcome>("outcome");
        using O = ChipBus::Outcome;
        QTest::newRow("all acknowledged") << QList<int>{1, 0, 0, 0, 0} << O::Answered;
        QTest::newRow("address not acknowledged") << QList<int>{1, 1, 0, 0, 0} << O::Unanswered;
        QTest::newRow("register byte refused") << QList<int>{1, 0, 1, 0, 0} << O::Unanswered;
        QTest::newRow("last data byte refused") << QList<int>{1, 0, 0, 0, 1} << O::Unanswered;
        // SDA low before the START and through all nine clocks of the clear.
        QTest::newRow("bus held") << QList<int>(11, 0) << O::BusHeld;
    }

    void everyAcknowledgeCounts()
    {
        QFETCH(QList<int>, sda);
        QFETCH(ChipBus::Outcome, outcome);
        ScriptedDsr script(sda);
        RecordingLines lines(&script);
        bus::LineEngine engine(lines);
        ChipBus chip(engine);
        dac("11111111", "00000011", "11101000", "00000100")(chip);
        QCOMPARE(chip.outcome(), outcome);
        const QList<WireFrame> frames = decodeFrames(lines.operations());
        if (outcome == ChipBus::Outcome::BusHeld) {
            // Nothing but the check and the clear went out: no frame, no byte.
            QVERIFY(!chip.frameSent());
            QCOMPARE(lineWrites(lines.operations()).size(), 2 + 18 + 2);
            QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), 1 + 9);
            for (const WireFrame &frame : frames)
                QVERIFY(frame.bytes.isEmpty());
        } else {
            QCOMPARE(frames.size(), 1);
            QCOMPARE(frames[0].bytes, (QList<quint8>{0xE8, 0x04, 0x83, 0xFF}));
            QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), 5);
        }
    }

    // A chip left inside a read (its master killed mid-frame) drives a 0 with SCL high: it
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
    TestLineEngine test;
    return QTest::qExec(&test, arguments);
}
#include "tst_lineengine.moc"
