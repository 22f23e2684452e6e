#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The built program, run as a user would, with a settings location of its own.
class TestCliTool : public QObject
{
    Q_OBJECT

private slots:
    void exitStatuses_data();
    void exitStatuses();
    void jsonReadAndTrace();

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

void TestCliTool::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("no command") << QStringList{} << 2;
    QTest::newRow("burn refused, not asked on standard input")
        << QStringList{"--port", "sim", "otp-all"} << 5;
}

void TestCliTool::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QCOMPARE(runTool(arguments), status);
    if (status != 0)
        QVERIFY2(m_err.startsWith("kalventa-cli: ") && m_out.isEmpty(), m_err.constData());
    else
        QVERIFY(m_out.contains("Exit status"));
}

void TestCliTool::jsonReadAndTrace()
{
    const QString trace = m_dir.filePath(QStringLiteral("t.vcd"));
    QCOMPARE(runTool({"--port", "sim", "--vsup", "10", "--json", "--trace", trace, "read"}), 0);
    // All of standard output is one JSON document, and the trace holds the wires.
    QCOMPARE(QJsonDocument::fromJson(m_out).object().value("channels").toArray().size(), 24);
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains("$var wire 1 ! SCL $end"));
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_clitool.moc"
