// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "sim/simulatedboard.h"
#include "trace/bustrace.h"
#include "trace/recordinglines.h"
#include "trace/vcdwriter.h"
#include "wiredecoder.h"

#include <QBuffer>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using trace::LineOperation;
using trace::RecordingLines;

namespace {

// A VCD file as a reader sees it: the declared signals, then the values set at each time.
struct Dump
{
    QString header;
    QMap<QString, QString> names;       // id -> name
    QList<qint64> times;                // every #time, in file order
    QList<QMap<QString, bool>> changes; // name -> value set at each time; at #0 the initial ones
};

Dump parseDump(const QByteArray &text)
{
    Dump dump;
    bool inDefinitions = true;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (inDefinitions) {
            dump.header += line + u'\n';
            const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
            if (words.value(0) == QLatin1String("$var"))
                dump.names.insert(words.value(3), words.value(4));
            inDefinitions = line != QLatin1String("$enddefinitions $end");
        } else if (line.startsWith(u'#')) {
            dump.times.append(line.mid(1).toLongLong());
            dump.changes.append(QMap<QString, bool>());
        } else if (line.size() >= 2 && (line[0] == u'0' || line[0] == u'1')) {
            dump.changes.last().insert(dump.names.value(line.mid(1)), line[0] == u'1');
        }
    }
    return dump;
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

// The dump's SCL and SDA as line writes (asserted = low), for the wire decoder.
QList<LineOperation> busLevelsOf(const Dump &dump)
{
    QList<LineOperation> writes;
    for (const QMap<QString, bool> &changes : dump.changes.mid(1)) {
        for (const auto &[name, kind] : {std::pair{"SCL", LineOperation::Kind::SetDtr},
                                         std::pair{"SDA", LineOperation::Kind::SetRts}}) {
            if (changes.contains(QLatin1String(name)))
                writes.append(op(kind, !changes.value(QLatin1String(name)), 0));
        }
    }
    return writes;
}

} // namespace

class TestVcdWriter : public QObject
{
    Q_OBJECT

private slots:
    void sameMicrosecondMovesToTheNext()
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

    void dumpDecodesAsTheFramesSent_data()
    {
        QTest::addColumn<bool>("probe");
        // On the board the chip's acknowledges show; a real port shows what it samples: the
        // acknowledge of every byte it writes, and the read data.
        QTest::newRow("bus levels from the board") << true;
        QTest::newRow("levels driven by the PC, DSR folded in") << false;
    }

    void dumpDecodesAsTheFramesSent()
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
        // Every signal is declared and starts from the idle bus.
        const QMap<QString, bool> idle{
            {"SCL", true}, {"SDA", true}, {"DTR", false}, {"RTS", false}, {"DSR", false}};
        QCOMPARE(dump.changes.value(0), idle);
        // A decoder must be able to tell which of SCL and SDA moved first.
        for (const QMap<QString, bool> &changes : dump.changes.mid(1))
            QVERIFY(!(changes.contains(QStringLiteral("SCL")) && changes.contains("SDA")));
        // DSR shows what the PC sampled: the read's zero bits at least.
        QVERIFY(
            std::any_of(dump.changes.cbegin() + 1, dump.changes.cend(),
                        [](const QMap<QString, bool> &changes) { return changes.value("DSR"); }));

        // No START or STOP made up from a sample.
        const QList<WireFrame> frames = decodeFrames(busLevelsOf(dump));
        const QList<QList<quint8>> bytes{
            {0xE8, 0x04, 0x83, 0xFF}, {0xE8, 0x02}, {0xE9, 0x02, 0xBC}, {0x00, 0x06}};
        QCOMPARE(frames.size(), bytes.size());
        for (qsizetype i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].bytes, bytes[i]);
            QVERIFY(frames[i].stopped);
            // The chip's acknowledges (SDA low), in both views; in the read, then the PC's ACK
            // and NACK.
            const QList<bool> ninth =
                i == 2 ? QList<bool>{false, false, true} : QList<bool>(bytes[i].size(), false);
            QCOMPARE(frames[i].ninthBits, ninth);
        }
    }

    void limitKeepsLatestAndSaysSo()
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
        // Only line writes in a write frame: their text stands for the whole operation.
        QCOMPARE(lineWrites(recorder.operations()), lineWrites(full.operations().mid(dropped)));

        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(trace.writeVcd(buffer, nullptr));
        const Dump dump = parseDump(buffer.data());
        QVERIFY(dump.header.contains(QString::number(dropped)));
        // The dump starts from the lines as the dropped operations left them.
        const QStringList cut = lineWrites(full.operations().first(dropped));
        const bool dtr =
            cut.lastIndexOf(QStringLiteral("D1")) > cut.lastIndexOf(QStringLiteral("D0"));
        const bool rts =
            cut.lastIndexOf(QStringLiteral("R1")) > cut.lastIndexOf(QStringLiteral("R0"));
        QVERIFY(dtr); // cut within a frame, not in the idle state that defaults would give
        // The address acknowledge was sampled before the cut: the chip held SDA low.
        const QMap<QString, bool> before{
            {"SCL", !dtr}, {"SDA", !rts}, {"DTR", dtr}, {"RTS", rts}, {"DSR", true}};
        QCOMPARE(dump.changes.value(0), before);
    }
};

QTEST_GUILESS_MAIN(TestVcdWriter)
#include "tst_vcdwriter.moc"
