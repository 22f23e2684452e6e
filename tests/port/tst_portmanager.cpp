// SPDX-License-Identifier: MIT
#include "fakecomport.h"
#include "port/portmanager.h"

#include <QSignalSpy>
#include <QTest>

using namespace port;

namespace {

// A manager on a fake port, probed once; its waits are counted, not served.
struct Bench
{
    FakeComPort port;
    PortManager manager{port};
    int yields = 0;

    explicit Bench(const QList<int> &present = {})
    {
        for (int n : present)
            port.results.insert(n, OpenResult::Opened);
        manager.setYieldFunction([this] { ++yields; });
    }
    void probe()
    {
        manager.probeComPorts();
        port.log.clear();
    }
    void select(int portNumber, qint32 bitRate)
    {
        manager.setPortNumber(qint16(portNumber));
        manager.setBitRate(bitRate);
        manager.openSelectedComPort();
    }
};

} // namespace

class TestPortManager : public QObject
{
    Q_OBJECT

private slots:
    void probeListsPresentPortsAscending()
    {
        Bench bench({12, 1, 3, 16});
        // Ports that exist but cannot be used are not present for the program; a busy one is.
        bench.port.results.insert(
            {{9, OpenResult::Busy}, {4, OpenResult::NoPermission}, {6, OpenResult::Failed}});
        bench.manager.probeComPorts();

        const QList<int> list{1, 3, 9, 12, 16};
        QCOMPARE(bench.manager.portList(), list);
        for (int n = 1; n <= 16; ++n) {
            QCOMPARE(bench.manager.portAvailable(n), list.contains(n));
            QCOMPARE(bench.manager.probeResult(n), bench.port.presence(n));
        }
        QVERIFY(!bench.manager.portAvailable(0));
        // Opening a port raises its modem lines: the probe opens none.
        QVERIFY(bench.port.log.isEmpty());
    }

    void unavailableSelectionWaitsAndGivesUp()
    {
        Bench bench({1, 3});
        bench.port.results.insert(2, OpenResult::Busy);
        bench.probe();
        // A busy port is listed, and available until an open finds it busy.
        QVERIFY(bench.manager.portAvailable(2));
        bench.select(2, 9600);
        QCOMPARE(bench.yields, 0);
        QCOMPARE(bench.port.log.first(), "open 2 9600,N,8,1");
        QCOMPARE(bench.manager.lastOpenResult(), OpenResult::Busy);
        QCOMPARE(bench.manager.portList(), (QList<int>{1, 2, 3}));

        for (int portNumber : {2, 0, 17, -32768}) {
            bench.yields = 0;
            bench.port.log.clear();
            bench.select(portNumber, 9600);
            QCOMPARE(bench.yields, 1000);
            QVERIFY(bench.port.log.isEmpty());
        }
        // Numbers outside 1..16 are not even tried.
        QVERIFY(!bench.manager.fncInitializeComPort(9600, 0) &&
                !bench.manager.fncInitializeComPort(9600, 17) && bench.port.log.isEmpty());

        // A dialog handler that runs inside the wait picks COM3.
        bench.yields = 0;
        bench.manager.setYieldFunction([&bench] {
            if (++bench.yields == 5)
                bench.manager.setPortNumber(3);
        });
        bench.select(0, 19200);
        QCOMPARE(bench.yields, 5);
        QCOMPARE(bench.port.log.first(), "open 3 19200,N,8,1");
        QCOMPARE(bench.port.openNumber, 3);
    }

    void reselectingReopensAndFailuresArePassedOn()
    {
        Bench bench({3, 5});
        bench.probe();
        bench.select(3, 9600);
        QSignalSpy opened(&bench.manager, &PortManager::portOpened);
        QSignalSpy closed(&bench.manager, &PortManager::portClosed);
        bench.port.log.clear();

        bench.select(3, 4800);
        bench.select(5, 4800);
        const QStringList expected{
            "close 3", "open 3 4800,N,8,1", "read", "timeouts 2 2 1000 2 1000",
            "close 3", "open 5 4800,N,8,1", "read", "timeouts 2 2 1000 2 1000"};
        QCOMPARE(bench.port.log, expected);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.at(1), (QVariantList{5, 4800}));

        // A re-open that fails leaves the port closed, and says so; only busy costs availability.
        bench.port.results.insert(5, OpenResult::Failed);
        bench.select(5, 4800);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.at(0).at(0).toInt(), 5);
        QVERIFY(bench.manager.portAvailable(5));

        // The failure of the open port is passed on; it stays available.
        bench.port.results.insert(5, OpenResult::Opened);
        bench.select(5, 4800);
        QSignalSpy failed(&bench.manager, &PortManager::portFailed);
        bench.port.breakDown();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0), (QVariantList{5, QStringLiteral("unplugged")}));
        QVERIFY(bench.manager.portAvailable(5));
    }

    void openingSetsFramingAndTimeouts_data()
    {
        QTest::addColumn<qint32>("bitRate");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("t");
        QTest::newRow("9600") << 9600 << "9600,N,8,1" << 1;
        QTest::newRow("57600, not offered") << 57600 << "57600,N,8,1" << 0;
        QTest::newRow("0 opens at 9600") << 0 << "9600,N,8,1" << 1;
        QTest::newRow("-5 opens at 9600") << -5 << "9600,N,8,1" << 1;
        // A character takes 10 bits; the time in milliseconds rounds ties to even.
        QTest::newRow("4000, a tie") << 4000 << "4000,N,8,1" << 2;
        QTest::newRow("20000, a tie") << 20000 << "20000,N,8,1" << 0;
        QTest::newRow("6000, rounded up") << 6000 << "6000,N,8,1" << 2;
        QTest::newRow("6667") << 6667 << "6667,N,8,1" << 1;
        QTest::newRow("1") << 1 << "1,N,8,1" << 10000;
    }

    void openingSetsFramingAndTimeouts()
    {
        QFETCH(qint32, bitRate);
        QFETCH(QString, settings);
        QFETCH(int, t);
        Bench bench({1});
        bench.probe();
        bench.port.record.readIntervalTimeout = 77;

        bench.select(1, bitRate);
        const QString timeouts = QStringLiteral("timeouts %1 %1 1000 %1 1000").arg(t);
        QCOMPARE(bench.port.log, (QStringList{"open 1 " + settings, "read", timeouts}));
        QCOMPARE(bench.manager.portTimeouts(), bench.port.record);
        QCOMPARE(bench.manager.bitRate(), bitRate);

        // A closed port's time-outs are read but not written.
        bench.port.close();
        bench.port.log.clear();
        bench.manager.setComTimeouts(bitRate);
        QCOMPARE(bench.port.log, QStringList{"read"});
    }

    void markerBlockIsAlwaysFourBytes()
    {
        Bench bench({1});
        QVERIFY(bench.manager.fncInitializeComPort(9600, 1));
        // Index 0 and indices past 4 are not part of the block; past 25 there is no array.
        const quint8 bytes[] = {0x55, 0x07, 0x81, 0xff, 0x42, 0x66};
        for (int i = 0; i < 6; ++i)
            bench.manager.setOutputBytes(i, bytes[i]);
        bench.manager.setOutputBytes(26, 1);
        QCOMPARE(bench.manager.outputBytes(26), quint8(0));
        bench.port.log.clear();

        for (qint16 count : {1, 0, 3, 4, 9, -3})
            bench.manager.sendOutputBytes(count);
        bench.port.close();
        bench.manager.sendOutputBytes(4); // nothing: the port is closed
        QCOMPARE(bench.port.log.join(u'|'),
                 "write 07 00 00 00|write 00 00 00 00|write 07 81 ff 00|write 07 81 ff 42|"
                 "write 07 81 ff 42|write 00 00 00 00|close 1");
    }
};

QTEST_GUILESS_MAIN(TestPortManager)
#include "tst_portmanager.moc"
