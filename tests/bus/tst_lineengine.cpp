#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "trace/recordinglines.h"
#include "wiredecoder.h"

#include <QTest>
#include <functional>

using trace::LineOperation;
using trace::RecordingLines;

using FrameAction = std::function<void(bus::ChipBus &)>;
Q_DECLARE_METATYPE(FrameAction)

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

QList<int> bitsOf(quint16 word)
{
    QList<int> bits;
    for (int k = 15; k >= 0; --k)
        bits.append((word >> k) & 1);
    return bits;
}

QList<quint8> bytes(std::initializer_list<int> values)
{
    QList<quint8> result;
    for (int v : values)
        result.append(quint8(v));
    return result;
}

FrameAction dac(const char *low, const char *high, const char *address, const char *reg)
{
    return [=](bus::ChipBus &c) {
        c.writeDacRegister(QString::fromLatin1(low), QString::fromLatin1(high),
                           QString::fromLatin1(address), QString::fromLatin1(reg));
    };
}

FrameAction otp(const char *low, const char *high, const char *address, const char *reg)
{
    return [=](bus::ChipBus &c) {
        c.writeOtpRegister(QString::fromLatin1(low), QString::fromLatin1(high),
                           QString::fromLatin1(address), QString::fromLatin1(reg));
    };
}

FrameAction readDac(const char *reg, const char *a0)
{
    return [=](bus::ChipBus &c) {
        c.readDacRegister(QString::fromLatin1(reg), QString::fromLatin1(a0));
    };
}

const FrameAction generalCall = [](bus::ChipBus &c) { c.generalCallReset(); };

} // namespace

class TestLineEngine : public QObject
{
    Q_OBJECT

private slots:
    void lineValueForBit_data();
    void lineValueForBit();
    void frameShape_data();
    void frameShape();
    void byteTexts_data();
    void byteTexts();
    void bitCells_data();
    void bitCells();
    void readBackFollowsDsr_data();
    void readBackFollowsDsr();
    void wireBytes_data();
    void wireBytes();
};

void TestLineEngine::lineValueForBit_data()
{
    QTest::addColumn<int>("bit");
    QTest::addColumn<bool>("asserted");
    QTest::newRow("1 releases SDA") << 1 << false;
    QTest::newRow("0 pulls SDA low") << 0 << true;
    QTest::newRow("2") << 2 << true;
    QTest::newRow("-1") << -1 << true;
}

void TestLineEngine::lineValueForBit()
{
    QFETCH(int, bit);
    QFETCH(bool, asserted);
    QCOMPARE(bus::LineEngine::lineValueForBit(bit), asserted);
}

void TestLineEngine::frameShape_data()
{
    QTest::addColumn<FrameAction>("action");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("pauses");
    const char *a = "11101000";
    const char *b = "00000100";
    QTest::newRow("pointer write") << FrameAction([=](bus::ChipBus &c) {
        c.engine().writeShortFrame(QString::fromLatin1(a), QString::fromLatin1(b));
    }) << 118 << 0 << 0;
    QTest::newRow("read") << FrameAction([](bus::ChipBus &c) {
        c.readRegisterWord(QStringLiteral("0"));
    }) << 172 << 16 << 0;
    QTest::newRow("DAC write, extra pause") << dac(b, b, a, b) << 226 << 0 << 4;
    QTest::newRow("OTP write") << otp(b, b, a, b) << 226 << 0 << 3;
    QTest::newRow("general call") << generalCall << 118 << 0 << 59;
}

void TestLineEngine::frameShape()
{
    QFETCH(FrameAction, action);
    QFETCH(int, writes);
    QFETCH(int, reads);
    QFETCH(int, pauses);
    RecordingLines lines;
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
    action(chip);
    const QStringList written = lineWrites(lines.operations());
    QCOMPARE(written.size(), writes);
    QCOMPARE(lines.count(LineOperation::Kind::ReadDsr), reads);
    QCOMPARE(engine.pauseCount(), quint64(pauses));
    // Every frame begins by releasing SDA and leaves the bus idle, both outputs released.
    QCOMPARE(written.first(), QStringLiteral("R0"));
    QCOMPARE(written.mid(written.size() - 2), (QStringList{"R0", "D0"}));
}

void TestLineEngine::byteTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("byte");
    QTest::newRow("short text padded with 0") << "1010" << 0xA0;
    QTest::newRow("only '1' is a one, a letter first") << "x211 111" << 0x37;
    QTest::newRow("ten characters, first eight used") << "1111111100" << 0xFF;
}

void TestLineEngine::byteTexts()
{
    QFETCH(QString, text);
    QFETCH(int, byte);
    RecordingLines lines;
    bus::LineEngine engine(lines);
    engine.writeShortFrame(QStringLiteral("11101000"), text);
    const QList<WireFrame> frames = decodeFrames(lines.operations());
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].bytes, bytes({0xE8, byte}));
    QVERIFY(frames[0].stopped);
}

void TestLineEngine::bitCells_data()
{
    QTest::addColumn<FrameAction>("action");
    QTest::addColumn<QStringList>("rtsValues");
    QTest::newRow("read address, A0=0")
        << FrameAction([](bus::ChipBus &c) { c.readRegisterWord(QStringLiteral("0")); })
        << QStringList{"R0", "R0", "R0", "R1", "R0", "R1", "R1", "R0"};
    QTest::newRow("general call, paced") << generalCall << QStringList(8, QStringLiteral("R1"));
}

void TestLineEngine::bitCells()
{
    // After START, each bit cell writes its RTS value three times, interleaved with DTR.
    QFETCH(FrameAction, action);
    QFETCH(QStringList, rtsValues);
    RecordingLines lines;
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
    action(chip);
    const QStringList written = lineWrites(lines.operations());
    QCOMPARE(written.mid(0, 4), (QStringList{"R0", "D0", "R1", "D0"}));
    for (int bit = 0; bit < 8; ++bit) {
        const QString r = rtsValues[bit];
        QCOMPARE(written.mid(4 + 6 * bit, 6), (QStringList{"D1", r, "D0", r, "D1", r}));
    }
}

void TestLineEngine::readBackFollowsDsr_data()
{
    QTest::addColumn<int>("word");
    QTest::newRow("1023") << 1023;
    QTest::newRow("32768") << 32768;
    QTest::newRow("0") << 0;
    QTest::newRow("65535") << 65535;
    QTest::newRow("0xA55A") << 0xA55A;
}

void TestLineEngine::readBackFollowsDsr()
{
    QFETCH(int, word);
    ScriptedDsr script(bitsOf(quint16(word)));
    RecordingLines lines(&script);
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
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

void TestLineEngine::wireBytes_data()
{
    QTest::addColumn<FrameAction>("action");
    QTest::addColumn<QList<QList<quint8>>>("frames");
    using Frames = QList<QList<quint8>>;
    QTest::newRow("DAC 1023 to channel 5") << dac("11111111", "00000011", "11101000", "00000100")
                                           << Frames{bytes({0xE8, 0x04, 0x83, 0xFF})};
    QTest::newRow("DAC 512 to channel 5") << dac("00000000", "00000010", "11101000", "00000100")
                                          << Frames{bytes({0xE8, 0x04, 0x82, 0x00})};
    QTest::newRow("DAC c1 on A0=1") << dac("00000000", "00000010", "11101010", "00010010")
                                    << Frames{bytes({0xEA, 0x12, 0x82, 0x00})};
    QTest::newRow("leading 000 of high bits never sent")
        << dac("00000000", "11111110", "11101000", "00010111")
        << Frames{bytes({0xE8, 0x17, 0x9E, 0x00})};
    QTest::newRow("OTP 1023 to channel 5") << otp("11111111", "00000011", "11101000", "00000100")
                                           << Frames{bytes({0xE8, 0x04, 0x43, 0xFF})};
    QTest::newRow("read register 0x17, A0=1")
        << readDac("10111", "1") << Frames{bytes({0xEA, 0x17}), bytes({0xEB, 0xFF, 0xFF})};
    QTest::newRow("max bank") << FrameAction([](bus::ChipBus &c) {
        c.readMaxBank(QStringLiteral("0"));
    }) << Frames{bytes({0xE8, 0x3F}), bytes({0xE9, 0xFF, 0xFF})};
    QTest::newRow("six characters to a channel read are cut")
        << readDac("111111", "0") << Frames{bytes({0xE8, 0x1F}), bytes({0xE9, 0xFF, 0xFF})};
    QTest::newRow("general call") << generalCall << Frames{bytes({0x00, 0x06})};
}

void TestLineEngine::wireBytes()
{
    QFETCH(FrameAction, action);
    QFETCH(QList<QList<quint8>>, frames);
    RecordingLines lines;
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
    action(chip);
    const QList<WireFrame> decoded = decodeFrames(lines.operations());
    QCOMPARE(decoded.size(), frames.size());
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(decoded[i].bytes, frames[i]);
        QVERIFY(decoded[i].stopped);
    }
    // The PC releases SDA for every acknowledge slot of a write; in a read it acknowledges the
    // first received byte and not the second.
    if (frames.last().size() == 3 && frames.last()[0] & 1)
        QCOMPARE(decoded.last().ninthBits, (QList<bool>{true, false, true}));
    else
        QVERIFY(!decoded.last().ninthBits.contains(false));
}

QTEST_GUILESS_MAIN(TestLineEngine)
#include "tst_lineengine.moc"
