// SPDX-License-Identifier: MIT
#include "clifixture.h"

// What the tool does when the chip, the bus or the port let it down, when a burn is asked for,
// and when a signal stops a run: the exit status, the message and the burn log.
class TestCliFailures : public QObject
{
    Q_OBJECT

private slots:
    void silentChipIsAFailure()
    {
        CliFixture f;
        f.session.simulatedBoard().setChipPresent(0, false);
        const QString path = f.writeFile("keep.csv", "old");
        for (const QStringList &arguments :
             {QStringList{"--vsup", "10", "read"}, QStringList{"--vsup", "10", "save", path},
              QStringList{"otp-all", "--yes"}, QStringList{"get", "5"},
              QStringList{"code", "5", "100"},
              QStringList{"--json", "--vsup", "10", "set", "5", "1"}})
            QCOMPARE(f.onSim(arguments), exitCode(ExitStatus::ChipSilent));
        QCOMPARE(f.err.count(QLatin1String("no chip answered at A0 = 0")), 6);
        QVERIFY(f.out.contains(QLatin1String("\"command\":\"set\",\"error\":\"no chip answered")));
        // The silent bus's words replaced no file, and the burn was refused before its general
        // call, which would have reached the other chip.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("old"));
        QVERIFY(f.chip(1).events().isEmpty());
    }

    // Quick commands and pipes get no progress; a slow command on a terminal does, wiped at
    // its end.
    void scanAndSelfTestTellTheCause_data()
    {
        using Dsr = sim::SimulatedBoard::DsrWiring;
        QTest::addColumn<bool>("chip0Present");
        QTest::addColumn<Dsr>("dsr");
        QTest::addColumn<QString>("scan");
        QTest::addColumn<int>("scanStatus");
        QTest::addColumn<int>("selfTestStatus");
        const int ok = exitCode(ExitStatus::Ok);
        const int silent = exitCode(ExitStatus::ChipSilent);
        const int fault = exitCode(ExitStatus::WiringFault);
        const QString none = R"("chips":[{"a0":0,"answered":false},{"a0":1,"answered":false}])";
        QTest::newRow("all fine")
            << true << Dsr::Normal
            << R"("chips":[{"a0":0,"answered":true},{"a0":1,"answered":true}])" << ok << ok;
        QTest::newRow("chip 0 absent")
            << false << Dsr::Normal
            << R"("chips":[{"a0":0,"answered":false},{"a0":1,"answered":true}])" << ok << ok;
        QTest::newRow("no DSR") << true << Dsr::Missing << none << silent << fault;
        // An idle bus reads as SDA held low.
        QTest::newRow("DSR inverted") << true << Dsr::Inverted << R"("cause":"SDA held low")"
                                      << exitCode(ExitStatus::SdaHeld) << fault;
        QTest::newRow("DSR stuck asserted")
            << true << Dsr::StuckAsserted << R"("cause":"SDA held low")"
            << exitCode(ExitStatus::SdaHeld) << fault;
    }

    void scanAndSelfTestTellTheCause()
    {
        QFETCH(bool, chip0Present);
        QFETCH(sim::SimulatedBoard::DsrWiring, dsr);
        QFETCH(QString, scan);
        QFETCH(int, scanStatus);
        QFETCH(int, selfTestStatus);
        CliFixture f;
        f.session.simulatedBoard().setChipPresent(0, chip0Present);
        f.session.simulatedBoard().setDsrWiring(dsr);
        QCOMPARE(f.onSim({"--json", "scan"}), scanStatus);
        QVERIFY2(f.out.contains(scan), qPrintable(f.out));
        QCOMPARE(f.onSim({"selftest"}), selfTestStatus);
        // Neither touched a register of either chip.
        QVERIFY(f.chip(0).events().isEmpty() && f.chip(1).events().isEmpty());
    }

    void burnsTheCodesTheSessionSet()
    {
        CliFixture f;
        // A lone CR ends a line too. The first burn's reset reloads channel 6 from OTP (0), but the
        // second burn takes the 512 this session set.
        const QByteArray burns = "code 5 1023\rcode 6 512\rotp 5 --yes\r\notp 6 --yes";
        const QString bad = f.writeFile("bad.csv", "not a register set");
        const QStringList sim{"--port", "sim", "--a0", "0", "--vsup", "10", "script"};
        QCOMPARE(f.run(sim + QStringList{f.writeFile("bad.txt", burns + "\nload " + bad.toUtf8())}),
                 exitCode(ExitStatus::BadInputFile));
        QVERIFY(f.chip().events().isEmpty()); // the bad file was found before the bus moved

        QCOMPARE(f.run(sim + QStringList{f.writeFile("good.txt", burns)}),
                 exitCode(ExitStatus::Ok));
        QCOMPARE(f.chip().otpCell(0, 4), std::optional<quint16>(1023));
        QCOMPARE(f.chip().otpCell(1, 5), std::optional<quint16>(512));

        // A burn takes the chip's code when the session set none; the read after its reset
        // sees the new bank.
        f.chip().setDacRegister(9, 700);
        f.out.clear();
        QCOMPARE(f.onSim({"--json", "otp", "10", "--yes"}), exitCode(ExitStatus::Ok));
        QCOMPARE(f.chip().otpCell(2, 9), std::optional<quint16>(700));
        QCOMPARE(f.jsonLines().value(0).value("maxBankAfter").toInt(), 3);
    }

    // Every burn reads the max bank first and verifies what it burned; the status says which
    // way it went, and the JSON object gives the max bank before and after and every register
    // that does not hold its code.
    void burnsAreCheckedAndReported_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("json"); // parts of the last object
        QTest::newRow("verified") << "" << QStringList{"code 5 300", "otp 5 --yes"} << 0
                                  << R"("maxBankAfter":1,"maxBankBefore":0,"notHolding":[])";
        QTest::newRow("no bank left")
            << "" << QStringList{"otp-all --yes", "otp-all --yes", "otp-all --yes", "otp 5 --yes"}
            << exitCode(ExitStatus::NoBankLeft)
            << R"("maxBankAfter":null,"maxBankBefore":3,"notHolding":[],"notSent":["5"])";
        QTest::newRow("a cell that does not take the burn")
            << "dead-cell=5" << QStringList{"code 5 300", "otp 5 --yes"}
            << exitCode(ExitStatus::BurnNotVerified)
            << R"("maxBankAfter":1,"maxBankBefore":0,"notHolding":[{"burned":300,"channel":"5","reads":0}])";
        QTest::newRow("a bank that does not close")
            << "bank-stays-open" << QStringList{"otp-all --yes"}
            << exitCode(ExitStatus::BurnNotVerified)
            << R"("maxBankAfter":0,"maxBankBefore":0,"notHolding":[],"notSent":[],"ok":false,"outcome":"not verified")";
        QTest::newRow("SDA held low")
            << "dsr-stuck" << QStringList{"otp-all --yes"} << exitCode(ExitStatus::SdaHeld)
            << R"("cause":"SDA held low")";
    }

    void burnsAreCheckedAndReported()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, script);
        QFETCH(int, exitStatus);
        QFETCH(QString, json);
        CliFixture f;
        QStringList options{"--a0", "0", "--vsup", "10", "--json"};
        if (!fault.isEmpty())
            options << "--sim-fault" << fault;
        QCOMPARE(f.runScript(script, options), exitStatus);
        QVERIFY2(f.out.trimmed().split(u'\n').last().contains(json), qPrintable(f.out));
        QCOMPARE(f.jsonLines().last().value("exitStatus").toInt(), exitStatus);
        // A refused burn sends no OTP write at all.
        if (exitStatus == exitCode(ExitStatus::NoBankLeft) ||
            exitStatus == exitCode(ExitStatus::SdaHeld)) {
            QCOMPARE(f.chip().maxBank(), exitStatus == exitCode(ExitStatus::NoBankLeft) ? 3 : 0);
            QCOMPARE(f.chip().otpCell(0, 4),
                     std::optional<quint16>(exitStatus == exitCode(ExitStatus::SdaHeld)
                                                ? std::nullopt
                                                : std::optional<quint16>(0)));
        }
    }

    // A stop ends play after the file under way: never half a file.
    void aStopEndsPlayAfterTheFile()
    {
        CliFixture f;
        const QString a = f.writeFile("a.csv", registerSet("10", QList<int>(24, 1)));
        int writes = 0;
        f.session.setStopSignal([&f, &writes] {
            writes = int(eventsOf(f.chip()).size());
            return writes >= 30 ? SIGINT : 0;
        });
        QCOMPARE(f.onSim({"--a0", "0", "play", "--loop", "forever", a}),
                 exitCode(ExitStatus::Interrupted));
        QCOMPARE(eventsOf(f.chip()).size() % 24, 0);
        QVERIFY2(f.err.contains("after playing 2 file(s)"), qPrintable(f.err));
    }

    // Every burn is logged; a log that cannot be written stops the burn before the bus moves,
    // unless --no-log.
    void burnsAreLogged()
    {
        CliFixture f;
        QCOMPARE(f.runScript({"code 5 300", "otp 5 --yes", "burns"}, {"--a0", "0", "--vsup", "10"}),
                 exitCode(ExitStatus::Ok));
        QVERIFY2(f.out.contains("COM1 (simulated board)  A0 = 0  verified, max bank 0 -> 1"),
                 qPrintable(f.out));
        QVERIFY(f.out.contains("codes: 5=300"));
        QFile log(f.dir.filePath("burns.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        const QJsonObject entry = QJsonDocument::fromJson(lines.first()).object();
        QCOMPARE(entry.value("maxBankAfter").toInt(), 1);
        QCOMPARE(entry.value("verified").toBool(), true);
        QVERIFY(entry.value("program").toString().startsWith("kalventa-cli "));
        log.close();

        CliFixture g;
        g.writeFile("file", "not a folder");
        g.session.setBurnLogPath(g.dir.filePath("file/burns.log"));
        QCOMPARE(g.runScript({"code 5 300", "otp 5 --yes"}, {"--a0", "0", "--vsup", "10"}),
                 exitCode(ExitStatus::CannotWrite));
        QVERIFY(g.chip().events().isEmpty());
        QCOMPARE(
            g.runScript({"code 5 300", "otp 5 --yes"}, {"--a0", "0", "--vsup", "10", "--no-log"}),
            exitCode(ExitStatus::Ok));
        QCOMPARE(g.chip().maxBank(), 1);
    }

    // The general call has no A0, and a burn's failing read says what it was for.
    void failuresNameWhatFailed()
    {
        CliFixture f;
        f.session.simulatedBoard().setChipPresent(0, false);
        f.session.simulatedBoard().setChipPresent(1, false);
        QCOMPARE(f.onSim({"--a0", "0", "reset"}), exitCode(ExitStatus::ChipSilent));
        QVERIFY2(f.err.contains("no chip acknowledged the general-call reset") &&
                     !f.err.contains("A0"),
                 qPrintable(f.err));
        f.err.clear();
        QCOMPARE(f.onSim({"--a0", "0", "otp", "5", "--yes"}), exitCode(ExitStatus::ChipSilent));
        QVERIFY2(f.err.contains("during the read of the codes to burn") && !f.err.contains("get"),
                 qPrintable(f.err));
    }

    // A run killed in the middle of a read leaves the chip holding SDA: the next run clears the
    // bus when it opens the port, and reads the right code.
    void aStuckChipIsClockedFree()
    {
        CliFixture f;
        f.chip().setDacRegister(0, 341); // the word the chip was sending
        f.chip().setDacRegister(6, 341);
        QCOMPARE(f.onSim({"--json", "--a0", "0", "--vsup", "10", "--sim-fault", "frozen-read",
                          "get", "7"}),
                 exitCode(ExitStatus::Ok));
        QCOMPARE(f.jsonLines().value(0).value("channels")[0].toObject().value("code").toInt(), 341);
    }

    // A signal asks the run to stop: a read stops after the register under way and shows what
    // it read, a burn runs to its end with its report, and the trace is written either way.
    void signalsStopTheRun_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("signal");
        // Stop checks answered before the signal (the run checks before every line, a read before
        // every register, a load before every channel); -1: once the burn is committed.
        QTest::addColumn<int>("checksBeforeTheSignal");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("said");
        QTest::newRow("SIGTERM in a read")
            << QStringList{"read", "code 1 5"} << SIGTERM << 6 << 143
            << "stopped by SIGTERM after reading 5 of the 24 channel registers";
        QTest::newRow("SIGHUP before anything") << QStringList{"code 1 5"} << SIGHUP << 0 << 129
                                                << "stopped by SIGHUP before the first command";
        QTest::newRow("SIGINT in a load") << QStringList{"load LOAD", "get 1"} << SIGINT << 4 << 130
                                          << "stopped by SIGINT after writing channels 1 to 3 of";
        QTest::newRow("SIGINT as the burn begins")
            << QStringList{"code 5 300", "otp-all --yes", "code 1 5"} << SIGINT << -1 << 130
            << "stopped by SIGINT before line 3";
    }

    void signalsStopTheRun()
    {
        QFETCH(QStringList, script);
        QFETCH(int, signal);
        QFETCH(int, checksBeforeTheSignal);
        QFETCH(int, exitStatus);
        QFETCH(QString, said);
        CliFixture f;
        const QString file = f.writeFile("load.csv", registerSet("10", QList<int>(24, 9)));
        script.replaceInStrings(QStringLiteral("LOAD"), file);
        int checks = 0;
        bool burning = false;
        bool burnBegan = false;
        f.session.setStopSignal([&] {
            if (checksBeforeTheSignal < 0)
                return burnBegan ? signal : 0;
            return checks++ >= checksBeforeTheSignal ? signal : 0;
        });
        f.session.setBurningNotice([&](bool on) {
            burning = on;
            burnBegan = burnBegan || on;
        });
        const QString trace = f.dir.filePath("trace.vcd");
        QCOMPARE(f.runScript(script, {"--a0", "0", "--vsup", "10", "--trace", trace}), exitStatus);
        QVERIFY2(f.err.contains(said), qPrintable(f.err));
        QVERIFY(!burning);
        QVERIFY(f.session.simulatedBoard().scl() && f.session.simulatedBoard().sda());
        QVERIFY(QFile::exists(trace));
        // Nothing after the stop reached the chip.
        QVERIFY(!f.chip().events().contains(ChipEvent{ChipEvent::Kind::DacWrite, 0, 5}));
        if (checksBeforeTheSignal == 6) // the rows read so far are shown
            QVERIFY(f.out.contains("      5      0x04") && !f.out.contains("      6      0x05"));
        if (checksBeforeTheSignal < 0) {
            // The whole burn, its reset and its read-back, then its report.
            QCOMPARE(f.chip().otpCell(0, 23), std::optional<quint16>(0));
            QCOMPARE(f.chip().otpCell(0, 4), std::optional<quint16>(300));
            QVERIFY(f.out.contains("verified it"));
        }
    }

    // A port that fails under scan or selftest is a port failure, whatever the chips would say.
    void portFailingUnderAChecks()
    {
        for (const char *command : {"scan", "selftest"}) {
            CliFixture f;
            f.session.simulatedBoard().setChipPresent(0, false);
            f.session.simulatedPort().unplugAfter(8);
            QCOMPARE(f.onSim({QString::fromLatin1(command)}),
                     exitCode(ExitStatus::PortUnavailable));
            QVERIFY2(f.err.contains("the port failed") && f.out.isEmpty(), qPrintable(f.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestCliFailures)
#include "tst_clifailures.moc"
