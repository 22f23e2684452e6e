// SPDX-License-Identifier: MIT
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>

// The built program with an environment of nothing but the test's own folders: no display, no
// platform named, unless a test row adds one.
class TestLaunch : public QObject
{
    Q_OBJECT

private slots:
    void versionNeedsNoDisplay()
    {
        QCOMPARE(run({"--version"}), 0);
        QCOMPARE(m_out, QByteArray("kalventa " KALVENTA_VERSION "\n"));
        QCOMPARE(m_err, QByteArray());
    }

    void withoutADisplayItSaysSoInOneLine()
    {
        QCOMPARE(run({"--simulate"}), 1);
        QCOMPARE(m_err, QByteArray("kalventa: no display found (DISPLAY and WAYLAND_DISPLAY are "
                                   "unset); use kalventa-cli for the command line\n"));
        QCOMPARE(m_out, QByteArray());
    }

    // A display or platform named, even one that is not there, is Qt's to try: it fails, but
    // not with the message for none at all.
    void aNamedDisplayIsLeftToQt_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::newRow("DISPLAY") << "DISPLAY"
                                 << ":4711";
        QTest::newRow("WAYLAND_DISPLAY") << "WAYLAND_DISPLAY"
                                         << "kalventa-test-none";
        QTest::newRow("QT_QPA_PLATFORM") << "QT_QPA_PLATFORM"
                                         << "kalventa-test-none";
    }

    void aNamedDisplayIsLeftToQt()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QCOMPARE(run({"--simulate"}, {{variable, value}}), -1); // Qt aborts
        QVERIFY2(!m_err.contains("no display found"), m_err.constData());
    }

private:
    // The exit status, or -1 when the program ended by a signal.
    int run(const QStringList &arguments, const QList<std::pair<QString, QString>> &extra = {})
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("HOME"), m_dir.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_dir.filePath(QStringLiteral("xdg")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("xdg")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        for (const auto &[name, value] : extra)
            environment.insert(name, value);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.path());
        // Qt's abort leaves no core file behind.
        process.setChildProcessModifier([] {
            const rlimit none{0, 0};
            ::setrlimit(RLIMIT_CORE, &none);
        });
        process.start(QStringLiteral(KALVENTA_PATH), arguments);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return -2;
        }
        m_out = process.readAllStandardOutput();
        m_err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QTemporaryDir m_dir;
    QByteArray m_out;
    QByteArray m_err;
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
