#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "sim/simulatedboard.h"
#include "trace/bustrace.h"
#include "trace/recordinglines.h"
#include "trace/vcdwriter.h"

#include <QBuffer>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using trace::LineOperation;
using trace::RecordingLines;

namespace {

// A VCD file as a reader sees it: the declared signals, the initial values and the steps.
struct Dump
{
    QString header;
    QMap<QString, QString> names;           // id -> name
    QMap<QString, bool> initial;            // name -> value at #0
    QList<qint64> times;                    // every #time, in file order
    QList<QMap<QString, bool>> stepChanges; // the changes after each time but the first
};

Dump parseDump(const QByteArray &text)
{
    Dump dump;
    const QList<QByteArray> lines = text.split('\n');
    bool inDefinitions = true;
    bool inDumpvars = false;
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (inDefinitions) {
            dump.header += line + u'\n';
            const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
            if (words.value(0) == QLatin1String("$var"))
                dump.names.insert(words.value(3), words.value(4));
            if (line == QLatin1String("$enddefinitions $end"))
                inDefinitions = false;
            continue;
        }
        if (line.startsWith(u'#')) {
            dump.times.append(line.mid(1).toLongLong());
            if (dump.times.size() > 1)
                dump.stepChanges.append(QMap<QString, bool>());
        } else if (line == QLatin1String("$dumpvars")) {
            inDumpvars = true;
        } else if (line == QLatin1String("$end")) {
            inDumpvars = false;
        } else if (line.size() >= 2 && (line[0] == u'0' || line[0] == u'1')) {
            const QString name = dump.names.value(line.mid(1));
            if (inDumpvars)
                dump.initial.insert(name, line[0] == u'1');
            else
                dump.stepChanges.last().insert(name, line[0] == u'1');
        }
    }
    return dump;
}

// An I2C frame read from SCL and SDA alone: bits on SCL rising, START and STOP as SDA edges
// while SCL is high.
struct I2cFrame
{
    QList<quint8> bytes;
    QList<bool> acknowledged; // SDA low on the ninth clock
    bool stopped = false;

    friend bool operator==(const I2cFrame &, const I2cFrame &) = default;
};

QList<I2cFrame> decodeI2c(const Dump &dump)
{
    QList<I2cFrame> frames;
    bool scl = dump.initial.value(QStringLiteral("SCL"));
    bool sda = dump.initial.value(QStringLiteral("SDA"));
    bool inFrame = false;
    int bits = 0;
    int shift = 0;
    for (const QMap<QString, bool> &changes : dump.stepChanges) {
        const bool newScl = changes.value(QStringLiteral("SCL"), scl);
        const bool newSda = changes.value(QStringLiteral("SDA"), sda);
        const bool rising = !scl && newScl;
        if (scl && newScl && sda != newSda) { // START or STOP
            if (!newSda)
                frames.append(I2cFrame());
            else if (inFrame)
                frames.last().stopped = true;
            inFrame = !newSda;
            bits = shift = 0;
        } else if (rising && inFrame && bits < 8) {
            shift = (shift << 1) | (newSda ? 1 : 0);
            ++bits;
        } else if (rising && inFrame) {
            frames.last().bytes.append(quint8(shift));
            frames.last().acknowledged.append(!newSda);
            bits = shift = 0;
        }
        scl = newScl;
        sda = newSda;
    }
    return frames;
}

Dump dumpOf(const QList<LineOperation> &operations)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    trace::VcdWriter writer(buffer);
    return writer.write(operations) ? parseDump(buffer.data()) : Dump();
}

// Code 1023 to channel "5" with A0 = 0, as the bit texts the glue hands over.
void writeCode1023ToChannel5(bus::ChipBus &chip)
{
    chip.writeDacRegister(QStringLiteral("11111111"), QStringLiteral("00000011"),
                          QStringLiteral("11101000"), QStringLiteral("00000100"));
}

LineOperation op(LineOperation::Kind kind, bool value, qint64 nanoseconds)
{
    return {kind, value, nanoseconds, {}, std::nullopt};
}

} // namespace

class TestVcdWriter : public QObject
{
    Q_OBJECT

private slots:
    void sameMicrosecondMovesToTheNext();
    void dumpDecodesAsTheFramesSent_data();
    void dumpDecodesAsTheFramesSent();
    void limitKeepsLatestAndSaysSo();
};

void TestVcdWriter::sameMicrosecondMovesToTheNext()
{
    using Kind = LineOperation::Kind;
    const QList<LineOperation> operations = {
        op(Kind::SetDtr, true, 1000),   op(Kind::SetRts, true, 1300),
        op(Kind::SetDtr, false, 1600),  op(Kind::SetRts, false, 3500),
        op(Kind::ReadDsr, false, 3900), // nothing changes
        op(Kind::SetDtr, true, 11000),
    };
    // Microseconds from the first operation; a step never shares a time with the one before,
    // and a closing step ends the dump.
    QCOMPARE(dumpOf(operations).times, (QList<qint64>{0, 1, 2, 3, 4, 10, 11}));
}

void TestVcdWriter::dumpDecodesAsTheFramesSent_data()
{
    QTest::addColumn<bool>("probe");
    // On the board the chip's acknowledges show; a real port never samples them, so its trace
    // shows SDA there as the PC left it: released. Read data it samples, and folds in.
    QTest::newRow("bus levels from the board") << true;
    QTest::newRow("levels driven by the PC, DSR folded in") << false;
}

void TestVcdWriter::dumpDecodesAsTheFramesSent()
{
    QFETCH(bool, probe);
    sim::SimulatedBoard board;
    board.chip(0).setDacRegister(2, 0x2BC);
    RecordingLines recorder(&board);
    if (probe)
        recorder.setLevelProbe([&board] { return trace::BusLevels{board.scl(), board.sda()}; });
    bus::LineEngine engine(recorder);
    bus::ChipBus chip(engine);
    writeCode1023ToChannel5(chip);
    chip.readDacRegister(QStringLiteral("00010"), QStringLiteral("0"));
    QCOMPARE(chip.registerWord(), 0x2BC);
    chip.generalCallReset();

    const Dump dump = dumpOf(recorder.operations());
    QVERIFY(dump.header.contains(QLatin1String("$timescale 1us $end")));
    const QStringList names = dump.names.values();
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()),
             QSet<QString>({"SCL", "SDA", "DTR", "RTS", "DSR"}));
    const QMap<QString, bool> idle{
        {"SCL", true}, {"SDA", true}, {"DTR", false}, {"RTS", false}, {"DSR", false}};
    QCOMPARE(dump.initial, idle);
    QCOMPARE(dump.times.value(0), 0);
    for (qsizetype i = 1; i < dump.times.size(); ++i)
        QVERIFY2(dump.times[i] > dump.times[i - 1], qPrintable(QString::number(i)));
    // A decoder must be able to tell which of SCL and SDA moved first.
    for (const QMap<QString, bool> &changes : dump.stepChanges)
        QVERIFY(!(changes.contains(QStringLiteral("SCL")) && changes.contains("SDA")));
    // DSR shows what the PC sampled: the read's zero bits at least.
    QVERIFY(std::any_of(dump.stepChanges.cbegin(), dump.stepChanges.cend(),
                        [](const QMap<QString, bool> &changes) { return changes.value("DSR"); }));

    const QList<I2cFrame> expected = {
        {{0xE8, 0x04, 0x83, 0xFF}, QList<bool>(4, probe), true},
        {{0xE8, 0x02}, QList<bool>(2, probe), true},
        {{0xE9, 0x02, 0xBC}, {probe, true, false}, true}, // then the PC's ACK and NACK
        {{0x00, 0x06}, QList<bool>(2, probe), true},
    };
    // No START or STOP made up from a sample.
    QCOMPARE(decodeI2c(dump), expected);
}

void TestVcdWriter::limitKeepsLatestAndSaysSo()
{
    sim::SimulatedBoard board;
    RecordingLines full(&board);
    trace::BusTrace trace(full, {}, 96);
    bus::LineEngine engine(trace.lines());
    bus::ChipBus chip(engine);
    writeCode1023ToChannel5(chip);

    const RecordingLines &recorder = trace.recorder();
    const qint64 dropped = recorder.droppedCount();
    QVERIFY(recorder.operations().size() < 96);
    const auto text = [](const QList<LineOperation> &operations) {
        QStringList lines;
        for (const LineOperation &op : operations)
            lines << QStringLiteral("%1 %2").arg(int(op.kind)).arg(op.value);
        return lines;
    };
    QCOMPARE(text(recorder.operations()), text(full.operations().mid(dropped)));

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(trace.writeVcd(buffer, nullptr));
    const Dump dump = parseDump(buffer.data());
    QVERIFY(dump.header.contains(QString::number(dropped)));
    // The dump starts from the lines as the dropped operations left them.
    bool dtr = false;
    bool rts = false;
    for (const LineOperation &op : full.operations().first(dropped)) {
        if (op.kind == LineOperation::Kind::SetDtr)
            dtr = op.value;
        else if (op.kind == LineOperation::Kind::SetRts)
            rts = op.value;
    }
    QVERIFY(dtr); // cut within a frame, not in the idle state that defaults would give
    const QMap<QString, bool> before{
        {"SCL", !dtr}, {"SDA", !rts}, {"DTR", dtr}, {"RTS", rts}, {"DSR", false}};
    QCOMPARE(dump.initial, before);
}

QTEST_GUILESS_MAIN(TestVcdWriter)
#include "tst_vcdwriter.moc"
