#include "cli/clisession.h"

#include "device/bitstrings.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"
#include "device/settingsstore.h"
#include "version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>

namespace cli {

namespace {

using device::channelCount;
using Kind = Command::Kind;

const QString programName = QStringLiteral("kalventa-cli");

// A bus on which nothing answers reads every bit released.
constexpr int silentWord = 0xFFFF;
constexpr int largestCode = 1023;

// A script is a short list of commands; anything this large is not one.
constexpr qint64 maxScriptBytes = 1 << 20;

QString hexRegister(int index)
{
    return QStringLiteral("0x") +
           QString::number(device::registerOfChannel(index), 16).toUpper().rightJustified(2, u'0');
}

QString trimmedVoltage(double volts)
{
    return device::shownVoltage(volts).trimmed();
}

QString numberWithoutBlank(double value)
{
    return device::numberText(value).trimmed();
}

QString stateWord(port::OpenResult result)
{
    switch (result) {
    case port::OpenResult::Opened:
        return QStringLiteral("present");
    case port::OpenResult::Busy:
        return QStringLiteral("busy");
    case port::OpenResult::NoPermission:
        return QStringLiteral("no permission");
    case port::OpenResult::NotPresent:
        return QStringLiteral("absent");
    case port::OpenResult::Failed:
        break;
    }
    return QStringLiteral("unusable");
}

QString dialoutHint()
{
    return QStringLiteral("Your user needs access to serial devices: on Debian, add it to the "
                          "dialout group (sudo adduser $USER dialout) and log in again.");
}

} // namespace

CliSession::CliSession(device::SettingsStore &settings, QTextStream &out, QTextStream &err)
    : m_settings(settings), m_out(out), m_err(err)
{
    port::PortManager &ports = m_stack.ports();
    ports.setYieldFunction([] {});
    QObject::connect(&ports, &port::PortManager::portFailed, &ports,
                     [this](int, const QString &reason) { m_portFailure = reason; });
}

CliSession::~CliSession() = default;

int CliSession::run(const QStringList &arguments)
{
    const ExitStatus status = runArguments(arguments);
    m_out.flush();
    m_err.flush();
    return exitCode(status);
}

QString CliSession::helpText()
{
    return QStringLiteral(
        "Usage: kalventa-cli [options] COMMAND [ARGUMENTS]\n"
        "Reads and writes a KALVENTA 24-channel DAC on its evaluation board, over I2C on a\n"
        "serial port's modem-control lines.\n"
        "\n"
        "Options (before the command):\n"
        "  --port COMn|PATH|sim  the port: COM1 to COM16, a device path (for example\n"
        "                        /dev/serial/by-id/...), or sim for a simulated board\n"
        "                        (default: the port stored by the KALVENTA program)\n"
        "  --a0 0|1              the chip's A0 pin (default: the stored A0)\n"
        "  --vsup VOLTS          the full-scale voltage (default: the Vsup stored for that A0)\n"
        "  --trace FILE.vcd      record the bus as a VCD file (SCL, SDA, DTR, RTS, DSR)\n"
        "  --json                one JSON object per command on standard output\n"
        "  -h, --help            show this help\n"
        "  -v, --version         show the version\n"
        "\n"
        "Commands:\n"
        "  ports                 COM1 to COM16 with device, description and state\n"
        "  read                  all 24 channels and the max bank\n"
        "  get CH                one channel\n"
        "  code CH N             write code N, 0 to 1024 (1024 = full scale, sent as 1023)\n"
        "  set CH VOLTS          write the code of a voltage, clamped to 0..Vsup\n"
        "  load FILE             write the 24 codes of a register-set file (checked first);\n"
        "                        its Vsup becomes the one in use for the commands after it\n"
        "  save FILE             read the chip and save Vsup and the 24 codes to FILE\n"
        "  reset                 send the I2C general-call reset\n"
        "  otp CH --yes          burn the channel's present code into OTP memory, then reset\n"
        "                        and read the max bank\n"
        "  otp-all --yes         the same for all 24 channels\n"
        "  script FILE|-         run one command per line (blank lines and # comments are\n"
        "                        skipped) on one open port; all lines are checked first,\n"
        "                        and the first failing line stops the script\n"
        "\n"
        "CH is a channel's name on screen: 1 to 22, c1 or c2 (c1 and c2 lie between 18 and\n"
        "19 in register order). Reading never writes the chip. Settings are only read.\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  2  usage: unknown command or option, bad argument or channel name\n"
        "  3  a register-set or script file is missing, unreadable or malformed\n"
        "  4  the port is not available (absent, busy, no permission) or failed in use\n"
        "  5  a burn was refused: otp and otp-all need --yes\n"
        "  6  the file of save or --trace cannot be written\n"
        "  7  the settings cannot be read and an option was left to them\n"
        "  8  the chip did not answer (a register read 65535), or it holds no 10-bit\n"
        "     code to burn\n");
}

ExitStatus CliSession::runArguments(const QStringList &arguments)
{
    QList<ScriptLine> commands;
    ExitStatus status = takeOptions(arguments, &commands);
    if (status != ExitStatus::Ok || commands.isEmpty())
        return status;

    const bool usesBus = std::any_of(commands.cbegin(), commands.cend(),
                                     [](const ScriptLine &l) { return l.command.usesBus(); });
    status = applySettings(usesBus);
    if (status != ExitStatus::Ok)
        return status;
    if (usesBus) {
        status = prepareBus();
        if (status == ExitStatus::Ok)
            status = openPort();
        if (status != ExitStatus::Ok)
            return finishTrace(status);
    }

    const bool inScript = commands.size() > 1 || commands.first().line > 0;
    for (const ScriptLine &entry : std::as_const(commands)) {
        if (inScript)
            m_context = QStringLiteral("%1:%2: ").arg(m_scriptName).arg(entry.line);
        status = execute(entry.command);
        if (status != ExitStatus::Ok)
            break;
    }
    return finishTrace(status);
}

// Options, then the command; a script is read and checked whole before anything runs.
ExitStatus CliSession::takeOptions(const QStringList &arguments, QList<ScriptLine> *commands)
{
    QCommandLineParser parser;
    // Everything after the command's name is its own: "set 5 -1" is a negative voltage.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption a0Option(QStringLiteral("a0"), QString(), QStringLiteral("a0"));
    const QCommandLineOption vsupOption(QStringLiteral("vsup"), QString(), QStringLiteral("volts"));
    const QCommandLineOption traceOption(QStringLiteral("trace"), QString(),
                                         QStringLiteral("file"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions(
        {portOption, a0Option, vsupOption, traceOption, jsonOption, helpOption, versionOption});

    if (!parser.parse(arguments))
        return fail(ExitStatus::Usage, parser.errorText());
    if (parser.isSet(helpOption)) {
        m_out << helpText();
        return ExitStatus::Ok;
    }
    if (parser.isSet(versionOption)) {
        m_out << programName
              << QStringLiteral(" %1.%2.%3\n")
                     .arg(version::major)
                     .arg(version::minor)
                     .arg(version::revision);
        return ExitStatus::Ok;
    }
    m_json = parser.isSet(jsonOption);

    if (parser.isSet(portOption)) {
        const QString text = parser.value(portOption);
        static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,5})$"),
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = comName.match(text);
        if (text.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0) {
            m_portChoice.kind = PortChoice::Kind::Simulated;
        } else if (match.hasMatch()) {
            m_portChoice.kind = PortChoice::Kind::Number;
            m_portChoice.number = match.captured(1).toInt();
            if (!port::PortMap::isPortNumber(m_portChoice.number))
                return fail(ExitStatus::Usage, QStringLiteral("--port: %1 is outside COM1 to "
                                                              "COM16")
                                                   .arg(text));
        } else if (text.contains(u'/') || text.contains(u'\\')) {
            m_portChoice.kind = PortChoice::Kind::Device;
            m_portChoice.devicePath = text;
        } else {
            return fail(ExitStatus::Usage,
                        QStringLiteral("--port: \"%1\" is neither COM1 to COM16, a device path "
                                       "nor sim")
                            .arg(text));
        }
    }
    if (parser.isSet(a0Option)) {
        const QString text = parser.value(a0Option);
        if (text != QLatin1String("0") && text != QLatin1String("1"))
            return fail(ExitStatus::Usage, QStringLiteral("--a0: \"%1\" is not 0 or 1").arg(text));
        m_a0Option = text;
    }
    if (parser.isSet(vsupOption)) {
        const QString text = parser.value(vsupOption);
        static const QRegularExpression number(
            QStringLiteral("^[+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
        bool ok = false;
        const double volts = text.toDouble(&ok);
        if (!number.match(text).hasMatch() || !ok || !std::isfinite(volts) || volts <= 0) {
            return fail(ExitStatus::Usage,
                        QStringLiteral("--vsup: \"%1\" is not a voltage above 0").arg(text));
        }
        m_vsupOption = volts;
    }
    m_tracePath = parser.value(traceOption);
    if (parser.isSet(traceOption) && m_tracePath.isEmpty())
        return fail(ExitStatus::Usage, QStringLiteral("--trace: no file name given"));

    const ParsedCommand parsed = parseCommand(parser.positionalArguments());
    if (!parsed.command) {
        if (parsed.status == ExitStatus::Usage && parser.positionalArguments().isEmpty())
            return fail(ExitStatus::Usage, parsed.error + QStringLiteral("; see --help"));
        return fail(parsed.status, parsed.error);
    }
    if (parsed.command->kind == Kind::Script)
        return readScript(parsed.command->path, commands);
    commands->append({0, *parsed.command});
    return ExitStatus::Ok;
}

ExitStatus CliSession::readScript(const QString &path, QList<ScriptLine> *commands)
{
    const bool fromInput = path == QLatin1String("-");
    const QString name = fromInput ? QStringLiteral("<stdin>") : QDir::toNativeSeparators(path);
    QFile file(path);
    QIODevice *device = fromInput ? m_input : &file;
    if (fromInput && !device)
        return fail(ExitStatus::BadInputFile, QStringLiteral("no standard input to read"));
    if (!fromInput && !file.open(QIODevice::ReadOnly)) {
        return fail(ExitStatus::BadInputFile,
                    QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    }
    const QByteArray bytes = device->read(maxScriptBytes + 1);
    if (bytes.size() > maxScriptBytes) {
        return fail(ExitStatus::BadInputFile,
                    QStringLiteral("%1 is larger than %2 bytes: not a script")
                        .arg(name)
                        .arg(maxScriptBytes));
    }

    const QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int line = int(i + 1);
        QString text = lines.at(i);
        if (text.endsWith(u'\r'))
            text.chop(1);
        const QString where = QStringLiteral("%1:%2: ").arg(name).arg(line);
        QString error;
        const std::optional<QStringList> words = splitScriptLine(text, &error);
        if (!words)
            return fail(ExitStatus::Usage, where + error);
        if (words->isEmpty())
            continue;
        const ParsedCommand parsed = parseCommand(*words);
        if (!parsed.command)
            return fail(parsed.status, where + parsed.error);
        if (parsed.command->kind == Kind::Script || parsed.command->kind == Kind::Ports) {
            return fail(ExitStatus::Usage,
                        where +
                            QStringLiteral("%1 cannot run inside a script").arg(words->first()));
        }
        commands->append({line, *parsed.command});
    }
    m_scriptName = name;
    return ExitStatus::Ok;
}

// The stored settings fill in what the options leave open. The tool only reads them.
ExitStatus CliSession::applySettings(bool forBus)
{
    device::StoredPort stored;
    const bool loaded = m_settings.loadSettings(m_model, stored);
    m_stored = {stored.portNumber, stored.bitRate};
    const bool needsStore =
        forBus && (m_portChoice.kind == PortChoice::Kind::Stored || !m_a0Option || !m_vsupOption);
    if (!loaded) {
        m_stored = {0, port::PortManager::fallbackBitRate};
        if (needsStore) {
            return fail(ExitStatus::SettingsUnreadable,
                        QStringLiteral("%1. Give --port, --a0 and --vsup instead.")
                            .arg(m_settings.lastError()));
        }
    }
    if (m_a0Option)
        m_model.a0Pin = *m_a0Option;
    m_model.vsup = m_vsupOption ? *m_vsupOption : m_model.vrefHigh[m_model.a0Index()];
    m_model.vlow = 0;
    return ExitStatus::Ok;
}

ExitStatus CliSession::prepareBus()
{
    if (!m_tracePath.isEmpty()) {
        // Opened now, so that a trace that cannot be written stops the run before the bus moves.
        m_traceFile = std::make_unique<QSaveFile>(m_tracePath);
        if (!m_traceFile->open(QIODevice::WriteOnly)) {
            const QString problem = m_traceFile->errorString();
            m_traceFile.reset();
            return fail(ExitStatus::CannotWrite,
                        QStringLiteral("cannot write the trace %1: %2")
                            .arg(QDir::toNativeSeparators(m_tracePath), problem));
        }
        m_stack.startTrace();
    }
    m_chip = &m_stack.chip();
    m_glue = std::make_unique<device::ChannelGlue>(m_model, *m_chip);
    return ExitStatus::Ok;
}

// Routes the port map for the --port choice and gives the COM number chosen: a device path gets
// a number of its own, the simulated board is COM1, and without --port the stored number counts.
int CliSession::routePorts()
{
    stack::PortRouting routing;
    routing.base = m_baseMap;
    int number = m_stored.portNumber;
    switch (m_portChoice.kind) {
    case PortChoice::Kind::Stored:
        break;
    case PortChoice::Kind::Number:
        number = m_portChoice.number;
        break;
    case PortChoice::Kind::Device:
        number = port::PortMap::numberForDevice(m_portChoice.devicePath);
        routing.base.mapToDevice(number, m_portChoice.devicePath);
        break;
    case PortChoice::Kind::Simulated:
        number = port::PortMap::firstPortNumber;
        routing.simulate = true;
        break;
    }
    m_stack.route(routing);
    return number;
}

// Only the chosen port is opened: probing the others would toggle the lines of whatever hangs
// on them.
ExitStatus CliSession::openPort()
{
    const int number = routePorts();
    if (m_portChoice.kind == PortChoice::Kind::Stored && !port::PortMap::isPortNumber(number)) {
        return fail(ExitStatus::PortUnavailable,
                    QStringLiteral("no port is chosen in the settings (port number %1): give "
                                   "--port COMn, a device path or sim")
                        .arg(number));
    }
    const port::PortSelection selection{qint16(number), m_stored.bitRate};
    port::PortManager &ports = m_stack.ports();
    ports.setSelection(selection);
    if (!ports.fncInitializeComPort(selection.bitRate, selection.portNumber)) {
        const port::OpenResult result = ports.lastOpenResult();
        QString reason = m_stack.portError();
        const QString ownName = port::PortMap::portName(number) + QStringLiteral(": ");
        if (reason.startsWith(ownName))
            reason.remove(0, ownName.size());
        QString message = QStringLiteral("%1 is not available (%2): %3")
                              .arg(portText(number), stateWord(result), reason);
        if (result == port::OpenResult::NoPermission)
            message += u'\n' + dialoutHint();
        else if (result == port::OpenResult::Busy)
            message += QStringLiteral("\nAnother program holds the port; close it and try again.");
        return fail(ExitStatus::PortUnavailable, message);
    }
    ports.setComTimeouts(selection.bitRate);
    m_portOpened = true;
    return ExitStatus::Ok;
}

ExitStatus CliSession::finishTrace(ExitStatus status)
{
    if (!m_traceFile)
        return status;
    if (!m_portOpened) {
        // Nothing went over the bus: an older trace stays as it was.
        m_traceFile->cancelWriting();
        m_traceFile.reset();
        return status;
    }
    QString problem;
    if (!m_stack.writeTrace(*m_traceFile, &problem) || !m_traceFile->commit()) {
        if (problem.isEmpty())
            problem = m_traceFile->errorString();
        const QString message = QStringLiteral("cannot write the trace %1: %2")
                                    .arg(QDir::toNativeSeparators(m_tracePath), problem);
        m_context.clear();
        const ExitStatus failed = fail(ExitStatus::CannotWrite, message);
        return status == ExitStatus::Ok ? failed : status;
    }
    const QString note = m_stack.traceNote();
    if (!note.isEmpty())
        m_err << programName << ": " << note << Qt::endl;
    return status;
}

ExitStatus CliSession::execute(const Command &command)
{
    switch (command.kind) {
    case Kind::Ports:
        return listPorts();
    case Kind::Read:
        return readAll();
    case Kind::Get:
        return getChannel(command.channel);
    case Kind::Code:
        return writeCode(command.channel, command.code, QStringLiteral("code"), {}, {});
    case Kind::Set:
        return setVoltage(command.channel, command.volts);
    case Kind::Load:
        return loadFile(command.path);
    case Kind::Save:
        return saveFile(command.path);
    case Kind::Reset:
        return resetChip();
    case Kind::Otp:
        return burnChannel(command.channel);
    case Kind::OtpAll:
        return burnAll();
    case Kind::Script:
        break;
    }
    return fail(ExitStatus::Usage, QStringLiteral("a script cannot run inside a script"));
}

// Commands ------------------------------------------------------------------------------------

ExitStatus CliSession::listPorts()
{
    const int selected = routePorts();
    port::PortManager &ports = m_stack.ports();
    ports.probeComPorts();
    const port::PortMap &map = m_stack.portMap();

    QJsonArray entries;
    QString table = QStringLiteral("%1  %2  %3  %4\n")
                        .arg(QStringLiteral("Port"), -6)
                        .arg(QStringLiteral("Device"), -24)
                        .arg(QStringLiteral("State"), -13)
                        .arg(QStringLiteral("Description"));
    const QList<port::PortDescription> descriptions = map.describeAll();
    for (qsizetype i = 0; i < descriptions.size(); ++i) {
        const port::PortDescription &description = descriptions.at(i);
        const int number = int(i) + port::PortMap::firstPortNumber;
        const QString state = stateWord(ports.probeResult(number));
        const QString device = map.target(number).kind == port::PortTarget::Kind::Simulated
                                   ? QStringLiteral("(simulated)")
                                   : description.location;
        entries.append(QJsonObject{{QStringLiteral("name"), description.name},
                                   {QStringLiteral("device"), device},
                                   {QStringLiteral("description"), description.description},
                                   {QStringLiteral("state"), state},
                                   {QStringLiteral("selected"), number == selected}});
        table += QStringLiteral("%1  %2  %3  %4")
                     .arg(description.name + (number == selected ? u'*' : u' '), -6)
                     .arg(device, -24)
                     .arg(state, -13)
                     .arg(description.description)
                     .trimmed() +
                 u'\n';
    }
    if (port::PortMap::isPortNumber(selected))
        table += QStringLiteral("* the port in use\n");
    print(
        {{QStringLiteral("command"), QStringLiteral("ports")}, {QStringLiteral("ports"), entries}},
        table);
    return ExitStatus::Ok;
}

ExitStatus CliSession::readAll()
{
    const QList<ChannelReading> readings = readAllChannels();
    const int maxBank = m_chip->readMaxBank(m_model.a0Pin);
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;

    QJsonArray channels;
    QString table = QStringLiteral("A0 = %1, Vsup = %2 V\n")
                        .arg(m_model.a0Pin, numberWithoutBlank(m_model.vsup));
    table += QStringLiteral("Channel  Register  Code   Hex  Voltage\n");
    for (const auto &[index, word] : readings) {
        channels.append(channelObject(index, word));
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(device::channelLabel(index), 7)
                     .arg(hexRegister(index), 8)
                     .arg(word, 5)
                     .arg(device::shownCode(word), 4)
                     .arg(voltageText(word), 7);
    }
    table += QStringLiteral("Max bank: %1\n").arg(maxBank);
    print({{QStringLiteral("command"), QStringLiteral("read")},
           {QStringLiteral("a0"), m_model.a0Pin.toInt()},
           {QStringLiteral("vsup"), m_model.vsup},
           {QStringLiteral("channels"), channels},
           {QStringLiteral("maxBank"), maxBank}},
          table);
    if (maxBank == silentWord) {
        return fail(ExitStatus::ChipSilent,
                    QStringLiteral("no chip answered at A0 = %1: the max bank read %2")
                        .arg(m_model.a0Pin)
                        .arg(maxBank));
    }
    return checkAnswered(readings);
}

ExitStatus CliSession::getChannel(int index)
{
    const int word = readChannel(index);
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    QJsonObject json = channelObject(index, word);
    json.insert(QStringLiteral("command"), QStringLiteral("get"));
    json.insert(QStringLiteral("a0"), m_model.a0Pin.toInt());
    json.insert(QStringLiteral("vsup"), m_model.vsup);
    print(json, QStringLiteral("%1: code %2 (hex %3), %4 V\n")
                    .arg(channelTitle(index))
                    .arg(word)
                    .arg(device::shownCode(word), voltageText(word)));
    return checkAnswered({{index, word}});
}

// One DAC register write; a code of 1024 (full scale) goes out as 1023.
ExitStatus CliSession::writeCode(int index, int code, const QString &commandName,
                                 const QJsonObject &extra, const QString &prefix)
{
    m_model.dacCode[index] = code;
    m_model.selectedChannel = index;
    m_glue->writeSelectedChannel();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;

    const int sent = std::min(code, largestCode);
    QJsonObject json = channelObject(index, code);
    json.insert(QStringLiteral("command"), commandName);
    json.insert(QStringLiteral("sent"), sent);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        json.insert(it.key(), it.value());
    const QString codeText =
        code == sent ? QStringLiteral("code %1 (hex %2)").arg(code).arg(device::shownCode(code))
                     : QStringLiteral("code %1 (full scale, sent as %2)").arg(code).arg(sent);
    print(json, QStringLiteral("%1: %2wrote %3, %4 V\n")
                    .arg(channelTitle(index), prefix, codeText, voltageText(code)));
    return ExitStatus::Ok;
}

// The register grid's conversion: clamped into [vlow, vsup], then rounded half up to a code.
ExitStatus CliSession::setVoltage(int index, double volts)
{
    if (const ExitStatus status = requireVsup(QStringLiteral("set")); status != ExitStatus::Ok)
        return status;
    const double clamped = std::clamp(volts, m_model.vlow, m_model.vsup);
    const int code =
        int(std::floor(1024 * (clamped - m_model.vlow) / (m_model.vsup - m_model.vlow) + 0.5));
    const QString prefix =
        clamped == volts ? QString()
                         : QStringLiteral("%1 V is outside 0 to %2 V, set to %3 V; ")
                               .arg(numberWithoutBlank(volts), numberWithoutBlank(m_model.vsup),
                                    numberWithoutBlank(clamped));
    return writeCode(
        index, code, QStringLiteral("set"),
        {{QStringLiteral("requested"), volts}, {QStringLiteral("clamped"), clamped != volts}},
        prefix);
}

// The whole file is checked before the first write, so a bad file sends nothing.
ExitStatus CliSession::loadFile(const QString &path)
{
    QString error;
    const std::optional<device::RegisterSet> set = device::readRegisterSetFile(path, &error);
    if (!set)
        return fail(ExitStatus::BadInputFile, error);
    for (int index = 1; index <= channelCount; ++index) {
        m_model.dacCode[index] = set->codes[std::size_t(index - 1)];
        m_model.selectedChannel = index;
        m_glue->writeSelectedChannel();
    }
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    // As in the main window, the file's Vsup is the one in use from now on.
    m_model.vsup = set->vsup;

    QJsonArray codes;
    for (const double code : set->codes)
        codes.append(code);
    print({{QStringLiteral("command"), QStringLiteral("load")},
           {QStringLiteral("file"), path},
           {QStringLiteral("vsup"), set->vsup},
           {QStringLiteral("codes"), codes}},
          QStringLiteral("Loaded %1: Vsup %2 V, wrote the 24 channels\n")
              .arg(QDir::toNativeSeparators(path), numberWithoutBlank(set->vsup)));
    return ExitStatus::Ok;
}

ExitStatus CliSession::saveFile(const QString &path)
{
    if (const ExitStatus status = requireVsup(QStringLiteral("save")); status != ExitStatus::Ok)
        return status;
    const QList<ChannelReading> readings = readAllChannels();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    // Words of a silent bus would replace a good file with nothing but full scale.
    if (const ExitStatus status = checkAnswered(readings); status != ExitStatus::Ok)
        return status;

    device::RegisterSet set;
    set.vsup = m_model.vsup;
    QJsonArray codes;
    for (const auto &[index, word] : readings) {
        set.codes[std::size_t(index - 1)] = word;
        codes.append(word);
    }
    QString error;
    if (!device::writeRegisterSetFile(path, set, &error))
        return fail(ExitStatus::CannotWrite, error);
    print({{QStringLiteral("command"), QStringLiteral("save")},
           {QStringLiteral("file"), path},
           {QStringLiteral("vsup"), set.vsup},
           {QStringLiteral("codes"), codes}},
          QStringLiteral("Saved %1: Vsup %2 V and the 24 codes read from the chip\n")
              .arg(QDir::toNativeSeparators(path), numberWithoutBlank(set.vsup)));
    return ExitStatus::Ok;
}

ExitStatus CliSession::resetChip()
{
    m_chip->generalCallReset();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    print({{QStringLiteral("command"), QStringLiteral("reset")}},
          QStringLiteral("Sent the general-call reset\n"));
    return ExitStatus::Ok;
}

// Burns the code the channel's DAC register holds, so what is burned is what the chip outputs.
ExitStatus CliSession::burnChannel(int index)
{
    const int word = readChannel(index);
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    if (const ExitStatus status = checkBurnable({{index, word}}); status != ExitStatus::Ok)
        return status;
    m_model.dacCode[index] = word;
    m_glue->programChannelOtp(index);
    const int maxBank = burnEpilogue();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    QJsonObject json = channelObject(index, word);
    json.insert(QStringLiteral("command"), QStringLiteral("otp"));
    json.insert(QStringLiteral("maxBank"), maxBank);
    print(json, QStringLiteral("%1: burned code %2 (hex %3) into OTP, sent the general-call "
                               "reset; max bank %4\n")
                    .arg(channelTitle(index))
                    .arg(word)
                    .arg(device::shownCode(word))
                    .arg(maxBank));
    return ExitStatus::Ok;
}

ExitStatus CliSession::burnAll()
{
    const QList<ChannelReading> readings = readAllChannels();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    if (const ExitStatus status = checkBurnable(readings); status != ExitStatus::Ok)
        return status;
    QJsonArray codes;
    for (const auto &[index, word] : readings) {
        m_model.dacCode[index] = word;
        codes.append(word);
    }
    m_glue->programAllChannelsOtp();
    const int maxBank = burnEpilogue();
    if (const ExitStatus status = checkPort(); status != ExitStatus::Ok)
        return status;
    print({{QStringLiteral("command"), QStringLiteral("otp-all")},
           {QStringLiteral("a0"), m_model.a0Pin.toInt()},
           {QStringLiteral("codes"), codes},
           {QStringLiteral("maxBank"), maxBank}},
          QStringLiteral("Burned the 24 codes into OTP, sent the general-call reset; max bank "
                         "%1\n")
              .arg(maxBank));
    return ExitStatus::Ok;
}

// Helpers -------------------------------------------------------------------------------------

int CliSession::readChannel(int index)
{
    m_chip->readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)),
                            m_model.a0Pin);
    return m_chip->registerWord();
}

QList<CliSession::ChannelReading> CliSession::readAllChannels()
{
    QList<ChannelReading> readings;
    for (int index = 1; index <= channelCount; ++index)
        readings.append({index, readChannel(index)});
    return readings;
}

// As the windows do after burning: the reset closes the bank, and the max bank shows it.
int CliSession::burnEpilogue()
{
    m_chip->generalCallReset();
    return m_chip->readMaxBank(m_model.a0Pin);
}

ExitStatus CliSession::requireVsup(const QString &commandName)
{
    if (m_model.vsup > m_model.vlow)
        return ExitStatus::Ok;
    return fail(ExitStatus::Usage,
                QStringLiteral("%1 needs a Vsup above 0 V, and the one stored for A0 = %2 is %3 "
                               "V: give --vsup")
                    .arg(commandName, m_model.a0Pin, numberWithoutBlank(m_model.vsup)));
}

ExitStatus CliSession::checkPort()
{
    if (m_portFailure.isEmpty())
        return ExitStatus::Ok;
    return fail(ExitStatus::PortUnavailable,
                QStringLiteral("the port failed during use: %1").arg(m_portFailure));
}

// A register that reads every bit released was not driven by any chip.
ExitStatus CliSession::checkAnswered(const QList<ChannelReading> &readings)
{
    for (const ChannelReading &reading : readings) {
        if (reading.word == silentWord) {
            return fail(ExitStatus::ChipSilent,
                        QStringLiteral("no chip answered at A0 = %1: %2 read %3")
                            .arg(m_model.a0Pin, channelText(reading.index))
                            .arg(reading.word));
        }
    }
    return ExitStatus::Ok;
}

// What the chip gives above bit 9 is its own business, but such a word is not burned: the data
// bits would cut it to 1023, which the channel never showed.
ExitStatus CliSession::checkBurnable(const QList<ChannelReading> &readings)
{
    if (const ExitStatus status = checkAnswered(readings); status != ExitStatus::Ok)
        return status;
    for (const ChannelReading &reading : readings) {
        if (reading.word > largestCode) {
            return fail(ExitStatus::ChipSilent,
                        QStringLiteral("%1 read %2, which is no 10-bit code to burn")
                            .arg(channelText(reading.index))
                            .arg(reading.word));
        }
    }
    return ExitStatus::Ok;
}

QJsonObject CliSession::channelObject(int index, double code) const
{
    return {{QStringLiteral("channel"), device::channelLabel(index)},
            {QStringLiteral("index"), index},
            {QStringLiteral("register"), device::registerOfChannel(index)},
            {QStringLiteral("code"), code},
            {QStringLiteral("hex"), device::shownCode(code)},
            {QStringLiteral("voltage"), device::leadingNumber(voltageText(code))}};
}

QString CliSession::channelText(int index) const
{
    return QStringLiteral("channel %1 (register %2)")
        .arg(device::channelLabel(index), hexRegister(index));
}

QString CliSession::channelTitle(int index) const
{
    QString text = channelText(index);
    text[0] = text[0].toUpper();
    return text;
}

// As the main window shows it: full scale above 1023, truncated to whole millivolts.
QString CliSession::voltageText(double code) const
{
    const double volts = code > largestCode ? m_model.vsup : m_model.voltageOfCode(code);
    return trimmedVoltage(volts);
}

QString CliSession::portText(int number) const
{
    const port::PortTarget target = m_stack.portMap().target(number);
    if (target.kind == port::PortTarget::Kind::Simulated)
        return QStringLiteral("%1 (simulated board)").arg(port::PortMap::portName(number));
    return QStringLiteral("%1 (%2)").arg(port::PortMap::portName(number), target.devicePath);
}

void CliSession::print(const QJsonObject &json, const QString &human)
{
    if (m_json)
        m_out << QJsonDocument(json).toJson(QJsonDocument::Compact) << '\n';
    else
        m_out << human;
    m_out.flush();
}

ExitStatus CliSession::fail(ExitStatus status, const QString &message)
{
    m_out.flush();
    m_err << programName << ": " << m_context << message << Qt::endl;
    return status;
}

} // namespace cli
