// SPDX-License-Identifier: MIT
#include "port/libftdidevice.h"

#include <QTest>
#include <cerrno>

using namespace port;

namespace {

// The library as a chip would answer through it: every call's result is set by the test, and
// each state written comes back as its own sample.
struct FakeFtdi : FtdiLibrary
{
    struct Script
    {
        bool starts = true;
        int openResult = 0;
        int openErrno = 0;
        bool bitBangStarts = true;
        // How many bytes each write takes; the rest take all they are given.
        QList<int> writes;
        // -1: the read fails.
        int readResult = 0;
        bool readFails = false;
    };

    explicit FakeFtdi(Script *script) : script(script) {}

    bool start(int) override
    {
        ++started;
        return script->starts;
    }
    int openByAddress(int bus, int address, int *openErrno) override
    {
        openedBy = QStringLiteral("address %1.%2").arg(bus).arg(address);
        *openErrno = script->openErrno;
        return script->openResult;
    }
    int openBySerial(const QByteArray &serial, int *openErrno) override
    {
        openedBy = QStringLiteral("serial \"%1\"").arg(QString::fromUtf8(serial));
        *openErrno = script->openErrno;
        return script->openResult;
    }
    bool startBitBang(quint8 outputPins, int, int) override
    {
        outputs = outputPins;
        return script->bitBangStarts;
    }
    void finish() override { ++finished; }
    int write(const unsigned char *bytes, int count) override
    {
        const int taken = script->writes.isEmpty() ? count : script->writes.takeFirst();
        for (int i = 0; i < taken; ++i)
            pending.append(char(bytes[i]));
        writeSizes.append(count);
        return taken;
    }
    int read(unsigned char *bytes, int count) override
    {
        if (script->readFails)
            return -1;
        const int given = int(std::min<qsizetype>(count, pending.size()));
        // The samples come back in packets of at most 62 bytes.
        const int packet = std::min(given, 62);
        for (int i = 0; i < packet; ++i)
            bytes[i] = quint8(pending[i]);
        pending.remove(0, packet);
        return packet;
    }
    QString errorText() const override { return QStringLiteral("libftdi says no"); }

    Script *script;
    int started = 0;
    int finished = 0;
    QString openedBy;
    quint8 outputs = 0;
    QByteArray pending;
    QList<int> writeSizes;
};

struct Rig
{
    explicit Rig(FtdiSelection selection = {QString(), 0, 0, QStringLiteral("COM5")})
    {
        auto library = std::make_unique<FakeFtdi>(&script);
        fake = library.get();
        device = std::make_unique<LibFtdiDevice>(selection, std::move(library));
    }
    OpenResult open() { return device->open(0x15, 0xFF, 200'000, &error); }

    FakeFtdi::Script script;
    FakeFtdi *fake = nullptr;
    std::unique_ptr<LibFtdiDevice> device;
    QString error;
};

} // namespace

class TestLibFtdiDevice : public QObject
{
    Q_OBJECT

private slots:
    void claimingMapsWhatLibftdiSays_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("bus");
        QTest::addColumn<int>("openResult");
        QTest::addColumn<int>("openErrno");
        QTest::addColumn<OpenResult>("expected");
        QTest::addColumn<QString>("message");
        QTest::newRow("absent, first")
            << "" << 0 << -3 << 0 << OpenResult::NotPresent << "COM5: no FT232R is plugged in.";
        QTest::newRow("absent, by serial")
            << "A12345" << 0 << -3 << 0 << OpenResult::NotPresent
            << "COM5: no FT232R with serial number A12345 is plugged in.";
        QTest::newRow("absent, by address")
            << "A12345" << 1 << -3 << 0 << OpenResult::NotPresent
            << "COM5: no FT232R at USB bus 1, device 5. Plug the adapter in again";
        QTest::newRow("busy") << "" << 0 << -5 << 0 << OpenResult::Busy
                              << "COM5: another program holds the FT232R.";
        QTest::newRow("no permission to detach")
            << "" << 0 << -8 << 0 << OpenResult::NoPermission
            << "COM5: no permission to use the FT232R's USB device. The package's udev rule";
        QTest::newRow("node refused")
            << "" << 1 << -4 << EACCES << OpenResult::NoPermission
            << "COM5: no permission to use the FT232R's USB device (/dev/bus/usb/001/005).";
        QTest::newRow("USB open failed otherwise")
            << "" << 0 << -4 << EIO << OpenResult::Failed
            << "COM5: the FT232R could not be opened: libftdi says no";
        QTest::newRow("unusable") << "" << 0 << -11 << 0 << OpenResult::Failed
                                  << "COM5: the FT232R could not be opened: libftdi says no";
    }

    // Each refusal leaves the adapter to the system, with the library's context given back.
    void claimingMapsWhatLibftdiSays()
    {
        QFETCH(QString, serial);
        QFETCH(int, bus);
        QFETCH(int, openResult);
        QFETCH(int, openErrno);
        QFETCH(OpenResult, expected);
        QFETCH(QString, message);
        Rig rig({serial, bus, bus ? 5 : 0, QStringLiteral("COM5")});
        rig.script.openResult = openResult;
        rig.script.openErrno = openErrno;
        QCOMPARE(rig.open(), expected);
        QVERIFY2(rig.error.startsWith(message), qPrintable(rig.error));
        QVERIFY(!rig.device->isOpen());
        QCOMPARE(rig.fake->finished, 1);
        QCOMPARE(rig.fake->openedBy,
                 bus ? QStringLiteral("address 1.5") : QStringLiteral("serial \"%1\"").arg(serial));
    }

    void startingFails_data()
    {
        QTest::addColumn<bool>("starts");
        QTest::addColumn<bool>("bitBangStarts");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<QString>("message");
        QTest::newRow("no libftdi")
            << false << true << true << "COM5: libftdi could not start (no USB support";
        QTest::newRow("no bit-bang mode")
            << true << false << true
            << "COM5: the FT232R would not start synchronous bit-bang mode: libftdi says no";
        QTest::newRow("no answer") << true << true << false
                                   << "COM5: the FT232R did not answer in bit-bang mode: "
                                      "libftdi says no";
    }

    void startingFails()
    {
        QFETCH(bool, starts);
        QFETCH(bool, bitBangStarts);
        QFETCH(bool, echoes);
        QFETCH(QString, message);
        Rig rig;
        rig.script.starts = starts;
        rig.script.bitBangStarts = bitBangStarts;
        rig.script.readFails = !echoes;
        QCOMPARE(rig.open(), OpenResult::Failed);
        QVERIFY2(rig.error.startsWith(message), qPrintable(rig.error));
        QVERIFY(!rig.device->isOpen());
        // A context that was made is given back, and only once.
        QCOMPARE(rig.fake->finished, starts ? 1 : 0);
    }

    void transfersAreSplitAndWhole()
    {
        Rig rig;
        QCOMPARE(rig.open(), OpenResult::Opened);
        QCOMPARE(rig.fake->outputs, quint8(0x15));
        QByteArray states;
        for (int i = 0; i < 300; ++i)
            states.append(char(i * 7));
        QString error;
        QCOMPARE(rig.device->transfer(states, &error), states);
        QCOMPARE(rig.fake->writeSizes, (QList<int>{1, 128, 128, 44}));
        QVERIFY(error.isEmpty());
        QVERIFY(rig.device->isOpen());
        rig.device->close();
        QCOMPARE(rig.fake->finished, 1);
    }

    // A write the adapter took only part of ends the transfer short, closed, with the reason.
    void shortWriteClosesTheAdapter_data()
    {
        QTest::addColumn<int>("taken");
        QTest::addColumn<QString>("reason");
        QTest::newRow("part taken") << 100
                                    << "COM5: the adapter stopped answering: it took 100 "
                                       "of 128 bytes";
        QTest::newRow("write failed")
            << -4 << "COM5: the adapter stopped answering: libftdi says no";
    }

    void shortWriteClosesTheAdapter()
    {
        QFETCH(int, taken);
        QFETCH(QString, reason);
        Rig rig;
        QCOMPARE(rig.open(), OpenResult::Opened);
        rig.script.writes = {128, taken};
        QString error;
        const QByteArray samples = rig.device->transfer(QByteArray(300, '\x55'), &error);
        QCOMPARE(samples.size(), 128);
        QCOMPARE(error, reason);
        QVERIFY(!rig.device->isOpen());
        QCOMPARE(rig.fake->finished, 1);
        QVERIFY(rig.device->transfer(QByteArray(1, '\0'), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("COM5: the FT232R is not open."));
    }
};

QTEST_GUILESS_MAIN(TestLibFtdiDevice)
#include "tst_libftdidevice.moc"
