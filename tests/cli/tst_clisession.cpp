// SPDX-License-Identifier: MIT
#include "clifixture.h"

#include <QRegularExpression>

class TestCliSession : public QObject
{
    Q_OBJECT

private slots:
    void writeThenRead()
    {
        CliFixture f;
        // Codes by every kind of channel name; voltages at half scale, full scale (shown as 1024,
        // sent as 1023), above Vsup, below 0, half a step above 0 V (rounded up) and just under it.
        const QString trace = f.dir.filePath("trace.vcd");
        QCOMPARE(f.runScript({"code 5 1023", "code c1 512", "code C2 3", "code 18 4", "code 19 5",
                              "code 22 6", "set 1 5", "set 2 10", "set 3 12", "set 4 -1",
                              "set 6 .0048828125", "set 7 .0048", "read"},
                             {"--vsup", "10", "--json", "--trace", trace}),
                 exitCode(ExitStatus::Ok));
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly) &&
                file.readAll().contains("$var wire 1 ! SCL $end"));
        const ChipEvent::Kind dac = ChipEvent::Kind::DacWrite;
        const QList<ChipEvent> expected{{dac, 4, 1023}, {dac, 0x12, 512}, {dac, 0x13, 3},
                                        {dac, 0x11, 4}, {dac, 0x14, 5},   {dac, 0x17, 6},
                                        {dac, 0, 512},  {dac, 1, 1023},   {dac, 2, 1023},
                                        {dac, 3, 0},    {dac, 5, 1},      {dac, 6, 0}};
        QCOMPARE(eventsOf(f.chip()), expected); // and reading wrote nothing back

        const QList<QJsonObject> objects = f.jsonLines();
        QCOMPARE(objects.size(), 13);
        // Full scale, though sent as 1023.
        QCOMPARE(compact(objects[7].value("channels").toArray().first()),
                 R"({"channel":"2","code":1024,"file":null,"hex":"400","index":2,"readBack":null,)"
                 R"("register":1,"sent":1023,"voltage":10})");
        QJsonObject read = objects.last();
        const QJsonArray channels = read.take("channels").toArray();
        QCOMPARE(compact(read), R"({"a0":0,"command":"read","error":null,"exitStatus":0,)"
                                R"("line":13,"maxBank":0,"ok":true,"schema":1,"stoppedBy":null,)"
                                R"("vsup":10})");
        QCOMPARE(channels.size(), 24);
        // Voltages as shown: truncated, not rounded.
        QCOMPARE(compact(channels[4]),
                 R"({"channel":"5","code":1023,"file":null,"hex":"3FF","index":5,"readBack":null,)"
                 R"("register":4,"sent":null,"voltage":9.99})");
        QCOMPARE(compact(channels[18]),
                 R"({"channel":"c1","code":512,"file":null,"hex":"200","index":19,)"
                 R"("readBack":null,"register":18,"sent":null,"voltage":5})");
    }

    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QStringList>("script"); // run as "script FILE" when given
        QTest::addColumn<bool>("refused");       // before the bus moved
        // Arguments that do not start with an option run on the simulated board.
        const auto row = [](const char *name, QStringList arguments, ExitStatus exit,
                            const QString &named = {}, const QStringList &script = {}) {
            if (!arguments.first().startsWith(u'-'))
                arguments = QStringList{"--port", "sim"} + arguments;
            QTest::newRow(name) << arguments << exitCode(exit) << named << script << true;
        };
        const ExitStatus usage = ExitStatus::Usage;
        row("code above full scale", {"code", "5", "1025"}, usage);
        row("fractional code", {"code", "5", "12.5"}, usage);
        row("channel 23", {"code", "23", "5"}, usage);
        row("voltage with a comma", {"set", "5", "1,5"}, usage);
        row("missing argument", {"set", "5"}, usage);
        row("unknown command", {"write", "5", "1"}, usage);
        row("option after command", {"read", "--json"}, usage, "go before the command");
        row("A0 of 2", {"--a0", "2", "read"}, usage);
        row("Vsup of 0", {"--vsup", "0", "read"}, usage);
        row("port COM17", {"--port", "COM17", "read"}, usage);
        row("no port stored", {"--vsup", "10", "read"}, ExitStatus::PortUnavailable, "--port");
        row("absent COM3", {"--port", "COM3", "--vsup", "10", "read"}, ExitStatus::PortUnavailable,
            "COM3");
        row("absent device, named as given",
            {"--port", "/nonexistent/ttyUSB9", "--vsup", "10", "read"}, ExitStatus::PortUnavailable,
            "kalventa-cli: /nonexistent/ttyUSB9 is not");
        row("slow board without a unit", {"--port", "sim:5", "read"}, usage, "1ms");
        row("unknown fault", {"--sim-fault", "gremlins", "read"}, usage, "dsr-stuck");
        row("fault of a real port", {"--port", "COM3", "--sim-fault", "dsr-stuck", "read"}, usage,
            "--port sim");
        // A script is checked whole before the bus moves.
        row("otp without --yes", {"script"}, ExitStatus::BurnRefused, "script.txt:1: ", {"otp 5"});
        row("burn late in the script", {"script"}, ExitStatus::BurnRefused,
            "script.txt:3: ", {"code 1 5", "read", "otp-all"});
        row("ports would close the port", {"script"}, usage,
            "script.txt:2: ", {"code 1 5", "ports"});
        row("nested script", {"script"}, usage, "script.txt:1: ", {"script other.txt"});
        row("unclosed quote", {"script"}, usage, "script.txt:2: ", {"read", "load \"a b.csv"});
        row("bad channel", {"script"}, usage, "script.txt:2: ", {"code 1 5", "get 23"});
        row("an option twice", {"--a0", "0", "--a0", "1", "read"}, usage, "--a0 is given twice");
        row("virtual FT232R without fast mode", {"--port", "sim-ft232r", "--fast-mode=off", "read"},
            usage, "only fast mode");
        row("skipping neither on nor off", {"--skip-idle-writes=maybe", "read"}, usage, "auto");
        row("a loop of no passes", {"play", "--loop", "0", "a.csv"}, usage, "forever");
        row("save into a missing folder", {"--vsup", "10", "script"}, ExitStatus::CannotWrite,
            "script.txt:2: cannot save to", {"code 1 5", "save /nonexistent/folder/x.csv"});
        row("play of a missing file", {"script"}, ExitStatus::BadInputFile,
            "script.txt:2: ", {"code 1 5", "play gone.csv"});
        row("Vsup unknown", {"--port", "sim", "--a0", "0", "script"},
            ExitStatus::SettingsUnreadable, "script.txt:2: set needs the board's Vsup",
            {"code 1 5", "set 5 1"});
        // Runs that reach the port; a failure in JSON is reported on standard output.
        const auto ran = [](const char *name, const QString &arguments, int exit,
                            const char *said) {
            QTest::newRow(name) << ("--port sim --a0 0 " + arguments).split(u' ') << exit
                                << QString::fromLatin1(said) << QStringList() << false;
        };
        ran("leading zero", "--vsup 10 code 5 51", 0, "0.498 V");
        ran("upper-case command", "--vsup 10 GET 5", 0, "Channel 5");
        ran("leading zeros in a code", "--vsup 10 code 5 01023", 0, "code 1023");
        ran("JSON failure", "--vsup 10 --json code 5 2000", 2, "\"exitStatus\":2");
        ran("absurd Vsup saturates", "--vsup 1e308 set 5 1e308", 0, "sent as 1023");
        ran("trace of no bus work", "ports", 0, "no trace was written");
        ran("hex code by register", "--vsup 10 code 0x17 0x3FF", 0,
            "Channel 22 (register 0x17): wrote code 1023");
        ran("help as a command", "help", 0, "Usage: kalventa-cli");
        ran("no Vsup, no voltage", "get 5", 0, "Vsup is unknown");
    }

    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitStatus);
        QFETCH(QString, said);
        QFETCH(QStringList, script);
        QFETCH(bool, refused);
        CliFixture f;
        if (!script.isEmpty())
            arguments.append(f.writeFile("script.txt", script.join(u'\n').toUtf8()));
        const QString trace = f.dir.filePath("trace.vcd");
        QCOMPARE(f.run(QStringList{"--trace", trace} + arguments), exitStatus);
        QVERIFY2((f.out + f.err).contains(said), qPrintable(f.out + f.err));
        if (!refused)
            return;
        QVERIFY2(f.err.startsWith(QLatin1String("kalventa-cli: ")), qPrintable(f.err));
        QVERIFY(f.out.isEmpty() && f.chip().events().isEmpty() && !QFile::exists(trace));
        QVERIFY(f.session.simulatedBoard().scl() && f.session.simulatedBoard().sda());
    }

    void saveThenLoad()
    {
        CliFixture f;
        QList<int> codes;
        QList<ChipEvent> expected;
        for (int reg = 0; reg < 24; ++reg) {
            codes.append(1023 - reg * 40);
            f.chip().setDacRegister(reg, quint16(codes.last()));
            expected.append({ChipEvent::Kind::DacWrite, reg, quint16(codes.last())});
        }
        const QString unwritable = f.dir.filePath("no-such-folder/saved.csv");
        QCOMPARE(f.onSim({"--vsup", "2.5", "save", unwritable}), exitCode(ExitStatus::CannotWrite));
        QVERIFY2(f.err.contains(QLatin1String("no-such-folder")) && f.out.isEmpty(),
                 qPrintable(f.err));

        const QString path = f.dir.filePath("saved.csv");
        QCOMPARE(f.onSim({"--vsup", "2.5", "save", path}), exitCode(ExitStatus::Ok));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), registerSet("2.5", codes));

        CliFixture other; // a fresh board, all zero
        QCOMPARE(other.runScript({"load " + path, "read"}, {"--vsup", "10", "--json"}),
                 exitCode(ExitStatus::Ok));
        QCOMPARE(eventsOf(other.chip()), expected); // in register order
        // The file's Vsup in use.
        QCOMPARE(other.jsonLines().value(1).value("vsup").toDouble(), 2.5);
    }

    void scriptStopsAtFirstFailingLine()
    {
        CliFixture f;
        const QString path = f.writeFile("with blank.csv", registerSet("10", QList<int>(24, 9)));
        const QString missing = f.dir.filePath("missing.csv");
        // Comments and blank lines are skipped, but counted.
        QCOMPARE(f.runScript({"# a set-up", "", "   ", "load \"" + path + "\"  # quoted name",
                              "code 3 8 # trailing comment\r", "load " + missing, "code 2 6"},
                             {"--vsup", "10"}),
                 exitCode(ExitStatus::BadInputFile));
        QVERIFY2(f.err.contains(QLatin1String("script.txt:6: Cannot read")), qPrintable(f.err));
        QVERIFY(f.chip().events().isEmpty()); // every file was checked before the bus moved

        // A FIFO would block the tool for good: as a script or a trace it is refused and left
        // alone.
        const QString fifo = f.dir.filePath("fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QCOMPARE(f.onSim({"script", fifo}), exitCode(ExitStatus::BadInputFile));
        QCOMPARE(f.onSim({"--a0", "0", "--vsup", "10", "--trace", fifo, "code", "5", "1"}),
                 exitCode(ExitStatus::CannotWrite));
        QVERIFY(f.chip().events().isEmpty());
        struct stat info = {};
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode));

        f.out.clear();
        QCOMPARE(f.onSim({"--json", "ports"}), exitCode(ExitStatus::Ok));
        const QJsonArray ports = f.jsonLines().value(0).value("ports").toArray();
        QCOMPARE(ports.size(), 16);
        QCOMPARE(compact(ports[0]), R"({"description":"simulated evaluation board",)"
                                    R"x("device":"(simulated)","name":"COM1","selected":true,)x"
                                    R"("state":"present"})");
        QCOMPARE(ports[4].toObject().value("device").toString(), f.dir.filePath("no-tty5"));
        QCOMPARE(ports[4].toObject().value("state").toString(), QStringLiteral("absent"));
        QVERIFY(!ports[4].toObject().value("selected").toBool());
    }

    // A port the user may not open is listed with what to do about it; without one, no advice.
    void portsTellHowToGainAccess()
    {
        CliFixture f;
        QCOMPARE(f.onSim({"ports"}), exitCode(ExitStatus::Ok));
        QVERIFY2(!f.out.contains("dialout"), qPrintable(f.out));

        f.out.clear();
        f.session.simulatedPort().setPresence(port::OpenResult::NoPermission);
        QCOMPARE(f.onSim({"ports"}), exitCode(ExitStatus::Ok));
        QVERIFY2(f.out.contains(QRegularExpression("\\nCOM1\\* +\\(simulated\\) +no permission")),
                 qPrintable(f.out));
        QVERIFY2(f.out.endsWith("add it to the dialout group (sudo adduser $USER dialout) and log "
                                "in again.\n"),
                 qPrintable(f.out));
    }

    void settings()
    {
        CliFixture f;
        f.store({{"a0/1", "1"}, {"vref_high0/10", " 10"}, {"vref_high1/10", " 3.3"}});
        f.chip(1).setDacRegister(0, 512);
        QCOMPARE(f.onSim({"--json", "get", "1"}), exitCode(ExitStatus::Ok));
        const QJsonObject got = f.jsonLines().value(0);
        QCOMPARE(got.value("a0").toInt(-1), 1);
        QCOMPARE(got.value("vsup").toDouble(), 3.3);
        QCOMPARE(compact(got.value("channels").toArray().first()),
                 R"({"channel":"1","code":512,"file":null,"hex":"200","index":1,"readBack":null,)"
                 R"("register":0,"sent":null,"voltage":1.65})");
        QVERIFY(f.chip(0).events().isEmpty());

        f.store({{"PortNumb/2", "99999"}}); // does not fit the port number
        f.chip(1).clearEvents();
        QCOMPARE(f.onSim({"read"}), exitCode(ExitStatus::SettingsUnreadable));
        QVERIFY(f.chip(0).events().isEmpty() && f.chip(1).events().isEmpty());
        QCOMPARE(f.onSim({"--a0", "0", "--vsup", "10", "read"}), exitCode(ExitStatus::Ok));
    }

    void progressShowsOnlyWhenSlowOnATerminal()
    {
        for (const bool terminal : {true, false}) {
            QString text;
            QTextStream err(&text);
            qint64 now = 0;
            cli::ProgressLine progress(err, terminal, [&now] { return now; });
            progress.begin(QStringLiteral("read"));
            progress.progressed(1, 25);
            now = 1000;
            progress.progressed(2, 25);
            now = 1050;
            progress.progressed(3, 25); // too soon after the last
            progress.progressed(25, 25);
            progress.end();
            QCOMPARE(text, terminal
                               ? QStringLiteral("\r\x1b[Kread: 2/25\r\x1b[Kread: 25/25\r\x1b[K")
                               : QString());
        }
    }

    // A line acts on the file as the lines before it left it, and a file saved by an earlier
    // line may be loaded by a later one.
    void aScriptActsOnFilesAsTheyAreWhenItsLineRuns()
    {
        CliFixture f;
        const QString old = f.writeFile("b.csv", registerSet("10", QList<int>(24, 100)));
        QCOMPARE(
            f.runScript({"code 1 777", "save " + old, "code 1 5", "load " + old, "get 1",
                         "save " + f.dir.filePath("new.csv"), "load " + f.dir.filePath("new.csv")},
                        {"--vsup", "10"}),
            exitCode(ExitStatus::Ok));
        QVERIFY2(f.out.contains("Channel 1 (register 0x00): code 777"), qPrintable(f.out));
        QCOMPARE(f.chip().dacRegister(0), 777);
    }

    // The same file through the window's Load and the tool's load leaves the same codes.
    void loadLeavesWhatTheWindowLeaves()
    {
        const QList<double> values{512.7, -5, 2000, 1024, 3.49, 0.5, 1023, 0, 511.5, 7, 1e6, -0.2};
        QByteArray bytes = "3.3\r\n";
        for (int i = 0; i < 24; ++i)
            bytes += QByteArray::number(values.at(i % values.size())) + "\r\n";
        CliFixture f;
        const QString path = f.writeFile("odd.csv", bytes);
        QCOMPARE(f.onSim({"--a0", "0", "--vsup", "10", "load", path}), exitCode(ExitStatus::Ok));

        stack::PortRouting routing;
        routing.simulate = true;
        stack::BusStack window(routing);
        QVERIFY(window.ports().fncInitializeComPort(9600, 1));
        control::ChipOperations operations(window.chip(), window.ports());
        device::DeviceModel model;
        control::RegisterGrid grid(model, operations);
        QString error;
        grid.loadRegisterSet(*device::readRegisterSetFile(path, &error));
        for (int reg = 0; reg < 24; ++reg)
            QCOMPARE(f.chip().dacRegister(reg), window.board().chip(0).dacRegister(reg));
        QCOMPARE(f.chip().dacRegister(0), 513);
    }

    void verifyListsEveryDifference()
    {
        CliFixture f;
        const QString path = f.writeFile("golden.csv", registerSet("10", QList<int>(24, 300)));
        QCOMPARE(f.onSim({"--a0", "0", "--vsup", "10", "--json", "load", path, "--verify"}),
                 exitCode(ExitStatus::Ok));
        const QJsonObject loaded = f.jsonLines().value(0);
        QCOMPARE(loaded.value("verified").toBool(), true);
        QCOMPARE(loaded.value("channels")[23].toObject().value("readBack").toInt(), 300);
        f.chip().setDacRegister(4, 301);
        f.chip().setDacRegister(19, 0);
        f.out.clear();
        QCOMPARE(f.onSim({"--a0", "0", "--json", "verify", path}), exitCode(ExitStatus::Differs));
        QCOMPARE(f.jsonLines().value(0).value("differing").toArray(), (QJsonArray{"5", "c2"}));
        QVERIFY2(f.err.contains("channel 5 (register 0x04): chip 0x12D (2.939 V), file 0x12C "
                                "(2.929 V)"),
                 qPrintable(f.err));
        QCOMPARE(f.onSim({"--a0", "0", "verify", path + ".none"}),
                 exitCode(ExitStatus::BadInputFile));
    }

    // The port's choices in "COM Setting" hold for the tool, unless its options say otherwise.
    void portModesAreTheRememberedOnes_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("skip"); // -1: the default, else 0 or 1
        QTest::addColumn<bool>("fast");
        QTest::newRow("remembered") << QStringList() << 0 << true;
        QTest::newRow("skipping on") << QStringList{"--skip-idle-writes=on"} << 1 << true;
        QTest::newRow("skipping auto") << QStringList{"--skip-idle-writes=auto"} << -1 << true;
        QTest::newRow("fast mode off") << QStringList{"--fast-mode=off"} << 0 << false;
    }

    void portModesAreTheRememberedOnes()
    {
        QFETCH(QStringList, options);
        QFETCH(int, skip);
        QFETCH(bool, fast);
        CliFixture f;
        f.store({{"SkipIdleWrites/COM5", "0"}, {"FastMode/COM5", "1"}});
        f.run(QStringList{"--port", "COM5", "--a0", "0", "--vsup", "10"} + options +
              QStringList{"read"});
        const port::PortTarget target = f.session.busStack().portMap().target(5);
        QCOMPARE(target.skipIdleWrites.has_value(), skip >= 0);
        if (skip >= 0)
            QCOMPARE(*target.skipIdleWrites, skip == 1);
        QCOMPARE(target.fastMode, fast);
    }

    // The batch runner from the command line: a folder's files in the window's order, each one
    // whole and followed by the marker block, pass after pass.
    void playRunsTheFolder()
    {
        CliFixture f;
        QDir(f.dir.path()).mkdir("sets");
        f.writeFile("sets/B.csv", registerSet("10", QList<int>(24, 2)));
        f.writeFile("sets/a.csv", registerSet("10", QList<int>(24, 1)));
        f.writeFile("sets/c.csv", registerSet("10", QList<int>(24, 3)));
        QCOMPARE(f.onSim({"--a0", "0", "--json", "play", "--loop", "2", "--delay", "0.01",
                          f.dir.filePath("sets")}),
                 exitCode(ExitStatus::Ok));
        const QList<ChipEvent> events = eventsOf(f.chip());
        QCOMPARE(events.size(), 6 * 24);
        for (int file = 0; file < 6; ++file)
            QCOMPARE(events.at(file * 24 + 23).value, file % 3 + 1);
        QCOMPARE(f.session.simulatedBoard().dataWritten().size(), 6 * 4);
        const QJsonObject json = f.jsonLines().value(0);
        QCOMPARE(json.value("filesPlayed").toInt(), 6);
        QCOMPARE(json.value("passesDone").toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCliSession)
#include "tst_clisession.moc"
