// SPDX-License-Identifier: MIT
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

// A refusal that keeps what the options said so far (--json among them).
ParsedOptions refuse(ParsedOptions parsed, ExitStatus status, const QString &error)
{
    parsed.status = status;
    parsed.error = error;
    return parsed;
}

std::optional<bool> onOrOff(const QString &text)
{
    if (text.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
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
        parsed.line = line;
        parsed.command = QStringLiteral("script");
        QString error;
        const std::optional<QStringList> words = splitScriptLine(text, &error);
        if (!words)
            return refuse(parsed, ExitStatus::Usage, where + error);
        if (words->isEmpty())
            continue;
        const ParsedCommand command = parseCommand(*words);
        if (!command.command)
            return refuse(parsed, command.status, where + command.error);
        if (command.command->kind == Kind::Script || command.command->kind == Kind::Ports ||
            command.command->kind == Kind::Diagnose) {
            return refuse(parsed, ExitStatus::Usage,
                          where +
                              QStringLiteral("%1 cannot run inside a script").arg(words->first()));
        }
        parsed.options.commands.append({line, *command.command});
    }
    parsed.line = 0;
    parsed.command.clear();
    parsed.options.scriptName = name;
    return parsed;
}

// The options that carry a value; the reason when one does not fit, "" when all do.
QString takeValues(const QCommandLineParser &parser, CliOptions &options)
{
    if (parser.isSet(QStringLiteral("port"))) {
        const port::PortOverride port =
            port::PortMap::parsePort(parser.value(QStringLiteral("port")));
        if (!port.isValid())
            return QStringLiteral("--port: ") + port.error;
        options.port = port;
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
    if (!options.simFaults.isEmpty() && !options.simulated())
        return QStringLiteral("--sim-fault: faults are for the simulated board (--port sim)");
    if (parser.isSet(QStringLiteral("fast-mode"))) {
        const QString text = parser.value(QStringLiteral("fast-mode"));
        options.fastMode = onOrOff(text);
        if (!options.fastMode)
            return QStringLiteral("--fast-mode: \"%1\" is not on or off").arg(text);
        if (options.port && options.port->virtualAdapter && !*options.fastMode)
            return QStringLiteral("--fast-mode: the virtual FT232R knows only fast mode");
        if (options.port && (options.port->fastMode || !options.port->ftdiSerial.isEmpty()) &&
            !*options.fastMode)
            return QStringLiteral("--fast-mode: off, but --port asks for fast mode");
        if (options.simulated() && !options.port->virtualAdapter && *options.fastMode)
            return QStringLiteral("--fast-mode: the simulated board has no FT232R; "
                                  "--port sim-ft232r puts one in front of it");
    }
    if (parser.isSet(QStringLiteral("skip-idle-writes"))) {
        const QString text = parser.value(QStringLiteral("skip-idle-writes"));
        const std::optional<bool> choice = onOrOff(text);
        if (choice)
            options.skipIdleWrites = *choice ? CliOptions::Skipping::On : CliOptions::Skipping::Off;
        else if (text.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
            options.skipIdleWrites = CliOptions::Skipping::Auto;
        else
            return QStringLiteral("--skip-idle-writes: \"%1\" is not on, off or auto").arg(text);
    }
    options.tracePath = parser.value(QStringLiteral("trace"));
    if (parser.isSet(QStringLiteral("trace")) && options.tracePath.isEmpty())
        return QStringLiteral("--trace: no file name given");
    return {};
}

} // namespace

namespace {

enum class CommandWanted { Yes, No };

ParsedOptions parse(const QStringList &arguments, QIODevice *input, CommandWanted wanted)
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
    const QCommandLineOption fastModeOption(QStringLiteral("fast-mode"), QString(),
                                            QStringLiteral("on|off"));
    const QCommandLineOption skipOption(QStringLiteral("skip-idle-writes"), QString(),
                                        QStringLiteral("on|off|auto"));
    const QCommandLineOption verifyOption(QStringLiteral("verify"));
    const QCommandLineOption noLogOption(QStringLiteral("no-log"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({portOption, a0Option, vsupOption, traceOption, jsonOption, faultOption,
                       fastModeOption, skipOption, verifyOption, noLogOption, verboseOption,
                       helpOption, versionOption});

    ParsedOptions parsed;
    CliOptions &options = parsed.options;
    // A JSON reader learns of a refused option as JSON too.
    options.json = arguments.mid(1).contains(QStringLiteral("--json"));
    if (!parser.parse(arguments))
        return refuse(parsed, ExitStatus::Usage, parser.errorText());
    // The last of two values is not silently the one: a script that says --a0 twice is wrong.
    QStringList seen;
    for (const QString &name : parser.optionNames()) {
        if (seen.contains(name) && name != faultOption.names().constFirst()) {
            return refuse(parsed, ExitStatus::Usage,
                          QStringLiteral("--%1 is given twice: give it once").arg(name));
        }
        seen.append(name);
    }
    if (parser.isSet(helpOption)) {
        options.action = CliOptions::Action::ShowHelp;
        return parsed;
    }
    if (parser.isSet(versionOption)) {
        options.action = CliOptions::Action::ShowVersion;
        return parsed;
    }
    options.json = parser.isSet(jsonOption);
    options.verify = parser.isSet(verifyOption);
    options.noLog = parser.isSet(noLogOption);
    options.verbose = parser.isSet(verboseOption);

    if (const QString error = takeValues(parser, options); !error.isEmpty())
        return refuse(parsed, ExitStatus::Usage, error);
    if (wanted == CommandWanted::No) {
        if (!parser.positionalArguments().isEmpty()) {
            return refuse(parsed, ExitStatus::Usage,
                          QStringLiteral("\"%1\" is not an option: commands come one by one")
                              .arg(parser.positionalArguments().constFirst()));
        }
        return parsed;
    }

    const ParsedCommand command = parseCommand(parser.positionalArguments());
    if (!command.command) {
        if (command.status == ExitStatus::Usage && parser.positionalArguments().isEmpty())
            return refuse(parsed, ExitStatus::Usage,
                          command.error + QStringLiteral("; see --help"));
        return refuse(parsed, command.status, command.error);
    }
    if (command.command->kind == Kind::Script)
        parsed = readScript(command.command->path, input, parsed);
    else
        options.commands.append({0, *command.command});
    // --verify before the command counts for every write of the run.
    for (ScriptLine &entry : parsed.options.commands)
        entry.command.verify =
            entry.command.verify || (parsed.options.verify && entry.command.writes());
    return parsed;
}

} // namespace

ParsedOptions parseOptions(const QStringList &arguments, QIODevice *input)
{
    return parse(arguments, input, CommandWanted::Yes);
}

ParsedOptions parseSessionOptions(const QStringList &arguments)
{
    return parse(arguments, nullptr, CommandWanted::No);
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
               "Options (before the command, each at most once but --sim-fault):\n"
               "  --port PORT           the port, as the KALVENTA program takes it (default: the\n"
               "                        port stored by the KALVENTA program):\n"
               "         COMn           COM1 to COM16 (COM5 = /dev/ttyUSB0)\n"
               "         [COMn=]PATH    a device, e.g. COM5=/dev/serial/by-id/usb-FTDI-...\n"
               "         COMn=ftdi      fast mode: COMn's FT232R in bit-bang mode, a whole frame\n"
               "                        per USB transfer\n"
               "         [COMn=]ftdi:SERIAL  the FT232R with that serial number, in fast mode\n"
               "         [COMn=]sim     a simulated board (sim:1ms: as slow as a USB adapter)\n"
               "         [COMn=]sim-ft232r  the simulated board behind a virtual FT232R in fast\n"
               "                        mode (sim-ft232r:1ms: 1 ms per USB transfer)\n"
               "  --fast-mode=on|off    fast mode for this run (default: the port's choice in\n"
               "                        \"COM Setting\")\n"
               "  --skip-idle-writes=on|off|auto\n"
               "                        skip line writes that change nothing (auto: on USB\n"
               "                        adapters only; default: the port's choice)\n"
               "  --a0 0|1              the chip's A0 pin (default: the stored A0)\n"
               "  --vsup VOLTS          the full-scale voltage (default: the Vsup stored for that "
               "A0)\n"
               "  --verify              every code, set and load reads back what it wrote\n"
               "  --no-log              burn even when the burn log cannot be written\n"
               "  --trace FILE.vcd      record the bus as a VCD file (SCL, SDA, DTR, RTS, DSR)\n"
               "  --verbose             log what the tool does (port, bus, commands) on standard\n"
               "                        error\n"
               "  --json                one JSON object per command on standard output (schema\n"
               "                        version 1: see the manual page)\n"
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
               "  code CH N [--verify]  write code N: 0 to 1024 or 0x0 to 0x400 (1024 = full\n"
               "                        scale, sent as 1023); --verify reads it back\n"
               "  set CH VOLTS [--verify]  write the code of a voltage, clamped to 0..Vsup\n"
               "  load FILE [--verify]  write the 24 codes of a register-set file as the window's\n"
               "                        Load does; its Vsup is in use for the commands after it\n"
               "  save FILE             read the chip and save Vsup and the 24 codes to FILE\n"
               "  verify FILE           compare the chip with a register-set file; every channel\n"
               "                        that differs is listed\n"
               "  reset                 send the I2C general-call reset\n"
               "  otp CH --yes          burn the channel's code into OTP memory (the code this "
               "run\n"
               "                        set, else the chip's): the max bank is read first and\n"
               "                        nothing is burned when no bank is left; then the reset,\n"
               "                        the max bank again and a read-back that verifies the "
               "burn;\n"
               "                        every burn is added to the burn log\n"
               "  otp-all --yes         the same for all 24 channels\n"
               "  burns                 the burn log: every burn, from the window or this tool\n"
               "  play [--delay SECONDS] [--loop N|forever] FILE...|FOLDER\n"
               "                        the batch runner: load each file (a folder's files in\n"
               "                        the batch window's order), send the marker block on TXD,\n"
               "                        wait the delay; a signal ends it after the file under way\n"
               "  marker                send the marker block on TXD\n"
               "  sleep SECONDS         wait\n"
               "  scan                  which of the two chips (A0 = 0, A0 = 1) answer their "
               "address;\n"
               "                        no register is touched\n"
               "  selftest              check that DSR follows SDA, driven through RTS with SCL\n"
               "                        released (a START and a STOP, which chips ignore)\n"
               "  diagnose [--bus-checks] [FILE]\n"
               "                        write what a problem report needs (versions, system,\n"
               "                        COM1 to COM16 probed without opening, the port's modes,\n"
               "                        the recent log) to FILE or standard output;\n"
               "                        --bus-checks opens the port for a selftest and a scan\n"
               "  script FILE|-         run one command per line (blank lines and # comments are\n"
               "                        skipped) on one open port; all lines and the files they\n"
               "                        read are checked first, and the first failing line stops\n"
               "                        the script\n"
               "  help                  show this help\n"
               "\n"
               "CH is a channel's name on screen: 1 to 22, c1 or c2 (c1 and c2 lie between 18 and\n"
               "19 in register order), or its register, 0x00 to 0x17. Reading never writes the\n"
               "chip. Settings are only read. Every frame first checks that SDA is free (a chip\n"
               "stuck in a transfer is clocked free), and every written byte must be "
               "acknowledged.\n"
               "SIGINT, SIGTERM or SIGHUP stop a read, load or script after the frame under way;\n"
               "a burn runs to its end, play ends after the file under way.\n"
               "\n"
               "Exit status:\n"
               "  0  success\n"
               "  2  usage: unknown command or option, an option given twice, a bad argument or\n"
               "     channel name\n"
               "  3  a register-set, script or play file is missing, unreadable or malformed, or\n"
               "     the burn log cannot be read\n"
               "  4  the port is not available (absent, busy, no permission) or failed in use\n"
               "  5  a burn was refused: otp and otp-all need --yes\n"
               "  6  the file of save or --trace cannot be written, or the burn log (nothing is\n"
               "     burned then, unless --no-log)\n"
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
               " 14  verify, or a write with --verify, found a register that differs (all listed)\n"
               "129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM\n");
}

} // namespace cli
