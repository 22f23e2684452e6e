// SPDX-License-Identifier: MIT
#include "control/batchlist.h"
#include "control/batchrunner.h"
#include "control/busthread.h"
#include "controlfixture.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using control::BatchRunner;
using device::channelCount;

namespace {

// A code that differs from file to file and from channel to channel. Channel 7 is at full
// scale, 1024, which the chip can only take as 1023.
int codeOf(int file, int channel)
{
    return channel == 7 ? 1024 : (file * 97 + channel * 41) % 1024;
}

// The whole program on the simulated board, and a runner lent the fixture itself as the
// window's list of files in a folder; a test selects entries directly.
struct BatchFixture : ControlFixture, control::BatchList
{
    explicit BatchFixture(control::BusThread *bus = nullptr)
        : ControlFixture(true, bus), runner(model, grid(), *operations)
    {
        runner.setList(this);
        QObject::connect(&runner, &BatchRunner::entryPlayed,
                         [this](int position) { played.append(position); });
    }
    int count() const override { return ++countCalls, int(names.size()); }
    bool isSelected(int position) const override { return selected.contains(position); }
    QString name(int position) const override { return names.value(position); }
    QString folder() const override { return dir.path(); }

    void addFile(const QString &name, const QByteArray &content)
    {
        writeFile(name, content);
        names.append(name);
    }
    // "fN.csv": "Vsup" 5 + N and the codes codeOf(N, j), as the file format has them.
    void addGoodFiles(int count)
    {
        for (int k = int(names.size()), end = k + count; k < end; ++k) {
            QByteArray content = QByteArray::number(5 + k) + "\r\n";
            for (int j = 1; j <= channelCount; ++j)
                content += QByteArray::number(codeOf(k, j)) + "\r\n";
            addFile(QStringLiteral("f%1.csv").arg(k), content);
        }
    }
    // File k was the last played, and every file played sent one marker block.
    void expectLoaded(int k)
    {
        QCOMPARE(model.vsup, 5.0 + k);
        for (int j = 1; j <= channelCount; ++j)
            QCOMPARE(int(chip0().dacRegister(j - 1)), std::min(codeOf(k, j), 1023));
        QCOMPARE(model.dacCode[7], 1024.0); // full scale stays full scale in the model
        QCOMPARE(board.dataWritten(), QByteArray::fromHex("01000000").repeated(played.size()));
    }
    void select(const QSet<int> &positions)
    {
        selected = positions;
        runner.listClicked();
    }

    QStringList names;
    QSet<int> selected;
    mutable int countCalls = 0;
    BatchRunner runner;
    QList<int> played;
};

} // namespace

class TestBatchRunner : public QObject
{
    Q_OBJECT

private slots:
    void runRepeatsSelectionUntilABadFile()
    {
        BatchFixture f;
        f.addGoodFiles(3);
        f.selected = {0, 2};
        QList<double> waits;
        f.runner.setWaitFunction([&](double seconds) {
            waits.append(seconds);
            if (waits.size() == 4)
                f.runner.stop();
        });
        f.runner.run(QStringLiteral(" 2.5 s"));
        QCOMPARE(f.played, (QList<int>{0, 2, 0, 2}));
        QCOMPARE(waits, QList<double>(4, 2.5));
        QVERIFY(!f.runner.isRunning());
        QCOMPARE(f.runner.statusText(), QStringLiteral("f2.csv"));
        f.expectLoaded(2);
        QCOMPARE(f.runner.batchStepPosition(), 0); // a run leaves the step position alone

        const QByteArray five = "5\r\n";
        f.addFile(QStringLiteral("bad.csv"),
                  "10\r\n" + five.repeated(19) + "4x4\r\n" + five.repeated(4));
        f.addGoodFiles(1);
        f.selected = {1, 3, 4};
        f.runner.run(QStringLiteral("0"));
        QCOMPARE(f.played.mid(4), QList<int>{1}); // the run stopped at the bad file
        QVERIFY(!f.runner.isRunning());
        const QString status = f.runner.statusText();
        QVERIFY2(status.contains(QStringLiteral("bad.csv")) &&
                     status.contains(QStringLiteral("4x4")),
                 qPrintable(status));
        f.expectLoaded(1);

        // A step lands on the bad file, sends nothing, and the next step moves past it.
        f.runner.listClicked();
        f.runner.stepDown();
        f.runner.stepDown();
        QVERIFY(f.runner.statusText().startsWith(QStringLiteral("Not played: ")));
        f.runner.stepDown();
        QCOMPARE(f.played.mid(5), (QList<int>{1, 4}));
        f.expectLoaded(4);
    }

    void runSleepsInsteadOfPolling()
    {
        BatchFixture f;
        f.addGoodFiles(2);
        QTimer::singleShot(150, &f.runner, [&] { f.selected = {0, 1}; });
        bool tickedInsideWait = false;
        QObject::connect(&f.runner, &BatchRunner::entryPlayed, [&] {
            QTimer::singleShot(0, &f.runner, &BatchRunner::stop);
            QTimer::singleShot(100, &f.runner, [&] { tickedInsideWait = f.runner.isRunning(); });
        });
        f.runner.run(QStringLiteral("0.4"));
        // A busy loop would have asked the list thousands of times while nothing was selected.
        QVERIFY2(f.countCalls < 20, qPrintable(QString::number(f.countCalls)));
        // The stop cut the wait short, and no further file was played.
        QCOMPARE(f.played, QList<int>{0});
        QVERIFY(!tickedInsideWait);
    }

    void nestedStepAndRun()
    {
        BatchFixture f;
        f.addGoodFiles(4);
        f.select({0, 2});
        int waits = 0;
        f.runner.setWaitFunction([&](double) {
            if (++waits == 1)
                f.runner.stepUp(); // after a click: the topmost entry
            if (waits == 2) {
                f.selected = {0, 2, 3}; // the pass has yet to reach entry 3
                f.runner.run(QStringLiteral("0"));
            }
            if (waits == 4)
                f.runner.stop();
        });
        f.runner.run(QStringLiteral("1"));
        // Outer run: 0 (the step plays 0 in its wait), 2 (the inner run plays 0, 2, and is stopped
        // in its wait); the outer run ends at its own check, without reaching entry 3.
        QCOMPARE(f.played, (QList<int>{0, 0, 2, 0, 2}));
        QVERIFY(!f.runner.isRunning());
    }

    // On a slow port the buttons are served inside a transaction's wait. Stop, Single Step and
    // Run clicked there once left a run queueing files behind that transaction without end:
    // after the window closed they played on, and the program never ended.
    void clicksDuringATransactionWaitForTheBus()
    {
        using namespace std::chrono_literals;
        control::BusThread bus;
        BatchFixture f(&bus);
        f.stack.simulatedPort().setLineDelay(100us);
        f.addGoodFiles(3);
        f.select({0, 1, 2});
        bool clicked = false;
        // The user's clicks: served by the wait of a transaction, as on a slow port.
        QTimer clicks;
        clicks.setInterval(1);
        QObject::connect(&clicks, &QTimer::timeout, &f.runner, [&] {
            if (clicked || !bus.inFlight())
                return;
            clicked = true;
            f.runner.stop();
            f.runner.stepDown();
            f.runner.run(QStringLiteral("0"));
        });
        clicks.start();
        int playedOnBus = 0;
        QObject::connect(&f.runner, &BatchRunner::entryPlayed, [&] {
            playedOnBus += bus.inFlight();
            if (f.played.size() == 8)
                f.runner.setList(nullptr); // the window closes
        });
        f.runner.run(QStringLiteral("0"));
        QVERIFY(clicked);
        QCOMPARE(playedOnBus, 0);
        // Every file asked for was played once the bus was free, and nothing after the window
        // closed but what was under way then.
        QVERIFY2(f.played.size() >= 8 && f.played.size() <= 10,
                 qPrintable(QString::number(f.played.size())));
        QVERIFY(!f.runner.isRunning() && !bus.busy());
    }

    // On a slow adapter a file takes seconds to play. "Stop Batch" pressed meanwhile lets that
    // file finish, and the state says so rather than "Running"; all along, the status line
    // names the file under way, not the one before it.
    void stopWhileAFilePlays_data()
    {
        QTest::addColumn<bool>("stepped");
        QTest::newRow("run") << false;
        QTest::newRow("single step inside the run's wait") << true;
    }

    void stopWhileAFilePlays()
    {
        QFETCH(bool, stepped);
        using namespace std::chrono_literals;
        using State = BatchRunner::State;
        control::BusThread bus;
        BatchFixture f(&bus);
        f.stack.simulatedPort().setLineDelay(100us);
        f.addGoodFiles(3);
        f.select({0, 1, 2});
        QList<State> states;
        QObject::connect(&f.runner, &BatchRunner::stateChanged,
                         [&](State state) { states.append(state); });
        int waits = 0;
        if (stepped) {
            // The step's file is under way when the stop comes: the run's second file.
            f.runner.setWaitFunction([&](double) {
                if (++waits == 1)
                    f.runner.stepDown();
            });
        }
        QString statusWhilePlaying;
        State stateAfterStop = State::Stopped;
        QTimer clicks; // the user's click, served by the wait of a transaction
        clicks.setInterval(1);
        QObject::connect(&clicks, &QTimer::timeout, &f.runner, [&] {
            if (!statusWhilePlaying.isEmpty() || f.played.size() != 1 || !bus.inFlight())
                return;
            statusWhilePlaying = f.runner.statusText();
            f.runner.stop();
            stateAfterStop = f.runner.state();
        });
        clicks.start();
        f.runner.run(QStringLiteral("0"));
        QCOMPARE(statusWhilePlaying, QString::fromLatin1(stepped ? "f0.csv 0" : "f1.csv"));
        QCOMPARE(stateAfterStop, State::Stopping);
        QCOMPARE(BatchRunner::stateText(stateAfterStop),
                 QStringLiteral("Stopping after this file"));
        // The file under way was played to its end, and nothing after it.
        QCOMPARE(f.played, (QList<int>{0, stepped ? 0 : 1}));
        QCOMPARE(f.runner.state(), State::Stopped);
        QCOMPARE(states, (QList<State>{State::Running, State::Stopping, State::Stopped}));
        f.expectLoaded(stepped ? 0 : 1);
    }

    void singleSteps()
    {
        BatchFixture f;
        f.addGoodFiles(10);
        f.grid().setVsupText(QStringLiteral(" 7"));
        f.select({2, 5, 7});
        for (int i = 0; i < 4; ++i)
            f.runner.stepDown();
        f.runner.stepUp();
        QCOMPARE(f.played, (QList<int>{2, 5, 7, 2, 7}));
        QCOMPARE(f.runner.statusText(), QStringLiteral("f7.csv 7"));
        f.expectLoaded(7);
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 12")); // the file's, now in use
        QCOMPARE(f.grid().voltageText(7), QStringLiteral(" 12"));

        f.select({3, 5, 9});
        f.runner.stepUp();   // not 5, the one above 7: the topmost
        f.runner.stepUp();   // from 3 up and around to the last entry
        f.runner.stepDown(); // from the last entry down and around: 3
        QCOMPARE(f.played.mid(5), (QList<int>{3, 9, 3}));
    }

    void stepWithoutTarget_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QList<int>>("selection");
        QTest::addColumn<bool>("clicked");
        QTest::addColumn<QString>("status");
        const QString none = QStringLiteral("No file selected");
        QTest::newRow("empty list") << 0 << QList<int>{} << true << "No files to step through";
        QTest::newRow("nothing selected") << 5 << QList<int>{} << true << none;
        QTest::newRow("selection beyond the list") << 2 << QList<int>{4} << true << none;
        QTest::newRow("position beyond the list")
            << 3 << QList<int>{1} << false
            << "The list has changed; the next step starts at the top";
    }

    void stepWithoutTarget()
    {
        QFETCH(int, entries);
        QFETCH(QList<int>, selection);
        QFETCH(bool, clicked);
        QFETCH(QString, status);
        BatchFixture f;
        f.addGoodFiles(8);
        f.select({7});
        f.runner.stepDown(); // position 7
        // The folder is refilled.
        f.names = f.names.mid(0, entries);
        f.selected = QSet<int>(selection.begin(), selection.end());
        if (clicked)
            f.runner.listClicked();
        f.clearEvents();
        f.runner.stepDown();
        QCOMPARE(f.runner.statusText(), status);
        QVERIFY(f.chip0().events().isEmpty());
        f.expectLoaded(7);
        if (!clicked) { // the position went back to the top: the next step finds entry 1, up and
                        // around
            f.runner.stepUp();
            QCOMPARE(f.runner.statusText(), QStringLiteral("f1.csv 1"));
        }
    }

    // The window's path field: what a typed path opens, or why it opens nothing. "@" stands for
    // the test's folder, in which the home folder is "beside".
    void typedFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("opened"); // below the test's folder, "" for the folder itself
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, const char *typed, const char *opened,
                            const char *problem) {
            QTest::newRow(name) << QString::fromUtf8(typed) << QString::fromUtf8(opened)
                                << QString::fromUtf8(problem);
        };
        row("absolute", "@/open/sub", "open/sub", "");
        row("relative to the open folder", "sub", "open/sub", "");
        row("blanks and separators at the end", "  @/open/sub/ ", "open/sub", "");
        row("parent", "..", "", "");
        row("sibling", "../beside", "beside", "");
        row("home", "~", "beside", "");
        row("below home", "~/../open/sub", "open/sub", "");
        row("empty", "  ", "", "Type the path of a folder, then press Enter.");
        row("missing", "@/nowhere", "", "There is no folder @/nowhere.");
        row("a file", "f0.csv", "", "@/open/f0.csv is a file, not a folder.");
    }

    void typedFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QString, opened);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("open/sub")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("beside")));
        QFile file(dir.filePath(QStringLiteral("open/f0.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        typed.replace(u'@', dir.path());
        problem.replace(u'@', dir.path());
        const QString expected = dir.filePath(opened);
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("beside"))));
        const auto restored = qScopeGuard([&] { qputenv("HOME", home); });
        QString why = QStringLiteral("not cleared");
        const QString folder =
            BatchRunner::folderToOpen(typed, dir.filePath(QStringLiteral("open")), &why);
        if (problem.isEmpty()) {
            QCOMPARE(folder, QDir::cleanPath(expected));
            QCOMPARE(why, QString());
        } else {
            QCOMPARE(folder, QString());
            QCOMPARE(why, problem);
        }
    }

    void openingReloadsSettings()
    {
        BatchFixture f;
        QSettings s(f.settings.location(), QSettings::IniFormat);
        for (const auto &[key, value] :
             {std::pair{"vref_high1/10", " 3.3"}, {"a0/1", "1"}, {"PortNumb/2", "3"}})
            s.setValue(QLatin1String(key), QLatin1String(value));
        s.setValue(QStringLiteral("Startup/Default_Dir"), QStringLiteral("/no/such/folder/"));
        s.sync();
        f.addGoodFiles(10);
        f.select({4, 6});
        f.runner.stepDown();
        f.runner.listClicked();
        QSignalSpy opened(&f.stack.ports(), &port::PortManager::portOpened);

        f.controller->loadSettings(); // what the main window does before it opens the batch window
        // A stored folder that has gone away is passed over; the window's own is tested with it.
        QCOMPARE(f.runner.openWindow(), QDir::currentPath());
        QCOMPARE(f.model.vsup, 3.3); // the A0 = 1 device's
        QCOMPARE(f.stack.ports().portNumber(), qint16(3));
        QVERIFY(opened.isEmpty()); // the port is left as it is
        QCOMPARE(f.runner.batchStepPosition(), 0);
        QVERIFY(f.runner.batchListClicked());
        QCOMPARE(f.runner.statusText(), QString());
    }
};

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
