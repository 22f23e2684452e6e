// SPDX-License-Identifier: MIT
#include "port/devicenode.h"
#include "port/portmap.h"
#include "port/systemcomport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

using namespace port;

// Only paths that are not serial devices are opened here: missing nodes, plain files, /dev/null
// and pseudo-terminals of the test's own. No real port is touched.
class TestSystemComPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char *name : {"plain", "locked"}) {
            QFile file(m_dir.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("locked")), {}));
    }

    void refusedOpensLeaveThePortClosed_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("path"); // opened as COM6; empty: the default device
        QTest::addColumn<OpenResult>("result");
        QTest::addColumn<OpenResult>("presence"); // what is known without opening

        const auto in = [this](const char *name) { return m_dir.filePath(QLatin1String(name)); };
        constexpr OpenResult absent = OpenResult::NotPresent;
        QTest::newRow("COM17") << 17 << "" << absent << absent;
        QTest::newRow("missing node") << 6 << in("ttyUSB0") << absent << absent;
        QTest::newRow("file as folder") << 6 << in("plain/tty") << absent << absent;
        QTest::newRow("plain file") << 6 << in("plain") << OpenResult::Failed << OpenResult::Failed;
        // A character device looks like a port until it is opened.
        QTest::newRow("not a terminal")
            << 6 << "/dev/null" << OpenResult::Failed << OpenResult::Opened;
        QTest::newRow("no permission")
            << 6 << in("locked") << OpenResult::NoPermission << OpenResult::NoPermission;
    }

    void refusedOpensLeaveThePortClosed()
    {
        QFETCH(int, portNumber);
        QFETCH(QString, path);
        QFETCH(OpenResult, result);
        QFETCH(OpenResult, presence);
        if (result == OpenResult::NoPermission && QFile(path).open(QIODevice::ReadWrite))
            QSKIP("this user may open any file");

        SystemComPort serial;
        QSignalSpy failed(&serial, &SystemComPort::failed);

        QString reason;
        QCOMPARE(path.isEmpty()
                     ? serial.presence(portNumber)
                     : inspectDeviceNode(port::PortMap::portName(portNumber), path, &reason),
                 presence);
        const OpenResult opened = path.isEmpty()
                                      ? serial.open(portNumber, LineSettings{})
                                      : serial.openDevice(portNumber, path, LineSettings{});
        QCOMPARE(opened, result);
        QVERIFY(!serial.lastError().isEmpty() && !serial.isOpen() && serial.openPortNumber() == 0);
        serial.setDtr(true);
        serial.setRts(true);
        serial.writeData(QByteArrayLiteral("\x07\0\0\0"));
        QVERIFY(!serial.dsr() && failed.isEmpty());
    }

    void terminals_data()
    {
        QTest::addColumn<bool>("heldExclusively");
        QTest::addColumn<OpenResult>("result");
        QTest::addColumn<QString>("error");
        // A pseudo-terminal opens like a serial port but has no modem-control lines: the release of
        // DTR after the open fails, and the port must end up closed, not half open.
        QTest::newRow("no modem lines") << false << OpenResult::Failed << "DTR";
        // Another program has the terminal open and exclusive.
        QTest::newRow("held elsewhere") << true << OpenResult::Busy << "";
    }

    void terminals()
    {
#ifdef Q_OS_LINUX
        QFETCH(bool, heldExclusively);
        QFETCH(OpenResult, result);
        QFETCH(QString, error);
        if (heldExclusively && ::geteuid() == 0)
            QSKIP("the superuser passes exclusive terminals");
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            QSKIP("no pseudo-terminals here");
        const QByteArray terminal = ::ptsname(master);
        const int holder = ::open(terminal.constData(), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        if (heldExclusively)
            QVERIFY(::ioctl(holder, TIOCEXCL) == 0);

        SystemComPort serial;
        QSignalSpy failed(&serial, &SystemComPort::failed);
        // Whether the terminal has modem lines or another holder shows only at the open.
        QString reason;
        QCOMPARE(
            inspectDeviceNode(QStringLiteral("COM3"), QString::fromLocal8Bit(terminal), &reason),
            OpenResult::Opened);
        QCOMPARE(serial.openDevice(3, QString::fromLocal8Bit(terminal), LineSettings{}), result);
        QVERIFY2(serial.lastError().contains(error), qPrintable(serial.lastError()));
        QVERIFY(!serial.isOpen() && !serial.dsr() && failed.isEmpty());
        ::close(holder);
        ::close(master);
#else
        QSKIP("needs Linux pseudo-terminals");
#endif
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSystemComPort)
#include "tst_systemcomport.moc"
