// SPDX-License-Identifier: MIT
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>

// The built program, run as a user would, with a settings location of its own.
class TestCliTool : public QObject
{
    Q_OBJECT

private slots:
    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        // A part of standard output, which a failure leaves empty.
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Exit status");
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QByteArray("kalventa-cli " KALVENTA_VERSION "\n");
        QTest::newRow("read on the simulated board")
            << QStringList{"--port", "sim", "--vsup", "10", "read"} << 0
            << QByteArray("Max bank: 0\n");
        QTest::newRow("no command") << QStringList{} << 2 << QByteArray();
        QTest::newRow("burn refused, not asked on standard input")
            << QStringList{"--port", "sim", "otp-all"} << 5 << QByteArray();
    }

    void exitStatuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, shown);
        QCOMPARE(runTool(arguments), status);
        if (status != 0)
            QVERIFY2(m_err.startsWith("kalventa-cli: ") && m_out.isEmpty(), m_err.constData());
        else
            QVERIFY2(m_out.contains(shown) && m_err.isEmpty(), m_out.constData());
    }

    // The log stays off the terminal unless asked for; --verbose puts it on standard error, and
    // the result on standard output is the same either way.
    void verboseLogsOnStandardError_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("default") << false;
        QTest::newRow("--verbose") << true;
    }

    void verboseLogsOnStandardError()
    {
        QFETCH(bool, verbose);
        QStringList arguments{"--port", "sim", "--vsup", "10", "get", "1"};
        if (verbose)
            arguments.prepend(QStringLiteral("--verbose"));
        QCOMPARE(runTool(arguments), 0);
        QVERIFY2(m_out.contains("Channel 1 (register 0x00)"), m_out.constData());
        const bool opened = m_err.contains("kalventa.port: COM1 (simulated board) opened");
        QVERIFY2(opened == verbose, m_err.constData());
        QCOMPARE(m_err.contains("kalventa.cli: get ended with status 0"), verbose);
        if (!verbose)
            QVERIFY2(m_err.isEmpty(), m_err.constData());
    }

    // The signals a shell, a test stand or a closed SSH session sends: the read stops after the
    // register under way, says so, shows what it read, writes its trace and exits as shells
    // expect, 128 + the signal.
    void signalsStopARead_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("SIGINT") << SIGINT << QByteArray("SIGINT");
        QTest::newRow("SIGTERM") << SIGTERM << QByteArray("SIGTERM");
        QTest::newRow("SIGHUP") << SIGHUP << QByteArray("SIGHUP");
    }

    void signalsStopARead()
    {
        QFETCH(int, signal);
        QFETCH(QByteArray, name);
        const QString trace = m_dir.filePath(QStringLiteral("stopped.vcd"));
        QFile::remove(trace);
        QProcess process;
        prepare(process);
        // About 8 s at 1 ms per line operation: the signal comes well inside it.
        process.start(QStringLiteral(KALVENTA_CLI_PATH),
                      {"--port", "sim:1ms", "--a0", "0", "--vsup", "10", "--trace", trace, "read"});
        QVERIFY(process.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(err.contains("stopped by " + name + " after reading"), err.constData());
        QVERIFY2(out.contains("      1      0x00") && !out.contains("Max bank"), out.constData());
        QVERIFY(QFile::exists(trace));
    }

private:
    void prepare(QProcess &process);
    int runTool(const QStringList &arguments);

    QTemporaryDir m_dir;
    QByteArray m_out;
    QByteArray m_err;
};

void TestCliTool::prepare(QProcess &process)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    // The log's terminal output is what some tests look at: no rules from the caller.
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    process.setProcessEnvironment(environment);
}

int TestCliTool::runTool(const QStringList &arguments)
{
    QProcess process;
    prepare(process);
    process.start(QStringLiteral(KALVENTA_CLI_PATH), arguments);
    if (!process.waitForFinished(30000))
        return -1;
    m_out = process.readAllStandardOutput();
    m_err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_clitool.moc"
