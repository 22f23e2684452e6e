// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "trace/recordinglines.h"
#include "wiredecoder.h"

#include <QTest>
#include <functional>

using bus::ChipBus;
using trace::LineOperation;
using trace::RecordingLines;

// A transaction, on the engine itself or through the chip's transactions built on it.
using FrameAction = std::function<void(bus::LineEngine &, ChipBus &)>;
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
    return [=](bus::LineEngine &, ChipBus &c) {
        const auto write = burn ? &ChipBus::writeOtpRegister : &ChipBus::writeDacRegister;
        (c.*write)(low, high, address, reg);
    };
}

FrameAction readDac(QString reg, QString a0)
{
    return [=](bus::LineEngine &, ChipBus &c) { c.readDacRegister(reg, a0); };
}

// Address 0xE8, then the data byte as text.
FrameAction pointerWrite(QString data)
{
    return [=](bus::LineEngine &engine, ChipBus &) { engine.writeShortFrame(u"11101000", data); };
}

const FrameAction readWord = [](bus::LineEngine &, ChipBus &c) {
    c.readRegisterWord(QStringLiteral("0"));
};
const FrameAction maxBank = [](bus::LineEngine &, ChipBus &c) {
    c.readMaxBank(QStringLiteral("0"));
};
const FrameAction generalCall = [](bus::LineEngine &, ChipBus &c) { c.generalCallReset(); };

} // namespace

// The engine on recorded lines: what goes over the wire for each transaction, and how the
// readings of DSR (scripted here) decide what it heard.
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
        QTest::newRow("max bank") << maxBank << Frames{{0xE8, 0x3F}, {0xE9, 0xFF, 0xFF}} << 0;
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
        action(engine, chip);
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
        dac("11111111", "00000011", "11101000", "00000100")(engine, chip);
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
};

QTEST_GUILESS_MAIN(TestLineEngine)
#include "tst_lineengine.moc"
