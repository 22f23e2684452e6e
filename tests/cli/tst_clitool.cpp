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
    void jsonReadParses();
    void traceWritten();

private:
    int runTool(const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr);

    QTemporaryDir m_dir;
};

int TestCliTool::runTool(const QStringList &arguments, QByteArray *out, QByteArray *err)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KALVENTA_CLI_PATH), arguments);
    if (!process.waitForFinished(30000))
        return -1;
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestCliTool::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("no command") << QStringList{} << 2;
    QTest::newRow("unknown option") << QStringList{"--speed", "9", "read"} << 2;
    QTest::newRow("missing file") << QStringList{"--port", "sim", "load", "/nonexistent.csv"} << 3;
    QTest::newRow("absent port") << QStringList{"--port", "/nonexistent/tty", "read"} << 4;
    QTest::newRow("burn refused") << QStringList{"--port", "sim", "otp-all"} << 5;
}

void TestCliTool::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QByteArray out;
    QByteArray err;
    QCOMPARE(runTool(arguments, &out, &err), status);
    if (status != 0) {
        QVERIFY2(err.startsWith("kalventa-cli: "), err.constData());
        QVERIFY(out.isEmpty());
    } else {
        QVERIFY(out.contains("Exit status"));
    }
}

void TestCliTool::jsonReadParses()
{
    QByteArray out;
    QCOMPARE(runTool({"--port", "sim", "--vsup", "10", "--json", "read"}, &out), 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.object().value("channels").toArray().size(), 24);
    QCOMPARE(document.object().value("vsup").toDouble(), 10.0);
}

void TestCliTool::traceWritten()
{
    const QString path = m_dir.filePath(QStringLiteral("t.vcd"));
    QCOMPARE(runTool({"--port", "sim", "--trace", path, "code", "5", "1023"}), 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("$enddefinitions $end"));
    QVERIFY(text.contains("$var wire 1 ! SCL $end"));
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_clitool.moc"
