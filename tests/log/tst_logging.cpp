// SPDX-License-Identifier: MIT
#include "log/logging.h"

#include <QTest>
#include <QThread>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcOther, "other.layer")

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { logging::install(); }

    void ringKeepsTheNewest_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("appended");
        QTest::newRow("not full") << 4 << 2;
        QTest::newRow("just full") << 4 << 4;
        QTest::newRow("one over") << 4 << 5;
        QTest::newRow("many times over") << 3 << 11;
        QTest::newRow("one line") << 1 << 3;
    }

    void ringKeepsTheNewest()
    {
        QFETCH(int, capacity);
        QFETCH(int, appended);
        logging::RingBuffer ring(capacity);
        for (int i = 1; i <= appended; ++i)
            ring.append(QString::number(i));
        QStringList expected;
        for (int i = std::max(1, appended - capacity + 1); i <= appended; ++i)
            expected << QString::number(i);
        QCOMPARE(ring.lines(), expected);
        QCOMPARE(ring.dropped(), qsizetype(std::max(0, appended - capacity)));
        ring.clear();
        QVERIFY(ring.lines().isEmpty());
    }

    // The bus thread logs while the window's thread reads the ring for the diagnostics.
    void ringTakesLinesFromManyThreads()
    {
        logging::RingBuffer ring(50);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back(QThread::create([&ring, t] {
                for (int i = 0; i < 1000; ++i)
                    ring.append(QStringLiteral("%1-%2").arg(t).arg(i));
            }));
            threads.back()->start();
        }
        for (int i = 0; i < 100; ++i)
            QVERIFY(ring.lines().size() <= 50);
        for (const auto &thread : threads)
            QVERIFY(thread->wait());
        QCOMPARE(ring.lines().size(), 50);
        QCOMPARE(ring.dropped(), qsizetype(4000 - 50));
    }

    // Silent on the terminal by default, but always in the ring; other categories stay as Qt
    // handles them and out of the ring.
    void theProgramsCategoriesGoToTheRing()
    {
        logging::recent().clear();
        qCInfo(lcPort) << "a port event";
        qCWarning(lcBus) << "a bus event";
        qCInfo(lcOther) << "not ours";
        const QStringList lines = logging::recent().lines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains(QLatin1String("info kalventa.port: a port event")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QLatin1String("warning kalventa.bus: a bus event")),
                 qPrintable(lines[1]));
    }

    void longMessagesAreCut()
    {
        logging::recent().clear();
        qCInfo(lcCli).noquote() << QString(5000, u'x');
        const QStringList lines = logging::recent().lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].size() < logging::maxLineLength + 100);
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
