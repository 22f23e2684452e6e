#include "clifixture.h"

#include <QJsonArray>
#include <QTest>

using cli::ExitStatus;
using sim::ChipEvent;

namespace {

int status(ExitStatus s)
{
    return cli::exitCode(s);
}

QList<ChipEvent> eventsOf(const sim::SimulatedChip &chip, ChipEvent::Kind kind)
{
    QList<ChipEvent> found;
    for (const ChipEvent &e : chip.events()) {
        if (e.kind == kind)
            found.append(e);
    }
    return found;
}

QList<QByteArray> codeLines(int count, const QByteArray &code)
{
    return QList<QByteArray>(count, code);
}

} // namespace

class TestCliSession : public QObject
{
    Q_OBJECT

private slots:
    // Channels, codes and voltages
    void codeThenReadRoundTrip();
    void channelNamesPickRegisters_data();
    void channelNamesPickRegisters();
    void badArgumentsTouchNothing_data();
    void badArgumentsTouchNothing();
    void setClampsAndRounds_data();
    void setClampsAndRounds();

    // Register-set files
    void loadWritesInRegisterOrder();
    void badFileSendsNothing_data();
    void badFileSendsNothing();
    void saveThenLoad();
    void saveToUnwritablePlace();

    // Burning
    void burnUsesTheChipsCodes();

    // Scripts
    void badScriptRunsNothing_data();
    void badScriptRunsNothing();
    void scriptStopsAtFirstFailingLine();
    void scriptSkipsCommentsAndBlankLines();

    // Settings and ports
    void defaultsComeFromStoredSettings();
    void unreadableSettingsNeedOptions();
    void portNotAvailable_data();
    void portNotAvailable();
    void silentChipIsAFailure();
    void portsListsStates();
};

void TestCliSession::codeThenReadRoundTrip()
{
    CliFixture f;
    QCOMPARE(f.runScript({"code 5 1023", "code c1 512", "read"}, {"--vsup", "10", "--json"}),
             status(ExitStatus::Ok));
    const QList<QJsonObject> objects = f.jsonLines();
    QCOMPARE(objects.size(), 3);
    const QJsonObject read = objects[2];
    QCOMPARE(read.value("command").toString(), QStringLiteral("read"));
    QCOMPARE(read.value("maxBank").toInt(), 0);
    const QJsonArray channels = read.value("channels").toArray();
    QCOMPARE(channels.size(), 24);
    // Code 1023 shows 9.99 and 512 shows 5 with a Vsup of 10.
    const QJsonObject five = channels[4].toObject();
    QCOMPARE(five.value("channel").toString(), QStringLiteral("5"));
    QCOMPARE(five.value("code").toInt(), 1023);
    QCOMPARE(five.value("hex").toString(), QStringLiteral("3FF"));
    QCOMPARE(five.value("voltage").toDouble(), 9.99);
    const QJsonObject c1 = channels[18].toObject();
    QCOMPARE(c1.value("channel").toString(), QStringLiteral("c1"));
    QCOMPARE(c1.value("register").toInt(), 0x12);
    QCOMPARE(c1.value("voltage").toDouble(), 5.0);
    // Reading wrote nothing back.
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::DacWrite).size(), 2);
}

void TestCliSession::channelNamesPickRegisters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("reg");
    QTest::newRow("1") << "1" << 0x00;
    QTest::newRow("18") << "18" << 0x11;
    QTest::newRow("c1") << "c1" << 0x12;
    QTest::newRow("C2") << "C2" << 0x13;
    QTest::newRow("19") << "19" << 0x14;
    QTest::newRow("22") << "22" << 0x17;
}

void TestCliSession::channelNamesPickRegisters()
{
    QFETCH(QString, name);
    QFETCH(int, reg);
    CliFixture f;
    QCOMPARE(f.run({"--port", "sim", "--vsup", "10", "code", name, "77"}), status(ExitStatus::Ok));
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::DacWrite),
             QList<ChipEvent>({{ChipEvent::Kind::DacWrite, reg, 77}}));
}

void TestCliSession::badArgumentsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("code above full scale") << QStringList{"code", "5", "1025"};
    QTest::newRow("negative code") << QStringList{"code", "5", "-1"};
    QTest::newRow("fractional code") << QStringList{"code", "5", "12.5"};
    QTest::newRow("code in letters") << QStringList{"code", "5", "abc"};
    QTest::newRow("channel 23") << QStringList{"code", "23", "5"};
    QTest::newRow("channel c3") << QStringList{"get", "c3"};
    QTest::newRow("channel 0") << QStringList{"get", "0"};
    QTest::newRow("voltage with a comma") << QStringList{"set", "5", "1,5"};
    QTest::newRow("missing argument") << QStringList{"set", "5"};
    QTest::newRow("unknown command") << QStringList{"write", "5", "1"};
    QTest::newRow("option after command") << QStringList{"read", "--json"};
    QTest::newRow("A0 of 2") << QStringList{"--a0", "2", "read"};
    QTest::newRow("Vsup of 0") << QStringList{"--vsup", "0", "read"};
    QTest::newRow("port COM17") << QStringList{"--port", "COM17", "read"};
}

void TestCliSession::badArgumentsTouchNothing()
{
    QFETCH(QStringList, arguments);
    CliFixture f;
    const QStringList simulated{"--port", "sim"};
    QCOMPARE(f.run(arguments.first().startsWith(u'-') ? arguments : simulated + arguments),
             status(ExitStatus::Usage));
    QVERIFY(f.chip().events().isEmpty());
    QVERIFY(f.err.startsWith(QLatin1String("kalventa-cli: ")));
    QVERIFY(f.out.isEmpty());
}

void TestCliSession::setClampsAndRounds_data()
{
    QTest::addColumn<QString>("volts");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("onChip");
    QTest::newRow("half scale") << "5" << 512 << 512;
    QTest::newRow("full scale") << "10" << 1024 << 1023;
    QTest::newRow("above Vsup") << "12" << 1024 << 1023;
    QTest::newRow("negative") << "-1" << 0 << 0;
    QTest::newRow("rounds half up") << ".0048828125" << 1 << 1; // half a step above 0 V
    QTest::newRow("just under a step") << ".0048" << 0 << 0;
}

void TestCliSession::setClampsAndRounds()
{
    QFETCH(QString, volts);
    QFETCH(int, code);
    QFETCH(int, onChip);
    CliFixture f;
    QCOMPARE(f.run({"--port", "sim", "--vsup", "10", "--json", "set", "3", volts}),
             status(ExitStatus::Ok));
    QCOMPARE(f.jsonLines().value(0).value("code").toInt(), code);
    QCOMPARE(f.chip().dacRegister(2), quint16(onChip));
}

void TestCliSession::loadWritesInRegisterOrder()
{
    CliFixture f;
    QList<QByteArray> values{"3.3"};
    for (int i = 0; i < 24; ++i)
        values.append(QByteArray::number(i * 40));
    const QString path = f.writeFile("set.csv", values.join("\r\n") + "\r\n");
    QCOMPARE(f.runScript({"load " + path, "read"}, {"--json"}), status(ExitStatus::Ok));

    QList<ChipEvent> expected;
    for (int reg = 0; reg < 24; ++reg)
        expected.append({ChipEvent::Kind::DacWrite, reg, quint16(reg * 40)});
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::DacWrite), expected);
    // The file's Vsup is the one in use afterwards.
    QCOMPARE(f.jsonLines().value(1).value("vsup").toDouble(), 3.3);
}

void TestCliSession::badFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("missing") << QByteArray() << "Cannot read";
    QTest::newRow("24 values") << (codeLines(24, "512").join("\r\n") + "\r\n") << "24 values";
    QTest::newRow("letters") << (QByteArray("10\r\n") + codeLines(23, "512").join("\r\n") +
                                 "\r\nabc\r\n")
                             << "\"abc\" is not a number";
}

void TestCliSession::badFileSendsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, complaint);
    CliFixture f;
    const QString path =
        content.isEmpty() ? f.dir.filePath("none.csv") : f.writeFile("bad.csv", content);
    QCOMPARE(f.run({"--port", "sim", "--vsup", "10", "load", path}),
             status(ExitStatus::BadInputFile));
    QVERIFY2(f.err.contains(complaint), qPrintable(f.err));
    QVERIFY(eventsOf(f.chip(), ChipEvent::Kind::DacWrite).isEmpty());
}

void TestCliSession::saveThenLoad()
{
    CliFixture f;
    for (int reg = 0; reg < 24; ++reg)
        f.chip().setDacRegister(reg, quint16(1023 - reg));
    const QString path = f.dir.filePath("saved.csv");
    QCOMPARE(f.run({"--port", "sim", "--vsup", "2.5", "save", path}), status(ExitStatus::Ok));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> expected{"2.5"};
    for (int reg = 0; reg < 24; ++reg)
        expected.append(QByteArray::number(1023 - reg));
    QCOMPARE(file.readAll(), expected.join("\r\n") + "\r\n");

    CliFixture other; // a fresh board, all zero
    QCOMPARE(other.run({"--port", "sim", "--vsup", "10", "load", path}), status(ExitStatus::Ok));
    for (int reg = 0; reg < 24; ++reg)
        QCOMPARE(other.chip().dacRegister(reg), quint16(1023 - reg));
}

void TestCliSession::saveToUnwritablePlace()
{
    CliFixture f;
    const QString path = f.dir.filePath("no-such-folder/saved.csv");
    QCOMPARE(f.run({"--port", "sim", "--vsup", "10", "save", path}),
             status(ExitStatus::CannotWrite));
    QVERIFY(f.err.contains(QLatin1String("saved.csv")));
    QVERIFY(f.out.isEmpty());
}

void TestCliSession::badScriptRunsNothing_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("where");
    const int refused = status(ExitStatus::BurnRefused);
    const int usage = status(ExitStatus::Usage);
    QTest::newRow("otp without --yes") << QStringList{"otp 5"} << refused << ":1: ";
    QTest::newRow("otp-all without --yes") << QStringList{"otp-all"} << refused << ":1: ";
    QTest::newRow("burn late in the script")
        << QStringList{"code 1 5", "read", "otp-all"} << refused << ":3: ";
    QTest::newRow("ports would close the port")
        << QStringList{"code 1 5", "ports"} << usage << ":2: ";
    QTest::newRow("nested script") << QStringList{"script other.txt"} << usage << ":1: ";
    QTest::newRow("unclosed quote") << QStringList{"read", "load \"a b.csv"} << usage << ":2: ";
    QTest::newRow("bad channel") << QStringList{"code 1 5", "get 23"} << usage << ":2: ";
}

void TestCliSession::badScriptRunsNothing()
{
    QFETCH(QStringList, lines);
    QFETCH(int, exitStatus);
    QFETCH(QString, where);
    CliFixture f;
    QCOMPARE(f.runScript(lines, {"--vsup", "10"}), exitStatus);
    QVERIFY2(f.err.contains(QLatin1String("script.txt") + where), qPrintable(f.err));
    // The script is checked whole before the bus moves.
    QVERIFY(f.chip().events().isEmpty());
    QVERIFY(f.session.simulatedBoard().scl() && f.session.simulatedBoard().sda());
}

void TestCliSession::burnUsesTheChipsCodes()
{
    CliFixture f;
    f.chip().setDacRegister(4, 700);
    QCOMPARE(f.run({"--port", "sim", "--json", "otp", "5", "--yes"}), status(ExitStatus::Ok));
    QCOMPARE(f.chip().otpCell(0, 4), std::optional<quint16>(700));
    QCOMPARE(f.chip().maxBank(), 1);
    QCOMPARE(f.jsonLines().value(0).value("maxBank").toInt(), 1);
    // The general-call reset comes after the burn, then the max bank is read.
    const QList<ChipEvent> &events = f.chip().events();
    QCOMPARE(events.last(), (ChipEvent{ChipEvent::Kind::RegisterRead, 0x3F, 1}));
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::Reset).size(), 1);
}

void TestCliSession::scriptStopsAtFirstFailingLine()
{
    CliFixture f;
    const QString missing = f.dir.filePath("missing.csv");
    QCOMPARE(f.runScript({"code 1 5", "load " + missing, "code 2 6"}, {"--vsup", "10"}),
             status(ExitStatus::BadInputFile));
    QVERIFY2(f.err.contains(QLatin1String("script.txt:2: ")), qPrintable(f.err));
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::DacWrite),
             QList<ChipEvent>({{ChipEvent::Kind::DacWrite, 0, 5}}));
}

void TestCliSession::scriptSkipsCommentsAndBlankLines()
{
    CliFixture f;
    const QString path = f.writeFile("with blank.csv", "10\r\n" + codeLines(24, "9").join("\r\n"));
    QCOMPARE(f.runScript({"# a set-up", "", "   ", "load \"" + path + "\"  # quoted name",
                          "code 3 9 # trailing comment\r"},
                         {"--vsup", "10"}),
             status(ExitStatus::Ok));
    QCOMPARE(eventsOf(f.chip(), ChipEvent::Kind::DacWrite).size(), 25);
}

void TestCliSession::defaultsComeFromStoredSettings()
{
    CliFixture f;
    f.store("a0/1", "1");
    f.store("vref_high0/10", " 10");
    f.store("vref_high1/10", " 3.3");
    f.session.simulatedBoard().chip(1).setDacRegister(0, 512);
    QCOMPARE(f.run({"--port", "sim", "--json", "get", "1"}), status(ExitStatus::Ok));
    const QJsonObject json = f.jsonLines().value(0);
    QCOMPARE(json.value("a0").toInt(), 1);
    QCOMPARE(json.value("vsup").toDouble(), 3.3);
    QCOMPARE(json.value("voltage").toDouble(), 1.65);
    QVERIFY(f.chip(0).events().isEmpty());
}

void TestCliSession::unreadableSettingsNeedOptions()
{
    CliFixture f;
    f.store("PortNumb/2", "99999"); // does not fit the port number
    QCOMPARE(f.run({"--port", "sim", "read"}), status(ExitStatus::SettingsUnreadable));
    QVERIFY(f.chip().events().isEmpty());

    CliFixture g;
    g.store("PortNumb/2", "99999");
    QCOMPARE(g.run({"--port", "sim", "--a0", "0", "--vsup", "10", "read"}), status(ExitStatus::Ok));
}

void TestCliSession::portNotAvailable_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");
    QTest::newRow("nothing stored") << QStringList{"--vsup", "10", "read"} << "--port";
    QTest::newRow("absent COM3") << QStringList{"--port", "COM3", "--vsup", "10", "read"} << "COM3";
    QTest::newRow("absent device")
        << QStringList{"--port", "/nonexistent/ttyUSB9", "--vsup", "10", "read"}
        << "/nonexistent/ttyUSB9";
}

void TestCliSession::portNotAvailable()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    CliFixture f;
    const QString trace = f.dir.filePath("trace.vcd");
    QCOMPARE(f.run(QStringList{"--trace", trace} + arguments), status(ExitStatus::PortUnavailable));
    QVERIFY2(f.err.contains(named), qPrintable(f.err));
    QVERIFY(f.out.isEmpty());
    QVERIFY(!QFile::exists(trace));
}

void TestCliSession::silentChipIsAFailure()
{
    CliFixture f;
    f.session.simulatedBoard().setChipPresent(0, false);
    const QString path = f.writeFile("keep.csv", "old");
    QCOMPARE(f.run({"--port", "sim", "--vsup", "10", "read"}), status(ExitStatus::ChipSilent));
    QVERIFY(f.err.contains(QLatin1String("65535")));

    CliFixture g;
    g.session.simulatedBoard().setChipPresent(0, false);
    QCOMPARE(g.run({"--port", "sim", "--vsup", "10", "save", path}),
             status(ExitStatus::ChipSilent));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old")); // not replaced by a silent bus

    CliFixture h;
    h.session.simulatedBoard().setChipPresent(0, false);
    QCOMPARE(h.run({"--port", "sim", "otp-all", "--yes"}), status(ExitStatus::ChipSilent));
    // Refused before the burn: the general call would have reached the other chip.
    QVERIFY(eventsOf(h.chip(1), ChipEvent::Kind::Reset).isEmpty());
}

void TestCliSession::portsListsStates()
{
    CliFixture f;
    QCOMPARE(f.run({"--port", "sim", "--json", "ports"}), status(ExitStatus::Ok));
    const QJsonArray ports = f.jsonLines().value(0).value("ports").toArray();
    QCOMPARE(ports.size(), 16);
    const QJsonObject first = ports[0].toObject();
    QCOMPARE(first.value("name").toString(), QStringLiteral("COM1"));
    QCOMPARE(first.value("state").toString(), QStringLiteral("present"));
    QVERIFY(first.value("selected").toBool());
    const QJsonObject fifth = ports[4].toObject();
    QCOMPARE(fifth.value("state").toString(), QStringLiteral("absent"));
    QCOMPARE(fifth.value("device").toString(), f.dir.filePath("no-tty5"));
    QVERIFY(!fifth.value("selected").toBool());
}

QTEST_GUILESS_MAIN(TestCliSession)
#include "tst_clisession.moc"
