#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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

private:
    int runTool(const QStringList &arguments);

    QTemporaryDir m_dir;
    QByteArray m_out;
    QByteArray m_err;
};

int TestCliTool::runTool(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KALVENTA_CLI_PATH), arguments);
    if (!process.waitForFinished(30000))
        return -1;
    m_out = process.readAllStandardOutput();
    m_err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_clitool.moc"
