#include "control/batchlist.h"
#include "control/batchrunner.h"
#include "controlfixture.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using control::BatchRunner;
using device::channelCount;

namespace {

// A code that differs from file to file and from channel to channel.
int codeOf(int file, int channel)
{
    return (file * 97 + channel * 41) % 1024;
}

QByteArray marker(int count)
{
    return QByteArray::fromHex("01000000").repeated(count);
}

// The window's list as the runner sees it; a test selects entries directly.
class FakeList : public control::BatchList
{
public:
    int count() const override { return ++countCalls, int(names.size()); }
    bool isSelected(int position) const override { return selected.contains(position); }
    QString name(int position) const override { return names.value(position); }
    QString folder() const override { return dir; }

    QStringList names;
    QSet<int> selected;
    QString dir;
    mutable int countCalls = 0;
};

// The whole program on the simulated board and a runner lent a list of files in a folder.
struct BatchFixture : ControlFixture
{
    BatchFixture() : runner(*controller)
    {
        list.dir = dir.path();
        runner.setList(&list);
        QObject::connect(&runner, &BatchRunner::entryPlayed,
                         [this](int position) { played.append(position); });
    }
    void addFile(const QString &name, const QByteArray &content)
    {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        list.names.append(name);
    }
    // "fN.csv": "Vsup" 5 + N and the codes codeOf(N, j), as the file format has them.
    void addGoodFiles(int count)
    {
        for (int k = int(list.names.size()), end = k + count; k < end; ++k) {
            QByteArray content = QByteArray::number(5 + k) + "\r\n";
            for (int j = 1; j <= channelCount; ++j)
                content += QByteArray::number(codeOf(k, j)) + "\r\n";
            addFile(QStringLiteral("f%1.csv").arg(k), content);
        }
    }
    void expectLoaded(int k)
    {
        QCOMPARE(model.vsup, 5.0 + k);
        for (int j = 1; j <= channelCount; ++j) {
            QCOMPARE(model.dacCode[j], double(codeOf(k, j)));
            QCOMPARE(int(chip0().dacRegister(j - 1)), codeOf(k, j));
        }
    }

    BatchRunner runner;
    FakeList list;
    QList<int> played;
};

} // namespace

class TestBatchRunner : public QObject
{
    Q_OBJECT

private slots:
    void runRepeatsSelection_data();
    void runRepeatsSelection();
    void playedFileReachesModelAndChip();
    void stopDuringWaitEndsAfterWait();
    void idleRunSleepsUntilSelected();
    void nestedStepAndRun();
    void singleSteps();
    void stepWithoutTarget_data();
    void stepWithoutTarget();
    void badFileSendsNothing_data();
    void badFileSendsNothing();
    void openingReloadsSettings();
};

void TestBatchRunner::runRepeatsSelection_data()
{
    QTest::addColumn<QString>("delayText");
    QTest::addColumn<double>("delay");
    QTest::newRow("number") << QStringLiteral("0.05") << 0.05;
    QTest::newRow("number and unit") << QStringLiteral(" 2.5 s") << 2.5;
    QTest::newRow("letters") << QStringLiteral("abc") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
}

void TestBatchRunner::runRepeatsSelection()
{
    QFETCH(QString, delayText);
    QFETCH(double, delay);
    BatchFixture f;
    f.addGoodFiles(3);
    f.list.selected = {0, 2};
    QList<double> waits;
    QStringList statusAtWait;
    f.runner.setWaitFunction([&](double seconds) {
        waits.append(seconds);
        statusAtWait.append(f.runner.statusText());
        if (waits.size() == 4)
            f.runner.stop();
    });
    f.runner.run(delayText);
    QCOMPARE(f.played, (QList<int>{0, 2, 0, 2}));
    QCOMPARE(waits, QList<double>(4, delay));
    QCOMPARE(statusAtWait, (QStringList{"f0.csv", "f2.csv", "f0.csv", "f2.csv"}));
    QVERIFY(!f.runner.isRunning());
    QCOMPARE(f.board.dataWritten(), marker(4));
    f.expectLoaded(2);
    QCOMPARE(f.runner.batchStepPosition(), 0); // a run leaves the step position alone
}

void TestBatchRunner::playedFileReachesModelAndChip()
{
    BatchFixture f;
    f.addGoodFiles(3);
    QByteArray content = "3.3\r\n";
    for (int j = 1; j <= channelCount; ++j)
        content += j == 7 ? "1024\r\n" : QByteArray::number(codeOf(9, j)) + "\r\n";
    f.addFile(QStringLiteral("ramp.csv"), content);
    f.list.selected = {3};
    f.runner.listClicked();
    f.grid().setVsupText(QStringLiteral(" 7"));
    f.runner.stepDown();
    QCOMPARE(f.runner.statusText(), QStringLiteral("ramp.csv 3"));
    QCOMPARE(f.model.vsup, 3.3);
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 7")); // unlike Load From File
    for (int j = 1; j <= channelCount; ++j) {
        QCOMPARE(f.model.dacCode[j], j == 7 ? 1024.0 : codeOf(9, j));
        QCOMPARE(int(f.chip0().dacRegister(j - 1)), j == 7 ? 1023 : codeOf(9, j));
    }
    QCOMPARE(f.grid().voltageText(7), QStringLiteral(" 3.3"));
    QCOMPARE(f.board.dataWritten(), marker(1));
}

void TestBatchRunner::stopDuringWaitEndsAfterWait()
{
    BatchFixture f;
    f.addGoodFiles(2);
    f.list.selected = {0, 1};
    bool tickedInsideWait = false;
    QObject::connect(&f.runner, &BatchRunner::entryPlayed, [&] {
        QTimer::singleShot(0, &f.runner, &BatchRunner::stop);
        QTimer::singleShot(30, [&] { tickedInsideWait = f.runner.isRunning(); });
    });
    f.runner.run(QStringLiteral("0.2"));
    // The stop was seen only when the wait had run out, and no further file was played.
    QCOMPARE(f.played, QList<int>{0});
    QVERIFY(tickedInsideWait);
    QCOMPARE(f.board.dataWritten(), marker(1));
}

void TestBatchRunner::idleRunSleepsUntilSelected()
{
    BatchFixture f;
    f.addGoodFiles(3);
    QTimer::singleShot(150, [&] { f.list.selected = {1}; });
    QObject::connect(&f.runner, &BatchRunner::entryPlayed, &f.runner, &BatchRunner::stop);
    f.runner.run(QStringLiteral("abc"));
    QCOMPARE(f.played, QList<int>{1});
    // A busy loop would have asked the list thousands of times while nothing was selected.
    QVERIFY2(f.list.countCalls < 20, qPrintable(QString::number(f.list.countCalls)));
}

void TestBatchRunner::nestedStepAndRun()
{
    BatchFixture f;
    f.addGoodFiles(4);
    f.list.selected = {0, 2};
    f.runner.listClicked();
    int waits = 0;
    f.runner.setWaitFunction([&](double) {
        if (++waits == 1)
            f.runner.stepUp(); // after a click: the topmost entry
        if (waits == 2) {
            f.list.selected = {0, 2, 3}; // the pass has yet to reach entry 3
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

void TestBatchRunner::singleSteps()
{
    BatchFixture f;
    f.addGoodFiles(10);
    f.list.selected = {2, 5, 7};
    f.runner.listClicked();
    for (int i = 0; i < 4; ++i)
        f.runner.stepDown();
    f.runner.stepUp();
    QCOMPARE(f.played, (QList<int>{2, 5, 7, 2, 7}));
    QCOMPARE(f.runner.statusText(), QStringLiteral("f7.csv 7"));
    QCOMPARE(f.board.dataWritten(), marker(5));
    f.expectLoaded(7);

    f.list.selected = {3, 5, 8};
    f.runner.listClicked();
    f.runner.stepUp();   // not 5, the one above 7: the topmost
    f.runner.stepUp();   // from 3 up and around: 8
    f.runner.stepDown(); // from 8 down and around: 3
    QCOMPARE(f.played.mid(5), (QList<int>{3, 8, 3}));
}

void TestBatchRunner::stepWithoutTarget_data()
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
        << 3 << QList<int>{1} << false << "The list has changed; the next step starts at the top";
}

void TestBatchRunner::stepWithoutTarget()
{
    QFETCH(int, entries);
    QFETCH(QList<int>, selection);
    QFETCH(bool, clicked);
    QFETCH(QString, status);
    BatchFixture f;
    f.addGoodFiles(8);
    f.list.selected = {7};
    f.runner.listClicked();
    f.runner.stepDown(); // position 7
    // The folder is refilled.
    f.list.names = f.list.names.mid(0, entries);
    f.list.selected = QSet<int>(selection.begin(), selection.end());
    if (clicked)
        f.runner.listClicked();
    f.clearEvents();
    f.runner.stepDown();
    QCOMPARE(f.runner.statusText(), status);
    f.runner.stepUp();
    if (clicked)
        QCOMPARE(f.runner.statusText(), status);
    else // the position went back to the top: this step found entry 1, up and around
        QCOMPARE(f.runner.statusText(), QStringLiteral("f1.csv 1"));
    QCOMPARE(f.played.size(), clicked ? 1 : 2);
    QCOMPARE(f.chip0().events().isEmpty(), clicked);
    QCOMPARE(f.board.dataWritten(), marker(f.played.size()));
}

void TestBatchRunner::badFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("problem");
    QByteArray short24 = "10\r\n";
    QByteArray letters = "10\r\n";
    for (int j = 1; j <= channelCount; ++j) {
        short24 += j < channelCount ? "5\r\n" : "";
        letters += j == 20 ? "4x4\r\n" : "5\r\n";
    }
    QTest::newRow("24 values") << short24 << "24 values found";
    QTest::newRow("not a number") << letters << "\"4x4\" is not a number";
    QTest::newRow("missing") << QByteArray() << "Cannot read";
}

void TestBatchRunner::badFileSendsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, problem);
    BatchFixture f;
    f.addGoodFiles(1);
    f.addFile(QStringLiteral("bad.csv"), content);
    if (content.isEmpty())
        QVERIFY(QFile::remove(f.dir.filePath(QStringLiteral("bad.csv"))));
    f.addGoodFiles(1);
    f.list.selected = {0, 1, 2};
    f.runner.setWaitFunction([](double) {});
    f.runner.run(QStringLiteral("0"));
    QCOMPARE(f.played, QList<int>{0}); // the run stopped at the bad file
    QVERIFY(!f.runner.isRunning());
    const QString status = f.runner.statusText();
    QVERIFY2(status.contains(QStringLiteral("bad.csv")) && status.contains(problem),
             qPrintable(status));
    QCOMPARE(f.board.dataWritten(), marker(1));
    f.expectLoaded(0);

    // A step lands on the bad file, sends nothing, and the next step moves past it.
    f.runner.listClicked();
    f.runner.stepDown();
    f.runner.stepDown();
    QVERIFY(f.runner.statusText().startsWith(QStringLiteral("Not played: ")));
    f.runner.stepDown();
    QCOMPARE(f.played, (QList<int>{0, 0, 2}));
    QCOMPARE(f.board.dataWritten(), marker(3));
}

void TestBatchRunner::openingReloadsSettings()
{
    BatchFixture f;
    QSettings s(f.settings.location(), QSettings::IniFormat);
    s.setValue(QStringLiteral("vref_high1/10"), QStringLiteral(" 3.3"));
    s.setValue(QStringLiteral("a0/1"), QStringLiteral("1"));
    s.setValue(QStringLiteral("PortNumb/2"), QStringLiteral("3"));
    s.setValue(QStringLiteral("Startup/Default_Dir"), f.dir.path() + u'/');
    s.sync();
    f.addGoodFiles(10);
    f.list.selected = {4, 6};
    f.runner.listClicked();
    f.runner.stepDown();
    f.runner.listClicked();
    f.model.vsup = 8;
    QSignalSpy opened(f.ports.get(), &port::PortManager::portOpened);

    QCOMPARE(f.runner.openWindow(), QDir(f.dir.path()).absolutePath());
    QCOMPARE(f.model.a0Pin, QStringLiteral("1"));
    QCOMPARE(f.model.vsup, 3.3);
    QCOMPARE(f.ports->portNumber(), qint16(3));
    QVERIFY(opened.isEmpty()); // the port is left as it is
    QCOMPARE(f.runner.batchStepPosition(), 0);
    QVERIFY(f.runner.batchListClicked());
    QCOMPARE(f.runner.statusText(), QString());

    s.setValue(QStringLiteral("Startup/Default_Dir"), QStringLiteral("/no/such/folder/"));
    s.sync();
    QCOMPARE(f.runner.openWindow(), QDir::currentPath());
}

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
