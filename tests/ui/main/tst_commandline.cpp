#include "app/commandline.h"
#include "app/demostore.h"
#include "device/settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using app::CommandLine;

Q_DECLARE_METATYPE(CommandLine::Result)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("KALVENTA")); }
    void parse_data();
    void parse();
    void demoStoreIsSeededOnce();
    void demoStoreIsNotTheUsersStore();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CommandLine::Result>("result");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<QStringList>("mapped"); // "n=path" or "n=sim", in order
    QTest::addColumn<QString>("error");      // a part of the error text

    using R = CommandLine::Result;
    QTest::newRow("none") << QStringList{} << R::Run << false << QStringList{} << "";
    QTest::newRow("simulate") << QStringList{"--simulate"} << R::Run << true << QStringList{} << "";
    QTest::newRow("two ports") << QStringList{"--port", "COM5=/dev/serial/by-id/usb-x",
                                              "--port=com2=SIM"}
                               << R::Run << false
                               << QStringList{"5=/dev/serial/by-id/usb-x", "2=sim"} << "";
    QTest::newRow("help") << QStringList{"--help"} << R::ShowHelp << false << QStringList{} << "";
    QTest::newRow("version") << QStringList{"-v"} << R::ShowVersion << false << QStringList{} << "";
    QTest::newRow("port 17") << QStringList{"--port", "COM17=sim"} << R::Error << false
                             << QStringList{} << "COM17";
    QTest::newRow("no path") << QStringList{"--port", "COM3="} << R::Error << false << QStringList{}
                             << "COM3";
    QTest::newRow("no value") << QStringList{"--port"} << R::Error << false << QStringList{}
                              << "port";
    QTest::newRow("stray word") << QStringList{"COM1"} << R::Error << false << QStringList{}
                                << "COM1";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(CommandLine::Result, result);
    QFETCH(bool, simulate);
    QFETCH(QStringList, mapped);
    QFETCH(QString, error);

    CommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList{QStringLiteral("kalventa")} + arguments), result);
    QVERIFY2(commandLine.errorText().contains(error), qPrintable(commandLine.errorText()));
    QCOMPARE(commandLine.errorText().isEmpty(), error.isEmpty());
    if (result != CommandLine::Result::Run)
        return;
    QCOMPARE(commandLine.options().simulate, simulate);
    QStringList got;
    for (const port::PortOverride &entry : commandLine.options().portOverrides) {
        got.append(QStringLiteral("%1=%2")
                       .arg(entry.portNumber)
                       .arg(entry.simulated ? QStringLiteral("sim") : entry.devicePath));
    }
    QCOMPARE(got, mapped);
}

void TestCommandLine::demoStoreIsSeededOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/simulated.ini"));
    QString error;
    QVERIFY(app::seedSimulatedStore(path, &error));

    device::DeviceModel model;
    device::StoredPort port;
    device::SettingsStore store(path);
    QVERIFY(store.loadSettings(model, port));
    QCOMPARE(port.portNumber, qint16(1));
    QCOMPARE(port.bitRate, 9600);
    QCOMPARE(model.a0Pin, QStringLiteral("0"));
    QCOMPARE(model.vrefHigh[0], 10.0);
    QCOMPARE(model.vrefHigh[1], 10.0);

    // What a demo changed stays for the next demo.
    model.vrefHigh[0] = 3.3;
    QVERIFY(store.saveAtExit(model, {1, 19200}));
    QVERIFY(app::seedSimulatedStore(path, &error));
    QVERIFY(device::SettingsStore(path).loadSettings(model, port));
    QCOMPARE(model.vrefHigh[0], 3.3);
    QCOMPARE(port.bitRate, 19200);
}

void TestCommandLine::demoStoreIsNotTheUsersStore()
{
    const QString users = QFileInfo(device::SettingsStore().location()).absoluteFilePath();
    const QString demo = QFileInfo(app::simulatedStorePath()).absoluteFilePath();
    QVERIFY2(users != demo, qPrintable(demo));
    QVERIFY(demo.endsWith(QStringLiteral("/simulated.ini")));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
