#include "cli/clioptions.h"

#include "cli/clicommand.h"
#include "device/regularfile.h"
#include "port/portmap.h"
#include "version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <cmath>

namespace cli {

namespace {

using Kind = Command::Kind;

// A script is a short list of commands; anything this large is not one.
constexpr qint64 maxScriptBytes = 1 << 20;

ParsedOptions refuse(ExitStatus status, const QString &error)
{
    ParsedOptions parsed;
    parsed.status = status;
    parsed.error = error;
    return parsed;
}

// A refusal that keeps what the options said so far (--json among them).
ParsedOptions refuse(ParsedOptions parsed, ExitStatus status, const QString &error)
{
    parsed.status = status;
    parsed.error = error;
    return parsed;
}

std::optional<PortChoice> portChoiceOf(const QString &text, QString *error)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,5})(=ftdi)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression ftdiSerial(QStringLiteral("^ftdi:([!-~]{1,64})$"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(text);
    PortChoice choice;
    QString simError;
    if (const auto delay = port::PortMap::parseSimulated(text, &simError)) {
        choice.kind = PortChoice::Kind::Simulated;
        choice.simulatedDelay = *delay;
    } else if (const auto latency = simError.isEmpty()
                                        ? port::PortMap::parseVirtualAdapter(text, &simError)
                                        : std::nullopt) {
        choice.kind = PortChoice::Kind::Simulated;
        choice.virtualAdapter = true;
        choice.simulatedDelay = *latency;
    } else if (const QRegularExpressionMatch serial = ftdiSerial.match(text); serial.hasMatch()) {
        choice.kind = PortChoice::Kind::FtdiSerial;
        choice.ftdiSerial = serial.captured(1);
    } else if (!simError.isEmpty()) {
        *error = QStringLiteral("--port: ") + simError;
        return std::nullopt;
    } else if (match.hasMatch()) {
        choice.kind = PortChoice::Kind::Number;
        choice.number = match.captured(1).toInt();
        choice.fastMode = match.hasCaptured(2);
        if (!port::PortMap::isPortNumber(choice.number)) {
            *error = QStringLiteral("--port: %1 is outside COM1 to COM16").arg(text);
            return std::nullopt;
        }
    } else if (text.contains(u'/') || text.contains(u'\\')) {
        choice.kind = PortChoice::Kind::Device;
        choice.devicePath = text;
    } else {
        *error = QStringLiteral("--port: \"%1\" is neither COM1 to COM16, COMn=ftdi, "
                                "ftdi:SERIAL, a device path, sim nor sim-ft232r")
                     .arg(text);
        return std::nullopt;
    }
    return choice;
}

std::optional<double> vsupOf(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^[+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    const double volts = text.toDouble(&ok);
    if (!number.match(text).hasMatch() || !ok || !std::isfinite(volts) || volts <= 0)
        return std::nullopt;
    return volts;
}

// Every line is parsed before any runs; ports and script cannot run inside a script.
ParsedOptions readScript(const QString &path, QIODevice *input, ParsedOptions parsed)
{
    const bool fromInput = path == QLatin1String("-");
    const QString name = fromInput ? QStringLiteral("<stdin>") : QDir::toNativeSeparators(path);
    QByteArray bytes;
    if (!fromInput) {
        // A FIFO or device named as a script would block or never end: regular files only.
        QString error;
        const std::optional<QByteArray> content =
            device::readRegularFile(path, maxScriptBytes, &error);
        if (!content)
            return refuse(parsed, ExitStatus::BadInputFile, error);
        bytes = *content;
    } else if (!input) {
        return refuse(parsed, ExitStatus::BadInputFile,
                      QStringLiteral("no standard input to read"));
    } else {
        for (QByteArray chunk; bytes.size() <= maxScriptBytes; bytes += chunk) {
            chunk = input->read(maxScriptBytes + 1 - bytes.size());
            if (chunk.isEmpty())
                break; // the end, or an error
        }
        if (bytes.size() > maxScriptBytes) {
            return refuse(parsed, ExitStatus::BadInputFile,
                          QStringLiteral("%1 is larger than %2 bytes: not a script")
                              .arg(name)
                              .arg(maxScriptBytes));
        }
    }

    // CR LF, LF and a lone CR all end a line, as in register-set files.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = QString::fromUtf8(bytes).split(lineEnd);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int line = int(i + 1);
        const QString &text = lines.at(i);
        const QString where = QStringLiteral("%1:%2: ").arg(name).arg(line);
        QString error;
        const std::optional<QStringList> words = splitScriptLine(text, &error);
        if (!words)
            return refuse(parsed, ExitStatus::Usage, where + error);
        if (words->isEmpty())
            continue;
        const ParsedCommand command = parseCommand(*words);
        if (!command.command)
            return refuse(parsed, command.status, where + command.error);
        if (command.command->kind == Kind::Script || command.command->kind == Kind::Ports) {
            return refuse(parsed, ExitStatus::Usage,
                          where +
                              QStringLiteral("%1 cannot run inside a script").arg(words->first()));
        }
        parsed.options.commands.append({line, *command.command});
    }
    parsed.options.scriptName = name;
    return parsed;
}

// The options that carry a value; the reason when one does not fit, "" when all do.
QString takeValues(const QCommandLineParser &parser, CliOptions &options)
{
    if (parser.isSet(QStringLiteral("port"))) {
        QString error;
        const std::optional<PortChoice> choice =
            portChoiceOf(parser.value(QStringLiteral("port")), &error);
        if (!choice)
            return error;
        options.port = *choice;
    }
    if (parser.isSet(QStringLiteral("a0"))) {
        const QString text = parser.value(QStringLiteral("a0"));
        if (text != QLatin1String("0") && text != QLatin1String("1"))
            return QStringLiteral("--a0: \"%1\" is not 0 or 1").arg(text);
        options.a0 = text;
    }
    if (parser.isSet(QStringLiteral("vsup"))) {
        const QString text = parser.value(QStringLiteral("vsup"));
        options.vsup = vsupOf(text);
        if (!options.vsup)
            return QStringLiteral("--vsup: \"%1\" is not a voltage above 0").arg(text);
    }
    for (const QString &fault : parser.values(QStringLiteral("sim-fault"))) {
        QString error;
        if (!options.simFaults.add(fault, &error))
            return QStringLiteral("--sim-fault: ") + error;
    }
    if (!options.simFaults.isEmpty() && options.port.kind != PortChoice::Kind::Simulated)
        return QStringLiteral("--sim-fault: faults are for the simulated board (--port sim)");
    options.tracePath = parser.value(QStringLiteral("trace"));
    if (parser.isSet(QStringLiteral("trace")) && options.tracePath.isEmpty())
        return QStringLiteral("--trace: no file name given");
    return {};
}

} // namespace

ParsedOptions parseOptions(const QStringList &arguments, QIODevice *input)
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
    const QCommandLineOption faultOption(QStringLiteral("sim-fault"), QString(),
                                         QStringLiteral("fault"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({portOption, a0Option, vsupOption, traceOption, jsonOption, faultOption,
                       helpOption, versionOption});

    if (!parser.parse(arguments))
        return refuse(ExitStatus::Usage, parser.errorText());
    ParsedOptions parsed;
    CliOptions &options = parsed.options;
    if (parser.isSet(helpOption)) {
        options.action = CliOptions::Action::ShowHelp;
        return parsed;
    }
    if (parser.isSet(versionOption)) {
        options.action = CliOptions::Action::ShowVersion;
        return parsed;
    }
    options.json = parser.isSet(jsonOption);

    if (const QString error = takeValues(parser, options); !error.isEmpty())
        return refuse(parsed, ExitStatus::Usage, error);

    const ParsedCommand command = parseCommand(parser.positionalArguments());
    if (!command.command) {
        if (command.status == ExitStatus::Usage && parser.positionalArguments().isEmpty())
            return refuse(parsed, ExitStatus::Usage,
                          command.error + QStringLiteral("; see --help"));
        return refuse(parsed, command.status, command.error);
    }
    if (command.command->kind == Kind::Script)
        return readScript(command.command->path, input, parsed);
    options.commands.append({0, *command.command});
    return parsed;
}

QString versionText()
{
    return QStringLiteral("kalventa-cli %1.%2.%3\n")
        .arg(version::major)
        .arg(version::minor)
        .arg(version::revision);
}

QString helpText()
{
    return QStringLiteral(
               "Usage: kalventa-cli [options] COMMAND [ARGUMENTS]\n"
               "Reads and writes a KALVENTA 24-channel DAC on its evaluation board, over I2C on a\n"
               "serial port's modem-control lines.\n"
               "\n"
               "Options (before the command):\n"
               "  --port COMn|PATH|sim  the port: COM1 to COM16, a device path (for example\n"
               "                        /dev/serial/by-id/...), or sim for a simulated board\n"
               "                        (sim:1ms makes it as slow as a USB adapter)\n"
               "                        (default: the port stored by the KALVENTA program)\n"
               "         COMn=ftdi      fast mode: COMn's FT232R adapter in bit-bang mode, a "
               "whole\n"
               "         ftdi:SERIAL    frame per USB transfer (or the FT232R with that serial)\n"
               "         sim-ft232r     the simulated board behind a virtual FT232R in fast mode\n"
               "                        (sim-ft232r:1ms: 1 ms per USB transfer)\n"
               "  --a0 0|1              the chip's A0 pin (default: the stored A0)\n"
               "  --vsup VOLTS          the full-scale voltage (default: the Vsup stored for that "
               "A0)\n"
               "  --trace FILE.vcd      record the bus as a VCD file (SCL, SDA, DTR, RTS, DSR)\n"
               "  --json                one JSON object per command on standard output\n"
               "  --sim-fault FAULT     give the simulated board a fault (repeatable):\n") +
           stack::SimulatedFaults::helpText(24) +
           QStringLiteral(
               "  -h, --help            show this help\n"
               "  -v, --version         show the version\n"
               "\n"
               "Commands:\n"
               "  ports                 COM1 to COM16 with device, description and state\n"
               "  read                  all 24 channels and the max bank\n"
               "  get CH                one channel\n"
               "  code CH N             write code N, 0 to 1024 (1024 = full scale, sent as 1023)\n"
               "  set CH VOLTS          write the code of a voltage, clamped to 0..Vsup\n"
               "  load FILE             write the 24 codes of a register-set file (checked "
               "first);\n"
               "                        its Vsup becomes the one in use for the commands after it\n"
               "  save FILE             read the chip and save Vsup and the 24 codes to FILE\n"
               "  reset                 send the I2C general-call reset\n"
               "  otp CH --yes          burn the channel's code into OTP memory (the code this "
               "run\n"
               "                        set, else the chip's): the max bank is read first and\n"
               "                        nothing is burned when no bank is left; then the reset,\n"
               "                        the max bank again and a read-back that verifies the burn\n"
               "  otp-all --yes         the same for all 24 channels\n"
               "  scan                  which of the two chips (A0 = 0, A0 = 1) answer their "
               "address;\n"
               "                        no register is touched\n"
               "  selftest              check that DSR follows SDA, driven through RTS with SCL\n"
               "                        released (a START and a STOP, which chips ignore)\n"
               "  script FILE|-         run one command per line (blank lines and # comments are\n"
               "                        skipped) on one open port; all lines are checked first,\n"
               "                        and the first failing line stops the script\n"
               "\n"
               "CH is a channel's name on screen: 1 to 22, c1 or c2 (c1 and c2 lie between 18 and\n"
               "19 in register order). Reading never writes the chip. Settings are only read.\n"
               "Every frame first checks that SDA is free (a chip stuck in a transfer is clocked\n"
               "free), and every written byte must be acknowledged. SIGINT, SIGTERM or SIGHUP\n"
               "stop a read, load or script after the frame under way; a burn runs to its end.\n"
               "\n"
               "Exit status:\n"
               "  0  success\n"
               "  2  usage: unknown command or option, bad argument or channel name\n"
               "  3  a register-set or script file is missing, unreadable or malformed\n"
               "  4  the port is not available (absent, busy, no permission) or failed in use\n"
               "  5  a burn was refused: otp and otp-all need --yes\n"
               "  6  the file of save or --trace cannot be written\n"
               "  7  the settings cannot be read, or lack the Vsup, and an option was left to "
               "them\n"
               "  8  no chip acknowledged a read or a write (scan: no chip at all), or the chip\n"
               "     holds no 10-bit code to burn\n"
               "  9  a burn was interrupted (the port failed, or SDA was held low): the message\n"
               "     says which registers were burned, which one was cut off and which not sent\n"
               " 10  selftest: DSR does not follow RTS (SDA stuck low, no DSR on the adapter, SDA\n"
               "     not wired back, or inverted)\n"
               " 11  SDA is held low and a bus clear did not free it: nothing reached the chip\n"
               " 12  a burn found every OTP bank used: nothing was burned\n"
               " 13  a burn went out but is not verified: a register does not hold its code, the\n"
               "     bank did not close, or a write was not acknowledged (all listed)\n"
               "129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM after the frame under way\n");
}

} // namespace cli
