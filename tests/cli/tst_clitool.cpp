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
    void scriptOnStandardInput_data();
    void scriptOnStandardInput();

private:
    int runTool(const QStringList &arguments);
    int runTool(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QByteArray m_out;
    QByteArray m_err;
};

int TestCliTool::runTool(const QStringList &arguments)
{
    return runTool(QStringLiteral(KALVENTA_CLI_PATH), arguments);
}

int TestCliTool::runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
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

void TestCliTool::scriptOnStandardInput_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces"); // written with a pause between them
    QTest::addColumn<QByteArray>("last");          // what channel 2 was given
    QTest::newRow("a pause between lines")
        << QList<QByteArray>{"code 1 100\n", "code 2 200\n"} << QByteArray("code 200");
    QTest::newRow("no newline at the end")
        << QList<QByteArray>{"code 1 100\ncode 2 1000"} << QByteArray("code 1000");
    const QByteArray padding = QByteArray("# padding\n").repeated(8000); // beyond 64 KiB
    QTest::newRow("more than a pipe holds")
        << QList<QByteArray>{padding + "code 1 100\n", "code 2 1000\n"} << QByteArray("code 1000");
}

void TestCliTool::scriptOnStandardInput()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, last);
    // A shell pipe, as a user makes one: its writer pauses between the pieces.
    QStringList writers;
    for (qsizetype k = 0; k < pieces.size(); ++k) {
        const QString piece = m_dir.filePath(QStringLiteral("piece%1").arg(k));
        QFile file(piece);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pieces[k]) == pieces[k].size());
        writers.append(QStringLiteral("cat '%1'").arg(piece));
    }
    const QString command =
        QStringLiteral("(%1) | '%2' --port sim --a0 0 --vsup 10 script -")
            .arg(writers.join(QStringLiteral("; sleep 0.3; ")), QStringLiteral(KALVENTA_CLI_PATH));
    QCOMPARE(runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}), 0);
    QCOMPARE(m_out.count("wrote code"), 2);
    QVERIFY2(m_out.contains("(register 0x01): wrote " + last), m_out.constData());
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_clitool.moc"
