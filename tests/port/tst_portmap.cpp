// SPDX-License-Identifier: MIT
#include "fakecomport.h"
#include "port/mappedcomport.h"
#include "port/portmap.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace port;

// The map of COM numbers to devices or the simulated board, and the port that routes by it.
class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void defaultTable()
    {
        // Port numbers, then the default devices of the first ones; the rest have none.
        const QList<int> numbers{1, 4, 5, 12, 13, 16, 0, 17, -1};
#ifdef Q_OS_WIN
        const QString prefix;
        const QStringList devices{"COM1", "COM4", "COM5", "COM12", "COM13", "COM16"};
#else
        const QString prefix = QStringLiteral("/dev/tty");
        const QStringList devices{"S0", "S3", "USB0", "USB7", "ACM0", "ACM3"};
#endif
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            const QString path = i < devices.size() ? prefix + devices[i] : QString();
            const QString name =
                path.isEmpty() ? QString() : QStringLiteral("COM%1").arg(numbers[i]);
            QCOMPARE(PortMap::portName(numbers[i]), name);
            QCOMPARE(PortMap::defaultDevicePath(numbers[i]), path);
            const PortTarget target = PortMap().target(numbers[i]);
            QCOMPARE(target.kind,
                     path.isEmpty() ? PortTarget::Kind::None : PortTarget::Kind::Device);
            QCOMPARE(target.devicePath, path);
        }
    }

    void overridesReplaceTheDefaultUntilCleared()
    {
        FakeComPort board;
        PortMap map;
        map.mapToDevice(5, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
        map.mapToDevice(0, QStringLiteral("/dev/ttyUSB0"));
        map.mapToSimulated(17, &board);
        map.mapToDevice(7, QStringLiteral("/nonexistent/kalventa-port"));
        QCOMPARE(map.target(5).devicePath, "/dev/serial/by-id/usb-FTDI-if00");
        QVERIFY(!map.hasOverride(0) && !map.hasOverride(17));
        // The simulated board's text is met in the status bar.
        const QList<PortDescription> all = map.describeAll();
        QCOMPARE(all.size(), 16);
        QCOMPARE(all.at(6).text(), "COM7  /nonexistent/kalventa-port");
        QCOMPARE(map.describe(0).text(), "");

        map.clearOverride(5);
        QCOMPARE(map.target(5).devicePath, PortMap::defaultDevicePath(5));
    }

    // Fast mode and idle-write skipping are modes of a number, kept apart from where it leads.
    void modesFollowTheNumber()
    {
        FakeComPort board;
        PortMap map;
        QVERIFY(map.apply(PortMap::parseOverride(QStringLiteral("COM5=ftdi")), &board));
        map.mapToDevice(5, QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"));
        map.setIdleWriteSkipping(5, false);
        QVERIFY(map.target(5).fastMode);
        QCOMPARE(map.target(5).devicePath, "/dev/serial/by-id/usb-FTDI-if00");
        QCOMPARE(map.target(5).skipIdleWrites, false);
        QCOMPARE(map.target(6).skipIdleWrites, std::nullopt);

        const PortOverride adapter = PortMap::parseOverride(QStringLiteral("COM2=sim-ft232r:2ms"));
        QVERIFY(adapter.simulated && adapter.virtualAdapter);
        QCOMPARE(adapter.lineDelay.count(), 2000);
        map.apply(adapter, &board);
        map.setFastMode(2, true); // a simulated target is never a USB device in fast mode
        QVERIFY(!map.target(2).fastMode);

        map.mapToFtdiSerial(3, QStringLiteral("A12345"));
        QVERIFY(map.target(3).fastMode);
        QCOMPARE(map.target(3).ftdiSerial, "A12345");
        QVERIFY(!PortMap::parseOverride(QStringLiteral("COM2=sim-ft232r:5")).isValid());
    }

    // The one grammar of --port: the command-line tool takes every form, the program only those
    // that map a number.
    void portTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("portNumber"); // 0: none given
        QTest::addColumn<QString>("kind");   // device, number, sim, virtual, ftdi, serial, refused
        QTest::addColumn<QString>("value");  // the path, serial or wait; the error's words
        QTest::addColumn<bool>("forProgram");
        QTest::newRow("number and path")
            << "COM5=/dev/serial/by-id/usb-FTDI_A1-if00-port0" << 5 << "device"
            << "/dev/serial/by-id/usb-FTDI_A1-if00-port0" << true;
        QTest::newRow("bare number") << "com7" << 7 << "number"
                                     << "" << false;
        QTest::newRow("bare path") << "/dev/ttyUSB3" << 0 << "device"
                                   << "/dev/ttyUSB3" << false;
        QTest::newRow("path holding =") << "/tmp/a=b" << 0 << "device"
                                        << "/tmp/a=b" << false;
        QTest::newRow("sim") << "sim" << 0 << "sim"
                             << "0" << false;
        QTest::newRow("numbered slow sim") << "COM3=sim:2ms" << 3 << "sim"
                                           << "2000" << true;
        QTest::newRow("virtual adapter") << "sim-ft232r:1ms" << 0 << "virtual"
                                         << "1000" << false;
        QTest::newRow("fast mode") << "COM5=ftdi" << 5 << "ftdi"
                                   << "" << true;
        QTest::newRow("serial") << "ftdi:A10K3XYZ" << 0 << "serial"
                                << "A10K3XYZ" << false;
        QTest::newRow("numbered serial") << "COM9=ftdi:A10K3XYZ" << 9 << "serial"
                                         << "A10K3XYZ" << true;
        QTest::newRow("ftdi without a port") << "ftdi" << 0 << "refused"
                                             << "COMn=ftdi" << false;
        QTest::newRow("COM17") << "COM17" << 0 << "refused"
                               << "COM1 to COM16" << false;
        QTest::newRow("neither") << "ttyUSB0" << 0 << "refused"
                                 << "neither" << false;
        QTest::newRow("bad name") << "PORT5=/dev/ttyS0" << 0 << "refused"
                                  << "PORT5" << false;
    }

    void portTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, portNumber);
        QFETCH(QString, kind);
        QFETCH(QString, value);
        QFETCH(bool, forProgram);
        const PortOverride parsed = PortMap::parsePort(text);
        QCOMPARE(PortMap::parseOverride(text).isValid(), forProgram);
        if (kind == QLatin1String("refused")) {
            QVERIFY2(!parsed.isValid() && parsed.error.contains(value), qPrintable(parsed.error));
            return;
        }
        QVERIFY2(parsed.isValid(), qPrintable(parsed.error));
        QCOMPARE(parsed.portNumber, portNumber);
        QCOMPARE(parsed.namesOnlyNumber(), kind == QLatin1String("number"));
        QCOMPARE(parsed.simulated,
                 kind == QLatin1String("sim") || kind == QLatin1String("virtual"));
        QCOMPARE(parsed.virtualAdapter, kind == QLatin1String("virtual"));
        QCOMPARE(parsed.fastMode, kind == QLatin1String("ftdi"));
        QCOMPARE(parsed.devicePath, kind == QLatin1String("device") ? value : QString());
        QCOMPARE(parsed.ftdiSerial, kind == QLatin1String("serial") ? value : QString());
        if (parsed.simulated)
            QCOMPARE(QString::number(parsed.lineDelay.count()), value);
        if (kind == QLatin1String("serial") && forProgram) {
            PortMap map;
            QVERIFY(map.apply(parsed, nullptr));
            QCOMPARE(map.target(portNumber).ftdiSerial, value);
            QVERIFY(map.target(portNumber).fastMode);
        }
    }

    void overrideTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("portNumber"); // 0: refused
        // "sim" for the board, "sim N" for a board waiting N us per line operation; for a
        // refusal, text in the error.
        QTest::addColumn<QString>("path");

        QTest::newRow("by-id link")
            << "COM5=/dev/serial/by-id/usb-FTDI-if00" << 5 << "/dev/serial/by-id/usb-FTDI-if00";
        QTest::newRow("any case") << "com16=SIM" << 16 << "sim";
        QTest::newRow("slow board") << "COM1=sim:1ms" << 1 << "sim 1000";
        QTest::newRow("slow board in us") << "COM2=SIM:250us" << 2 << "sim 250";
        QTest::newRow("'=' in the path") << "COM3=/tmp/a=b" << 3 << "/tmp/a=b";
        QTest::newRow("leading zero") << "COM07=ttyV0" << 7 << "ttyV0";

        // Refusals that name the port as written.
        for (const QString text : {"COM5", "COM0=/dev/ttyS0", "COM17=/dev/ttyS0", "TTY5=/dev/ttyS0",
                                   "COM99999999999=/dev/ttyS0", "COM5="})
            QTest::newRow(qPrintable(text)) << text << 0 << text.section(u'=', 0, 0);
        QTest::newRow("empty") << "" << 0 << "COMn=PATH";
        QTest::newRow("wait without a unit") << "COM1=sim:5" << 0 << "1ms";
        QTest::newRow("wait above a second") << "COM1=sim:1001ms" << 0 << "1000ms";
    }

    void overrideTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, portNumber);
        QFETCH(QString, path);

        const PortOverride parsed = PortMap::parseOverride(text);
        FakeComPort board;
        PortMap map;
        QCOMPARE(map.apply(parsed, &board), portNumber != 0);
        if (portNumber == 0) {
            QVERIFY2(parsed.error.contains(path), qPrintable(parsed.error));
            for (int n = 1; n <= 16; ++n)
                QVERIFY(!map.hasOverride(n));
            return;
        }
        QVERIFY2(parsed.isValid(), qPrintable(parsed.error));
        const PortTarget target = map.target(portNumber);
        const bool simulated = path.startsWith("sim");
        QCOMPARE(target.kind, simulated ? PortTarget::Kind::Simulated : PortTarget::Kind::Device);
        QCOMPARE(parsed.lineDelay.count(), simulated ? path.mid(4).toLongLong() : 0);
        QCOMPARE(target.simulated == &board, simulated);
        QCOMPARE(target.devicePath, simulated ? QString() : path);
    }

    void boardGetsEveryOperation()
    {
        FakeComPort board;
        board.results.insert(2, OpenResult::Opened);
        PortMap map;
        map.mapToSimulated(2, &board);
        MappedComPort port(map);
        port.setTimeouts({.writeTotalTimeoutConstant = 1000}); // one record, whichever port is open

        QCOMPARE(port.open(2, LineSettings{}), OpenResult::Opened);
        QCOMPARE(port.openPortNumber(), 2);
        port.setDtr(true);
        port.setDtr(true); // repeated writes of one value all reach the board
        port.setRts(true);
        QVERIFY(port.dsr());
        port.writeData(QByteArrayLiteral("\x07\0\0\0"));
        QCOMPARE(board.log, (QStringList{"timeouts 0 0 0 0 1000", "open 2 9600,N,8,1", "dtr 1",
                                         "dtr 1", "rts 1", "dsr", "write 07 00 00 00"}));
        QVERIFY(port.lastError().isEmpty());

        // The board's failure is passed on and closes the port.
        QSignalSpy failed(&port, &ComPort::failed);
        board.breakDown();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0), (QVariantList{2, QStringLiteral("unplugged")}));
        QVERIFY(!port.isOpen());
        port.setDtr(false);
        QVERIFY(!board.log.contains("dtr 0"));

        // A port closed by the router no longer speaks for it.
        QCOMPARE(port.open(2, LineSettings{}), OpenResult::Opened);
        port.close();
        board.breakDown();
        QCOMPARE(failed.size(), 1);
    }

    void refusedOpenClosesTheOpenPort_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<OpenResult>("result");
        QTest::addColumn<QString>("error");
        QTest::newRow("no board") << 4 << OpenResult::Failed
                                  << "COM4: no simulated board is attached.";
        QTest::newRow("missing device")
            << 6 << OpenResult::NotPresent
            << "COM6: " + m_dir.filePath("ttyUSB0") + " does not exist.";
        QTest::newRow("COM17") << 17 << OpenResult::NotPresent << "There is no port COM17.";
    }

    void refusedOpenClosesTheOpenPort()
    {
        QFETCH(int, portNumber);
        QFETCH(OpenResult, result);
        QFETCH(QString, error);
        FakeComPort board;
        board.results.insert(2, OpenResult::Opened);
        PortMap map;
        map.mapToSimulated(2, &board);
        map.mapToSimulated(4, nullptr);
        map.mapToDevice(6, m_dir.filePath("ttyUSB0"));
        MappedComPort port(map);
        QCOMPARE(port.open(2, LineSettings{}), OpenResult::Opened);

        QCOMPARE(port.open(portNumber, LineSettings{}), result);
        QCOMPARE(port.lastError(), error);
        QVERIFY(!port.isOpen() && port.openPortNumber() == 0);
        port.setRts(false);
        QVERIFY(!port.dsr());
        QCOMPARE(board.log.last(), "close 2"); // and nothing after
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
