// SPDX-License-Identifier: MIT
#include "clifixture.h"
#include "log/logging.h"

#include <QFileInfo>
#include <sys/stat.h>

// kalventa-cli diagnose: the file for a problem report, written whole or not at all, with the
// bus checks only when asked.
class TestCliDiagnose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { logging::install(); }

    void writesTheFile_data()
    {
        QTest::addColumn<bool>("busChecks");
        QTest::newRow("without bus checks") << false;
        QTest::newRow("with bus checks") << true;
    }

    void writesTheFile()
    {
        QFETCH(bool, busChecks);
        CliFixture f;
        const QString path = f.dir.filePath(QStringLiteral("diagnostics.txt"));
        QStringList arguments{QStringLiteral("diagnose")};
        if (busChecks)
            arguments << QStringLiteral("--bus-checks");
        arguments << path;
        QCOMPARE(f.onSim(arguments), 0);
        QVERIFY2(f.err.isEmpty(), qPrintable(f.err));
        QVERIFY2(f.out.contains(QLatin1String("Diagnostics written to ")), qPrintable(f.out));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(QLatin1String("KALVENTA diagnostics\n")));
        QVERIFY(text.contains(QLatin1String("Program: kalventa-cli ")));
        QVERIFY(text.contains(QLatin1String("Port: COM1\n")));
        QVERIFY(text.contains(QLatin1String("kalventa.cli: diagnose")));
        if (busChecks) {
            QVERIFY(text.contains(QLatin1String("Chip scan: A0 = 0: a chip answered\n")));
            QVERIFY(text.contains(QLatin1String("Chip scan: A0 = 1: a chip answered\n")));
            QVERIFY(text.contains(QLatin1String("Wiring self-test: Wiring fine")));
        } else {
            // Nothing was opened, so nothing reached a chip.
            QVERIFY(text.contains(QLatin1String("Open: no\n")));
            QVERIFY(text.contains(QLatin1String("not run: not asked for")));
            QVERIFY(f.chip(0).events().isEmpty());
            QVERIFY(f.chip(1).events().isEmpty());
        }
    }

    void toStandardOutput()
    {
        CliFixture f;
        QCOMPARE(f.onSim({QStringLiteral("diagnose")}), 0);
        QVERIFY(f.out.startsWith(QLatin1String("KALVENTA diagnostics\n")));
        QVERIFY(f.out.contains(QLatin1String("Recent log")));
    }

    // A target that is not a regular file is refused before anything runs, and left as it was.
    void refusesATargetThatIsNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("missing folder") << QStringLiteral("missing");
    }

    void refusesATargetThatIsNoFile()
    {
        QFETCH(QString, kind);
        CliFixture f;
        QString path = f.dir.filePath(kind);
        if (kind == QLatin1String("fifo"))
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(f.dir.path()).mkdir(kind));
        else
            path = f.dir.filePath(QStringLiteral("missing/diagnostics.txt"));
        QCOMPARE(f.onSim({QStringLiteral("diagnose"), path}), exitCode(ExitStatus::CannotWrite));
        QVERIFY2(f.err.contains(QLatin1String("cannot write the diagnostics to ") +
                                QDir::toNativeSeparators(path)),
                 qPrintable(f.err));
        QVERIFY(f.out.isEmpty());
        const QFileInfo after(path);
        if (kind == QLatin1String("fifo")) {
            struct stat status = {};
            QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
            QVERIFY(S_ISFIFO(status.st_mode));
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(after.isDir());
        } else {
            QVERIFY(!after.exists());
        }
    }

    // The port asked for is not there: the file is written all the same and says so; the run
    // does not claim the bus checks it could not make.
    void aMissingPort_data()
    {
        QTest::addColumn<bool>("busChecks");
        QTest::addColumn<int>("status");
        QTest::newRow("without bus checks") << false << 0;
        QTest::newRow("with bus checks") << true << exitCode(ExitStatus::PortUnavailable);
    }

    void aMissingPort()
    {
        QFETCH(bool, busChecks);
        QFETCH(int, status);
        CliFixture f;
        const QString missing = f.dir.filePath(QStringLiteral("no-such-tty"));
        const QString path = f.dir.filePath(QStringLiteral("diagnostics.txt"));
        QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM3=") + missing,
                              QStringLiteral("diagnose")};
        if (busChecks)
            arguments << QStringLiteral("--bus-checks");
        QCOMPARE(f.run(arguments << path), status);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains(QStringLiteral("COM3* %1: absent").arg(missing)), qPrintable(text));
        QVERIFY(text.contains(QLatin1String("Open: no\n")));
        if (busChecks) {
            QVERIFY(text.contains(QLatin1String("Could not be opened: ")));
            QVERIFY(text.contains(QLatin1String("not run: the chosen port is not open")));
            QVERIFY2(f.err.contains(QLatin1String("the bus checks did not run")),
                     qPrintable(f.err));
        } else {
            QVERIFY(text.contains(QLatin1String("not run: not asked for")));
        }
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("two files")
            << QStringList{"diagnose", "a.txt", "b.txt"} << QStringLiteral("usage: diagnose");
        QTest::newRow("a mistyped flag") << QStringList{"diagnose", "--bus-check"}
                                         << QStringLiteral("unknown option \"--bus-check\"");
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        CliFixture f;
        QDir::setCurrent(f.dir.path());
        QCOMPARE(f.onSim(arguments), exitCode(ExitStatus::Usage));
        QVERIFY2(f.err.contains(message), qPrintable(f.err));
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).filter(QStringLiteral(".txt")),
                 QStringList());
        QVERIFY(!QFile::exists(f.dir.filePath(QStringLiteral("--bus-check"))));
    }

    void notInsideAScript()
    {
        CliFixture f;
        QCOMPARE(f.runScript({QStringLiteral("diagnose")}), exitCode(ExitStatus::Usage));
        QVERIFY2(f.err.contains(QLatin1String("diagnose cannot run inside a script")),
                 qPrintable(f.err));
    }
};

QTEST_GUILESS_MAIN(TestCliDiagnose)
#include "tst_clidiagnose.moc"
