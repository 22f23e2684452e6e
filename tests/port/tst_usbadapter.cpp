// SPDX-License-Identifier: MIT
#include "port/usbadapter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <utility>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

using namespace port;

// A small sysfs of its own: a root hub with an FT232R, a CH340 and an adapter whose vendor ID
// is a FIFO below it, and a built-in UART on the platform bus.
class TestUsbAdapter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifndef Q_OS_LINUX
        QSKIP("Only Linux describes USB adapters through sysfs.");
#endif
        QVERIFY(m_dir.isValid());
        const QString hub = QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1");
        addUsbDevice(hub, {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"busnum", "1"}});
        addUsbDevice(hub + "/1-1", {{"idVendor", "0403"},
                                    {"idProduct", "6001"},
                                    {"serial", "A12345"},
                                    {"product", "FT232R USB UART"},
                                    {"busnum", "1"},
                                    {"devnum", "5"}});
        addUsbDevice(hub + "/1-2", {{"idVendor", "1a86"},
                                    {"idProduct", "7523"},
                                    {"product", "USB Serial"},
                                    {"busnum", "1"},
                                    {"devnum", "7"}});
        addUsbDevice(hub + "/1-3", {{"idProduct", "6001"}});
        addTty("ttyUSB0", hub + "/1-1/1-1:1.0/ttyUSB0");
        addTty("ttyUSB1", hub + "/1-2/1-2:1.0/ttyUSB1");
        addTty("ttyUSB2", hub + "/1-3/1-3:1.0/ttyUSB2");
        addTty("ttyS0", "sys/devices/platform/serial8250");
#ifdef Q_OS_LINUX
        const QByteArray fifo = QFile::encodeName(path(hub + "/1-3/idVendor"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
#endif

        // The device nodes: one with a link by its ID, as udev makes them.
        QVERIFY(QDir(path()).mkpath("dev/serial/by-id"));
        QVERIFY(QFile(path("dev/ttyUSB0")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link("../../ttyUSB0", path("dev/serial/by-id/usb-FTDI_A12345-port0")));
    }

    void describesTheAdapter_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("adapter");

        QTest::newRow("FT232R by ID") << "dev/serial/by-id/usb-FTDI_A12345-port0"
                                      << "FT232R 0403:6001 'A12345' 'FT232R USB UART' 1.5";
        QTest::newRow("CH340 without node") << "dev/ttyUSB1"
                                            << "1a86:7523 '' 'USB Serial' 1.7";
        QTest::newRow("built-in UART") << "dev/ttyS0"
                                       << "not USB";
        QTest::newRow("no such tty") << "dev/ttyUSB9"
                                     << "not USB";
        QTest::newRow("FIFO as vendor ID") << "dev/ttyUSB2"
                                           << "not USB";
    }

    void describesTheAdapter()
    {
        QFETCH(QString, device);
        QFETCH(QString, adapter);
        QCOMPARE(describe(usbAdapterOf(path(device), path("sys"))), adapter);
    }

private:
    QString path(const QString &relative = {}) const
    {
        return m_dir.filePath(relative);
    }

    void addUsbDevice(const QString &folder, const QList<std::pair<const char *, QString>> &files)
    {
        QVERIFY(QDir(path()).mkpath(folder));
        for (const auto &[name, text] : files) {
            QFile file(path(folder + '/' + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text.toUtf8() + '\n');
        }
    }

    // Links the tty's entry in sysfs' class folder to its device, as the kernel does.
    void addTty(const QString &name, const QString &device)
    {
        const QString entry = "sys/class/tty/" + name;
        QVERIFY(QDir(path()).mkpath(entry));
        QVERIFY(QDir(path()).mkpath(device));
        QVERIFY(QFile::link(path(device), path(entry + "/device")));
    }

    static QString describe(const UsbAdapter &adapter)
    {
        if (!adapter.isUsb)
            return QStringLiteral("not USB");
        return QStringLiteral("%1%2:%3 '%4' '%5' %6.%7")
            .arg(adapter.isFt232r() ? "FT232R " : "")
            .arg(adapter.vendorId, 4, 16, QChar('0'))
            .arg(adapter.productId, 4, 16, QChar('0'))
            .arg(adapter.serial, adapter.product)
            .arg(adapter.busNumber)
            .arg(adapter.deviceAddress);
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestUsbAdapter)
#include "tst_usbadapter.moc"
