#include "clifixture.h"

#include <QTest>

using cli::ExitStatus;

// What a new user of the tool meets: texts, forgiving spellings, refusals that say what to do,
// and burns that take the codes the session set.
class TestCliNewUser : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
    void burnsTheCodesTheSessionSet();
};

void TestCliNewUser::runs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("said"); // on standard output, else on the error stream
    const QStringList sim{"--port", "sim", "--a0", "0", "--vsup", "10"};
    QTest::newRow("leading zero") << sim + QStringList{"code", "5", "51"} << 0 << "0.498 V";
    QTest::newRow("upper-case command") << sim + QStringList{"GET", "5"} << 0 << "Channel 5";
    QTest::newRow("leading zeros in a code")
        << sim + QStringList{"code", "5", "01023"} << 0 << "code 1023";
    QTest::newRow("option after the command")
        << sim + QStringList{"read", "--json"} << 2 << "go before the command";
    QTest::newRow("JSON failure") << sim + QStringList{"--json", "code", "5", "2000"} << 2
                                  << "\"exitStatus\":2";
    QTest::newRow("Vsup unknown") << QStringList{"--port", "sim", "--a0", "0", "set", "5", "1"} << 7
                                  << "--vsup VOLTS";
    QTest::newRow("absurd Vsup saturates")
        << QStringList{"--port", "sim", "--a0", "0", "--vsup", "1e308", "set", "5", "1e308"} << 0
        << "sent as 1023";
}

void TestCliNewUser::runs()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitStatus);
    QFETCH(QString, said);
    CliFixture f;
    f.store(QStringLiteral("a0/1"), QStringLiteral("0"));
    QCOMPARE(f.run(arguments), exitStatus);
    QVERIFY2((f.out + f.err).contains(said), qPrintable(f.out + f.err));
}

void TestCliNewUser::burnsTheCodesTheSessionSet()
{
    CliFixture f;
    // A lone CR ends a line too. The first burn's reset reloads channel 6 from OTP (0), but the
    // second burn takes the 512 this session set.
    const QString script =
        f.writeFile(QStringLiteral("burn.txt"),
                    "code 5 1023\rcode 6 512\rotp 5 --yes\r\notp 6 --yes\nload " +
                        f.writeFile(QStringLiteral("bad.csv"), "not a register set").toUtf8());
    QCOMPARE(f.run({"--port", "sim", "--a0", "0", "--vsup", "10", "script", script}),
             cli::exitCode(ExitStatus::BadInputFile));
    QVERIFY(f.chip().events().isEmpty()); // the bad file was found before the bus moved

    const QString good = f.writeFile(QStringLiteral("good.txt"),
                                     "code 5 1023\rcode 6 512\rotp 5 --yes\r\notp 6 --yes");
    QCOMPARE(f.run({"--port", "sim", "--a0", "0", "--vsup", "10", "script", good}), 0);
    QCOMPARE(f.chip().otpCell(0, 4), std::optional<quint16>(1023));
    QCOMPARE(f.chip().otpCell(1, 5), std::optional<quint16>(512));
}

QTEST_GUILESS_MAIN(TestCliNewUser)
#include "tst_clinewuser.moc"
