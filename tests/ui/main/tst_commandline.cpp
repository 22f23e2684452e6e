// SPDX-License-Identifier: MIT
#include "app/closesignals.h"
#include "app/commandline.h"
#include "app/demostore.h"
#include "device/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>

using app::CommandLine;

Q_DECLARE_METATYPE(CommandLine::Result)

namespace {

// The program run from a test keeps its settings and data in the test's folder, off screen.
QProcessEnvironment isolatedEnvironment(const QString &folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"})
        environment.insert(QLatin1String(name), folder);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("KALVENTA")); }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Result>("result");
        QTest::addColumn<QStringList>("mapped"); // "n=path" or "n=sim", in order
        QTest::addColumn<QString>("error");      // a part of the error text

        using R = CommandLine::Result;
        const auto row = [](const char *name, const QStringList &arguments, R result,
                            const QStringList &mapped = {}, const QString &error = {}) {
            QTest::newRow(name) << arguments << result << mapped << error;
        };
        row("none", {}, R::Run);
        row("simulate", {"--simulate"}, R::Run);
        row("two ports", {"--port", "COM5=/dev/serial/by-id/usb-x", "--port=com2=SIM"}, R::Run,
            {"5=/dev/serial/by-id/usb-x", "2=sim"});
        row("help", {"--help"}, R::ShowHelp);
        row("version", {"-v"}, R::ShowVersion);
        row("port 17", {"--port", "COM17=sim"}, R::Error, {}, "COM17");
        row("no value", {"--port"}, R::Error, {}, "port");
        row("stray word", {"COM1"}, R::Error, {}, "COM1");
        // A file to offer must exist; the test program itself stands in for one.
        const QString file = QCoreApplication::applicationFilePath();
        row("a file", {"--simulate", file}, R::Run);
        row("two files", {file, file}, R::Error, {}, "one file at a time");
        row("faults of the simulated board",
            {"--simulate", "--sim-fault", "dsr-stuck", "--sim-fault", "dead-cell=C1"}, R::Run);
        row("a fault on COMn=sim", {"--port", "COM2=sim", "--sim-fault", "frozen-read=1"}, R::Run,
            {"2=sim"});
        row("a fault without the board", {"--sim-fault", "dsr-stuck"}, R::Error, {},
            "simulated board");
        row("an unknown fault", {"--simulate", "--sim-fault", "gremlins"}, R::Error, {},
            "dsr-stuck");
        row("a dead cell of no channel", {"--simulate", "--sim-fault", "dead-cell=23"}, R::Error,
            {}, "channel name");
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Result, result);
        QFETCH(QStringList, mapped);
        QFETCH(QString, error);

        CommandLine commandLine;
        QCOMPARE(commandLine.parse(QStringList{QStringLiteral("kalventa")} + arguments), result);
        QVERIFY2(commandLine.errorText().contains(error), qPrintable(commandLine.errorText()));
        QCOMPARE(commandLine.errorText().isEmpty(), error.isEmpty());
        if (result != CommandLine::Result::Run)
            return;
        QCOMPARE(commandLine.options().simulate, arguments.contains("--simulate"));
        QStringList got;
        for (const port::PortOverride &entry : commandLine.options().portOverrides) {
            got.append(QStringLiteral("%1=%2")
                           .arg(entry.portNumber)
                           .arg(entry.simulated ? QStringLiteral("sim") : entry.devicePath));
        }
        QCOMPARE(got, mapped);
        QCOMPARE(commandLine.options().offeredFile,
                 arguments.contains(QCoreApplication::applicationFilePath())
                     ? QCoreApplication::applicationFilePath()
                     : QString());
        const stack::SimulatedFaults &faults = commandLine.options().simFaults;
        QCOMPARE(faults.dsrStuck, arguments.contains("dsr-stuck"));
        QCOMPARE(faults.deadCells,
                 arguments.contains("dead-cell=C1") ? QList<int>{19} : QList<int>());
        QCOMPARE(faults.frozenChip,
                 arguments.contains("frozen-read=1") ? std::optional<int>(1) : std::nullopt);
    }

    void closeSignalsReachTheEventLoop()
    {
        const app::CloseSignals closeSignals;
        QSignalSpy heard(&closeSignals, &app::CloseSignals::received);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            QCOMPARE(::raise(signal), 0); // would end the test without the handler
            QVERIFY(heard.wait(5000));
            QCOMPARE(heard.takeFirst().value(0).toInt(), signal);
        }
    }

    // The program, sent a signal, closes as when the user closes it: settings and the trace are
    // written, and it exits normally.
    void signalsCloseTheProgramAsTheUserWould_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void signalsCloseTheProgramAsTheUserWould()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess program;
        program.setProcessEnvironment(isolatedEnvironment(dir.path()));
        const QString trace = dir.filePath(QStringLiteral("bus.vcd"));
        program.start(QStringLiteral(KALVENTA_PATH), {"--simulate", "--trace", trace});
        QVERIFY(program.waitForStarted());
        const QString store = dir.filePath(QStringLiteral("KALVENTA/simulated.ini"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(store), 10000);
        QTest::qWait(1000);
        // What the exit stores comes back once taken out.
        QSettings(store, QSettings::IniFormat).remove(QStringLiteral("PortNumb"));
        QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFile::exists(trace));
        QVERIFY(QSettings(store, QSettings::IniFormat).contains(QStringLiteral("PortNumb/2")));
    }

    // A run that never opened a port sent nothing: no trace is written, and an older one at the
    // path stays as it was.
    void noTraceWithoutAPort()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("KALVENTA/KALVENTA.ini"));
        QVERIFY(QDir().mkpath(QFileInfo(store).path()));
        {
            QSettings settings(store, QSettings::IniFormat);
            settings.setValue(QStringLiteral("PortNumb/2"), QStringLiteral("1"));
        }
        const QString trace = dir.filePath(QStringLiteral("bus.vcd"));
        QFile older(trace);
        QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older") == 5);
        older.close();
        QProcess program;
        program.setProcessEnvironment(isolatedEnvironment(dir.path()));
        // COM1, the stored port, is a device that is not there.
        program.start(
            QStringLiteral(KALVENTA_PATH),
            {"--port", "COM1=" + dir.filePath(QStringLiteral("missing")), "--trace", trace});
        QVERIFY(program.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("no trace was written")), qPrintable(errors));
        QVERIFY(older.open(QIODevice::ReadOnly));
        QCOMPARE(older.readAll(), QByteArray("older"));
    }

    void demoStoreIsSeededOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config/simulated.ini"));
        QString error;
        QVERIFY(app::seedSimulatedStore(path, &error));

        device::DeviceModel model;
        device::StoredPort port;
        device::SettingsStore store(path);
        QVERIFY(store.loadSettings(model, port));
        QCOMPARE(std::pair(port.portNumber, port.bitRate), std::pair(qint16(1), 9600));
        QCOMPARE(model.a0Pin, QStringLiteral("0"));
        QCOMPARE(model.vrefHigh, (std::array<double, 2>{10, 10}));

        // What a demo changed stays for the next demo.
        model.vrefHigh[0] = 3.3;
        QVERIFY(store.saveAtExit(model, {1, 19200}));
        QVERIFY(app::seedSimulatedStore(path, &error));
        QVERIFY(device::SettingsStore(path).loadSettings(model, port));
        QCOMPARE(model.vrefHigh[0], 3.3);
        QCOMPARE(port.bitRate, 19200);

        // Where no folder can be made, the board still starts: its store lives until exit.
        QVERIFY(QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly));
        std::unique_ptr<QTemporaryDir> fallback;
        QString note;
        const auto kept = app::openSimulatedStore(
            dir.filePath(QStringLiteral("file/simulated.ini")), &fallback, &note);
        QVERIFY(kept->loadSettings(model, port) && port.portNumber == 1);
        QVERIFY2(note.contains(QStringLiteral("will not be kept")), qPrintable(note));

        const QString users = QFileInfo(device::SettingsStore().location()).absoluteFilePath();
        const QString demo = QFileInfo(app::simulatedStorePath()).absoluteFilePath();
        QVERIFY2(users != demo, qPrintable(demo));
        QVERIFY(demo.endsWith(QStringLiteral("/simulated.ini")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
