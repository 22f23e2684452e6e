#include "controlfixture.h"
#include "device/numbertext.h"
#include "sim/simulatedcomport.h"

#include <QTest>

using device::channelCount;
using sim::ChipEvent;
using namespace std::chrono_literals;

// The chip operations on the bus thread, against the simulated board slowed down like a USB
// adapter (to a tenth of one, so the suite stays quick): what the window does meanwhile must
// neither interleave with a transaction nor get lost.
class TestBusThread : public QObject
{
    Q_OBJECT

    control::BusThread bus;
    std::unique_ptr<ControlFixture> f;

    // Reads the chip as "Read DAC" does, and runs `meanwhile` once `after` registers are read,
    // while the read goes on.
    void readWhile(int after, const std::function<void()> &meanwhile)
    {
        bool ran = false;
        const auto connection =
            connect(f->operations.get(), &control::ChipOperations::progressed, this, [&](int done) {
                if (!ran && done >= after) {
                    ran = true;
                    meanwhile();
                }
            });
        f->controller->readAllRegisters();
        disconnect(connection);
        QVERIFY(ran);
    }
    // The chip's events up to its first DAC write (with that frame's pointer) or reset: a
    // read's frames only.
    QList<ChipEvent> readFrames() const
    {
        QList<ChipEvent> events = f->board.chip(0).events();
        auto end = std::find_if(events.cbegin(), events.cend(), [](const ChipEvent &e) {
            return e.kind == ChipEvent::Kind::DacWrite || e.kind == ChipEvent::Kind::Reset;
        });
        if (end != events.cend() && end->kind == ChipEvent::Kind::DacWrite)
            --end;
        events.erase(end, events.cend());
        return events;
    }
    // What a read of the first n registers (and then the max bank) leaves on the chip.
    static QList<ChipEvent> wholeFrames(int n, bool maxBank)
    {
        QList<ChipEvent> events;
        for (int reg = 0; reg < n; ++reg)
            events << ChipEvent{ChipEvent::Kind::PointerWrite, reg, 0};
        if (maxBank)
            events << ChipEvent{ChipEvent::Kind::PointerWrite, 0x3F, 0};
        return events;
    }
    static QList<ChipEvent> pointersOnly(QList<ChipEvent> events)
    {
        events.removeIf([](const ChipEvent &e) { return e.kind != ChipEvent::Kind::PointerWrite; });
        return events;
    }

private slots:
    void init()
    {
        f = std::make_unique<ControlFixture>(true, &bus);
        f->showCodes(10, 100);
        f->stack.simulatedPort().setLineDelay(20us);
    }
    void cleanup() { f.reset(); }

    void commandsWaitForTheReadAndProgressReachesItsEnd()
    {
        f->operations->writeChannel(QStringLiteral("0"), 1, 500); // the reset reloads 0
        f->clearEvents();
        QList<int> done;
        connect(f->operations.get(), &control::ChipOperations::progressed, this,
                [&](int d, int total) { done << d * 100 / total; });
        readWhile(5, [&] { f->controller->resetChip(); });
        QCOMPARE(f->model.dacCode[1], 0.0); // the screen ends as the chip
        // The reset waited: the first read's 25 frames came whole and alone, then its reset.
        const QList<ChipEvent> frames = readFrames();
        QCOMPARE(pointersOnly(frames), wholeFrames(channelCount, true));
        QCOMPARE(frames.size(), 2 * (channelCount + 1));
        QCOMPARE(f->events(ChipEvent::Kind::Reset).size(), 1);
        QCOMPARE(done.count(100), 2); // the read, and the reset's own read
        QVERIFY(std::is_sorted(done.cbegin(), done.cbegin() + channelCount + 1));
    }

    void cancelStopsBetweenFrames()
    {
        readWhile(8, [&] { bus.cancel(); });
        const QList<ChipEvent> frames = readFrames();
        const int read = int(pointersOnly(frames).size());
        QVERIFY2(read >= 8 && read < channelCount, qPrintable(QString::number(read)));
        // Every frame begun was ended: a pointer and its read, and the bus is idle.
        QCOMPARE(frames.size(), 2 * read);
        QCOMPARE(pointersOnly(frames), wholeFrames(read, false));
        QVERIFY(f->board.scl() && f->board.sda());
        // What was read is shown, the rest is unknown, and nothing was written back.
        QCOMPARE(f->model.unknownChannels().size(), channelCount - read);
        QVERIFY(f->grid().voltageText(read + 1).isEmpty());
        QCOMPARE(f->grid().maxBankText(), QString());
        QVERIFY(f->dacWrites().isEmpty());

        f->clearEvents();
        f->controller->readAllRegisters();
        QCOMPARE(pointersOnly(readFrames()), wholeFrames(channelCount, true));
        QVERIFY(f->model.unknownChannels().isEmpty());
    }

    void writesTypedMeanwhileEndWithTheNewestCode()
    {
        const auto codeOf = [&](double volts) { return int(f->model.codeOfVoltage(volts)); };
        readWhile(3, [&] {
            for (const char *volts : {"1", "2", "3"})
                f->grid().voltageBoxEdited(3, QLatin1String(volts));
            f->grid().voltageBoxEdited(5, QStringLiteral("4"));
            QVERIFY(f->grid().writesHeld());
        });
        QCOMPARE(pointersOnly(readFrames()), wholeFrames(channelCount, true));
        // Channel 3 got 3 V after the read; 1 V and 2 V never went out.
        const QList<int> third = f->dacWrites(2);
        QVERIFY(!third.contains(codeOf(1)) && !third.contains(codeOf(2)));
        QCOMPARE(third.last(), codeOf(3));
        QCOMPARE(f->dacWrites(4).last(), codeOf(4));
        QCOMPARE(f->grid().voltageText(3),
                 device::shownVoltage(f->model.displayedVoltage(codeOf(3))));
        QCOMPARE(f->model.dacCode[5], double(codeOf(4)));
        QVERIFY(!f->grid().writesHeld());
    }
};

QTEST_GUILESS_MAIN(TestBusThread)
#include "tst_busthread.moc"
