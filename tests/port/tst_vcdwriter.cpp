#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "port/bustrace.h"
#include "port/recordinglines.h"
#include "port/vcdwriter.h"
#include "sim/simulatedboard.h"

#include <QBuffer>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

using port::LineOperation;
using port::RecordingLines;

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
        if (scl && newScl && sda != newSda) {
            if (!newSda) {
                frames.append(I2cFrame());
                inFrame = true;
                bits = 0;
                shift = 0;
            } else if (inFrame) {
                frames.last().stopped = true;
                inFrame = false;
            }
        } else if (!scl && newScl && inFrame) {
            if (++bits <= 8) {
                shift = (shift << 1) | (newSda ? 1 : 0);
            } else {
                frames.last().bytes.append(quint8(shift));
                frames.last().acknowledged.append(!newSda);
                bits = 0;
                shift = 0;
            }
        }
        scl = newScl;
        sda = newSda;
    }
    return frames;
}

std::optional<port::BusLevels> levelsOf(const sim::SimulatedBoard &board)
{
    return port::BusLevels{board.scl(), board.sda()};
}

QByteArray vcdOf(const RecordingLines &recorder)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    port::VcdWriter writer(buffer);
    if (!writer.write(recorder.operations(), recorder.stateBeforeFirst()))
        return {};
    return buffer.data();
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
    void headerAndInitialValues();
    void everyChangeOnItsOwnStep();
    void sameMicrosecondMovesToTheNext();
    void dacWriteDecodes_data();
    void dacWriteDecodes();
    void readDataRecoveredFromSamples_data();
    void readDataRecoveredFromSamples();
    void limitKeepsLatestAndSaysSo();
    void exportFailureIsReported();
};

void TestVcdWriter::headerAndInitialValues()
{
    sim::SimulatedBoard board;
    RecordingLines recorder(&board);
    bus::LineEngine engine(recorder);
    bus::ChipBus chip(engine);
    writeCode1023ToChannel5(chip);

    const Dump dump = parseDump(vcdOf(recorder));
    QVERIFY(dump.header.contains(QLatin1String("$timescale 1us $end")));
    const QStringList names = dump.names.values();
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()),
             QSet<QString>({"SCL", "SDA", "DTR", "RTS", "DSR"}));
    QCOMPARE(dump.times.value(0), 0);
    // An idle bus: both lines released and high.
    const QMap<QString, bool> idle{
        {"SCL", true}, {"SDA", true}, {"DTR", false}, {"RTS", false}, {"DSR", false}};
    QCOMPARE(dump.initial, idle);
}

void TestVcdWriter::everyChangeOnItsOwnStep()
{
    sim::SimulatedBoard board;
    RecordingLines recorder(&board);
    recorder.setLevelProbe([&board] { return levelsOf(board); });
    bus::LineEngine engine(recorder);
    bus::ChipBus chip(engine);
    chip.readDacRegister(QStringLiteral("00100"), QStringLiteral("0"));
    writeCode1023ToChannel5(chip);
    chip.generalCallReset();

    const Dump dump = parseDump(vcdOf(recorder));
    QVERIFY(dump.times.size() > 100);
    for (qsizetype i = 1; i < dump.times.size(); ++i)
        QVERIFY2(dump.times[i] > dump.times[i - 1], qPrintable(QString::number(i)));
    // A decoder must be able to tell which of SCL and SDA moved first.
    for (const QMap<QString, bool> &changes : dump.stepChanges)
        QVERIFY(!(changes.contains(QStringLiteral("SCL")) && changes.contains("SDA")));
}

void TestVcdWriter::sameMicrosecondMovesToTheNext()
{
    using Kind = LineOperation::Kind;
    const QList<LineOperation> operations = {
        op(Kind::SetDtr, true, 1000),   op(Kind::SetRts, true, 1300),
        op(Kind::SetDtr, false, 1600),  op(Kind::SetRts, false, 3500),
        op(Kind::ReadDsr, false, 3900), // nothing changes
        op(Kind::SetDtr, true, 11000),
    };
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    port::VcdWriter writer(buffer);
    QVERIFY(writer.write(operations));

    // Microseconds from the first operation; a step never shares a time with the one before,
    // and a closing step ends the dump.
    const QList<qint64> expected = {0, 1, 2, 3, 4, 10, 11};
    QCOMPARE(parseDump(buffer.data()).times, expected);
}

void TestVcdWriter::dacWriteDecodes_data()
{
    QTest::addColumn<bool>("probe");
    QTest::addColumn<bool>("acknowledged");
    // On the board the chip's acknowledges show; a real port never samples them, so its trace
    // shows SDA as the PC left it: released.
    QTest::newRow("bus levels from the board") << true << true;
    QTest::newRow("levels driven by the PC") << false << false;
}

void TestVcdWriter::dacWriteDecodes()
{
    QFETCH(bool, probe);
    QFETCH(bool, acknowledged);
    sim::SimulatedBoard board;
    RecordingLines recorder(&board);
    if (probe)
        recorder.setLevelProbe([&board] { return levelsOf(board); });
    bus::LineEngine engine(recorder);
    bus::ChipBus chip(engine);
    writeCode1023ToChannel5(chip);

    const QList<I2cFrame> frames = decodeI2c(parseDump(vcdOf(recorder)));
    const I2cFrame expected{{0xE8, 0x04, 0x83, 0xFF}, QList<bool>(4, acknowledged), true};
    QCOMPARE(frames, QList<I2cFrame>{expected});
    QCOMPARE(board.chip(0).dacRegister(4), quint16(1023));
}

void TestVcdWriter::readDataRecoveredFromSamples_data()
{
    QTest::addColumn<bool>("probe");
    QTest::newRow("bus levels from the board") << true;
    QTest::newRow("levels driven by the PC, DSR folded in") << false;
}

void TestVcdWriter::readDataRecoveredFromSamples()
{
    QFETCH(bool, probe);
    sim::SimulatedBoard board;
    board.chip(0).setDacRegister(2, 0x2BC);
    RecordingLines recorder(&board);
    if (probe)
        recorder.setLevelProbe([&board] { return levelsOf(board); });
    bus::LineEngine engine(recorder);
    bus::ChipBus chip(engine);
    chip.readDacRegister(QStringLiteral("00010"), QStringLiteral("0"));
    QCOMPARE(chip.registerWord(), 0x2BC);

    const QList<I2cFrame> frames = decodeI2c(parseDump(vcdOf(recorder)));
    QCOMPARE(frames.size(), 2); // no START or STOP made up from a sample
    QCOMPARE(frames[0].bytes, QList<quint8>({0xE8, 0x02}));
    QVERIFY(frames[0].stopped);
    QCOMPARE(frames[1].bytes, QList<quint8>({0xE9, 0x02, 0xBC}));
    QCOMPARE(frames[1].acknowledged.mid(1), QList<bool>({true, false})); // the PC's ACK, NACK
    QVERIFY(frames[1].stopped);
}

void TestVcdWriter::limitKeepsLatestAndSaysSo()
{
    sim::SimulatedBoard board;
    constexpr qsizetype limit = 40;
    port::BusTrace trace(board, {}, limit);
    bus::LineEngine engine(trace.lines());
    bus::ChipBus chip(engine);
    writeCode1023ToChannel5(chip);

    const RecordingLines &recorder = trace.recorder();
    QVERIFY(recorder.operations().size() < limit);
    QCOMPARE(recorder.droppedCount() + recorder.operations().size(), 226);
    // The paced STOP ends the frame: both lines released.
    QCOMPARE(recorder.operations().last().value, false);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(trace.writeVcd(buffer, &error));
    const Dump dump = parseDump(buffer.data());
    QVERIFY(!trace.limitNote().isEmpty());
    QVERIFY(dump.header.contains(QString::number(recorder.droppedCount())));
    // The dump starts from the lines as the dropped operations left them.
    const port::LineState &before = recorder.stateBeforeFirst();
    QCOMPARE(dump.initial.value(QStringLiteral("DTR")), before.dtr);
    QCOMPARE(dump.initial.value(QStringLiteral("RTS")), before.rts);
    QCOMPARE(dump.initial.value(QStringLiteral("SCL")), !before.dtr);
}

void TestVcdWriter::exportFailureIsReported()
{
    sim::SimulatedBoard board;
    port::BusTrace trace(board);
    trace.lines().setDtr(true);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/trace.vcd"));
    QString error;
    QVERIFY(!trace.writeVcd(path, &error));
    QVERIFY2(error.contains(QLatin1String("trace.vcd")), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestVcdWriter)
#include "tst_vcdwriter.moc"
