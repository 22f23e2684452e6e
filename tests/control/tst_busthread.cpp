// SPDX-License-Identifier: MIT
#include "controlfixture.h"
#include "device/numbertext.h"
#include "sim/simulatedcomport.h"

#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

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

    // A transaction asked for from an event served during another runs after it, whole, and
    // returns only once it has run.
    void aTransactionAskedMeanwhileWaits()
    {
        std::atomic<bool> firstEnded{false};
        bool secondAfterFirst = false;
        bool secondDone = false;
        bool returnedAfterSecond = false;
        QTimer::singleShot(10, this, [&] {
            QVERIFY(bus.inFlight());
            bus.run([&] {
                secondAfterFirst = firstEnded.load();
                secondDone = true;
            });
            returnedAfterSecond = secondDone;
        });
        bus.run([&] {
            std::this_thread::sleep_for(100ms);
            firstEnded = true;
        });
        QTRY_VERIFY(secondDone);
        QVERIFY(secondAfterFirst);
        QVERIFY(returnedAfterSecond);
    }

    // An action that must not meet a transaction runs once the read is over, not inside it.
    void whenFreeNeverRunsDuringATransaction()
    {
        int ran = 0;
        bool ranInFlight = false;
        readWhile(4, [&] {
            bus.whenFree([&] {
                ++ran;
                ranInFlight =
                    bus.inFlight() || f->board.chip(0).events().size() < 2 * (channelCount + 1);
            });
            QCOMPARE(ran, 0);
        });
        QCOMPARE(ran, 1);
        QVERIFY(!ranInFlight);
        bool now = false;
        bus.whenFree([&] { now = true; });
        QVERIFY(now); // a free bus runs it at once
    }

    // Cancelling a load stops it between two channels: every write sent went whole, with the
    // file's code, and none after the stop.
    void cancelledLoadStopsBetweenChannels()
    {
        f->showCodes(10, 700, 3);
        const QString path = f->dir.filePath(QStringLiteral("set.csv"));
        f->controller->saveToFile(path);
        f->showCodes(10, 100);
        const auto connection =
            connect(f->operations.get(), &control::ChipOperations::progressed, this, [&](int done) {
                if (done == 6)
                    bus.cancel();
            });
        f->controller->loadFromFile(path);
        disconnect(connection);
        // In channel order; the grid may write a channel back after its load.
        int sent = 0;
        for (const ChipEvent &e : f->events(ChipEvent::Kind::DacWrite)) {
            QVERIFY(e.reg == sent - 1 || e.reg == sent);
            sent = e.reg + 1;
        }
        QVERIFY2(sent >= 6 && sent < channelCount, qPrintable(QString::number(sent)));
        for (int index = 1; index <= channelCount; ++index) {
            const int reg = index - 1;
            QCOMPARE(int(f->chip0().dacRegister(reg)), index <= sent ? 700 + 3 * index : 100);
        }
        QVERIFY(f->board.scl() && f->board.sda());
        // The screen shows what the chip holds, the new codes where they went out.
        QCOMPARE(f->model.dacCode[1], 703.0);
        QCOMPARE(f->model.dacCode[channelCount], 100.0);
    }

    // A burn is not cancellable: a cancel (as closing the window asks for) while it burns or
    // reads back, even with the command line's stop asked as well, lets it end whole, verified.
    void aBurnRunsWholeThroughACancel()
    {
        f->showCodes(10, 200, 5);
        f->prompts.answerYes = true;
        bool stop = false;
        bool cancelTaken = false;
        f->operations->setStopCheck([&] { return stop; });
        QStringList cancelledIn;
        const auto connection = connect(f->operations.get(), &control::ChipOperations::progressed,
                                        this, [&](int done, int, const QString &what) {
                                            if (done == 5) {
                                                bus.cancel();
                                                cancelTaken = cancelTaken || bus.cancelRequested();
                                                stop = true;
                                                cancelledIn << what;
                                            }
                                        });
        f->controller->programOtpAllChannels();
        disconnect(connection);
        f->operations->setStopCheck({});
        QCOMPARE(cancelledIn.size(), 2);
        QVERIFY(!cancelTaken);
        QVERIFY2(f->prompts.errors.isEmpty(), qPrintable(f->prompts.errors.join(u'\n')));
        QCOMPARE(f->prompts.messages.size(), 1);
        QVERIFY2(f->prompts.messages[0].contains(QStringLiteral("verified it")),
                 qPrintable(f->prompts.messages[0]));
        for (int reg = 0; reg < channelCount; ++reg)
            QCOMPARE(f->chip0().otpCell(0, reg).value_or(-1), 205 + 5 * reg);
        QVERIFY(f->model.unknownChannels().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBusThread)
#include "tst_busthread.moc"
