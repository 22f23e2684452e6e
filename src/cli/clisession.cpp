#include "cli/clisession.h"

#include "cli/channeltext.h"
#include "cli/chipcommands.h"
#include "cli/playlist.h"
#include "control/portmodes.h"
#include "device/registersetfile.h"
#include "device/regularfile.h"
#include "device/settingsstore.h"
#include "version.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTextStream>
#include <QThread>

namespace cli {

namespace {

// Why a trace or a saved file could not be written to path, found without touching it: only a
// regular file (or nothing yet) in an existing folder is replaced.
QString writeProblem(const QString &path)
{
    const device::FileCheck file = device::checkFile(path);
    if (file.kind != device::FileKind::Missing && file.kind != device::FileKind::Regular)
        return file.problem;
    if (!QFileInfo(path).absoluteDir().exists())
        return QStringLiteral("the folder does not exist");
    return {};
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
    : m_settings(settings), m_out(out), m_err(err), m_output(std::make_unique<TextOutput>(out, err))
{
    m_stack.ports().setYieldFunction([] {});
}

CliSession::~CliSession() = default;

int CliSession::run(const QStringList &arguments)
{
    const ExitStatus status = runArguments(arguments);
    m_out.flush();
    m_err.flush();
    return exitCode(status);
}

ExitStatus CliSession::runArguments(const QStringList &arguments)
{
    const ParsedOptions parsed = parseOptions(arguments, m_input);
    // A program that asked for JSON gets its failure as JSON, even one in the options.
    if (parsed.options.json)
        m_output = std::make_unique<JsonOutput>(m_out, m_err);
    m_output->setCommand(parsed.command, parsed.line);
    if (parsed.status != ExitStatus::Ok)
        return fail(parsed.status, parsed.error);
    m_options = parsed.options;
    if (m_options.action == CliOptions::Action::ShowHelp) {
        m_out << helpText();
        return ExitStatus::Ok;
    }
    if (m_options.action == CliOptions::Action::ShowVersion) {
        m_out << versionText();
        return ExitStatus::Ok;
    }
    QList<ScriptLine> &commands = m_options.commands;

    ExitStatus status = checkFiles();
    if (status != ExitStatus::Ok)
        return status;
    const bool usesBus = std::any_of(commands.cbegin(), commands.cend(),
                                     [](const ScriptLine &l) { return l.command.usesBus(); });
    status = applySettings(usesBus);
    if (status == ExitStatus::Ok)
        status = requireVsup();
    if (status != ExitStatus::Ok)
        return status;
    if (usesBus) {
        status = prepareBus();
        if (status == ExitStatus::Ok)
            status = openPort();
        if (status != ExitStatus::Ok)
            return finishTrace(status);
    }

    int linesRun = 0;
    for (const ScriptLine &entry : std::as_const(commands)) {
        if (stopSignal() != 0)
            return finishTrace(stopBefore(&entry, linesRun));
        showLine(entry);
        status = execute(entry.command);
        if (status != ExitStatus::Ok)
            break;
        ++linesRun;
    }
    // A signal during the last command, which ran to its end all the same.
    if (status == ExitStatus::Ok && stopSignal() != 0)
        status = stopBefore(nullptr, linesRun);
    return finishTrace(status);
}

// Every file a line reads is read and checked first, and every file it writes is looked at: a
// bad one later in a script must not stop it after earlier lines have reached the chip. Files
// are read again when their line runs.
ExitStatus CliSession::checkFiles()
{
    // A file an earlier line saves is there by the time a later one reads it.
    QStringList saved;
    const auto savedBefore = [&saved](const QString &path) {
        return saved.contains(QFileInfo(path).absoluteFilePath());
    };
    for (const ScriptLine &entry : std::as_const(m_options.commands)) {
        const Command &command = entry.command;
        if (command.kind == Command::Kind::Save)
            saved.append(QFileInfo(command.path).absoluteFilePath());
        if (!command.path.isEmpty() && command.kind != Command::Kind::Save &&
            savedBefore(command.path))
            continue;
        if (std::any_of(command.paths.cbegin(), command.paths.cend(), savedBefore))
            continue;
        const QString problem = checkFilesOf(entry.command);
        if (problem.isEmpty())
            continue;
        showLine(entry);
        const Command::Kind kind = entry.command.kind;
        const ExitStatus status = kind == Command::Kind::Save || entry.command.burns()
                                      ? ExitStatus::CannotWrite
                                      : ExitStatus::BadInputFile;
        return fail(status, problem);
    }
    m_output->setContext({});
    m_output->setCommand({}, 0);
    return ExitStatus::Ok;
}

QString CliSession::checkFilesOf(const Command &command)
{
    QString error;
    switch (command.kind) {
    case Command::Kind::Load:
    case Command::Kind::Verify:
        if (!device::readRegisterSetFile(command.path, &error))
            return error;
        break;
    case Command::Kind::Play: {
        const std::optional<QStringList> files = playListOf(command.paths, &error);
        if (!files)
            return error;
        for (const QString &path : *files) {
            if (!device::readRegisterSetFile(path, &error))
                return error;
        }
        break;
    }
    case Command::Kind::Save:
        if (const QString problem = writeProblem(command.path); !problem.isEmpty()) {
            return QStringLiteral("cannot save to %1: %2")
                .arg(QDir::toNativeSeparators(command.path), problem);
        }
        break;
    case Command::Kind::Otp:
    case Command::Kind::OtpAll:
        if (m_options.noLog)
            break;
        if (const QString problem = control::BurnLog(m_burnLogPath).writeProblem();
            !problem.isEmpty()) {
            return QStringLiteral("the burn log %1 cannot be written (%2), so nothing was "
                                  "burned; --no-log burns without it")
                .arg(QDir::toNativeSeparators(m_burnLogPath), problem);
        }
        break;
    default:
        break;
    }
    return {};
}

// The stored settings fill in what the options leave open. The tool only reads them.
ExitStatus CliSession::applySettings(bool forBus)
{
    device::StoredPort stored;
    const bool loaded = m_settings.loadSettings(m_model, stored);
    m_stored = {stored.portNumber, stored.bitRate};
    const bool needsStore = forBus && (!m_options.port || !m_options.a0 || !m_options.vsup);
    if (!loaded) {
        m_stored = {0, port::PortManager::fallbackBitRate};
        if (needsStore) {
            return fail(ExitStatus::SettingsUnreadable,
                        QStringLiteral("%1. Give --port, --a0 and --vsup instead.")
                            .arg(m_settings.lastError()));
        }
    }
    if (m_options.a0)
        m_model.a0Pin = *m_options.a0;
    m_model.vsup = m_options.vsup ? *m_options.vsup : m_model.vrefHigh[m_model.a0Index()];
    m_model.vlow = 0;
    return ExitStatus::Ok;
}

// set and save need the board's Vsup; without it they fail before the bus moves, as any other
// bad line of a script does.
ExitStatus CliSession::requireVsup()
{
    if (m_model.vsup > m_model.vlow)
        return ExitStatus::Ok;
    for (const ScriptLine &entry : std::as_const(m_options.commands)) {
        const Command::Kind kind = entry.command.kind;
        if (kind != Command::Kind::Set && kind != Command::Kind::Save)
            continue;
        showLine(entry);
        return fail(
            ExitStatus::SettingsUnreadable,
            QStringLiteral("%1 needs the board's Vsup, which is unknown: none above 0 V is "
                           "stored for A0 = %2 (the store holds %3 V). Give it with "
                           "--vsup VOLTS.")
                .arg(kind == Command::Kind::Set ? QStringLiteral("set") : QStringLiteral("save"),
                     m_model.a0Pin, numberWithoutBlank(m_model.vsup)));
    }
    return ExitStatus::Ok;
}

ExitStatus CliSession::prepareBus()
{
    if (!m_options.tracePath.isEmpty()) {
        // Checked now, so that a trace bound to fail stops the run before the bus moves.
        const QString problem = writeProblem(m_options.tracePath);
        if (!problem.isEmpty()) {
            return fail(ExitStatus::CannotWrite,
                        QStringLiteral("cannot write the trace %1: %2")
                            .arg(QDir::toNativeSeparators(m_options.tracePath), problem));
        }
        m_stack.startTrace();
    }
    if (m_options.simulated())
        m_stack.setSimulatedFaults(m_options.simFaults);
    m_operations = std::make_unique<control::ChipOperations>(m_stack.chip(), m_stack.ports());
    m_commands = std::make_unique<ChipCommands>(*m_operations, m_model, *m_output);
    m_commands->setStopSignal([this] { return stopSignal(); });
    m_commands->setBurningNotice(m_burning);
    m_commands->setWait([this](double seconds) { return wait(seconds); });
    m_progress = std::make_unique<ProgressLine>(m_err, m_errorsOnTerminal);
    QObject::connect(m_operations.get(), &control::ChipOperations::progressed, m_operations.get(),
                     [this](int done, int total) { m_progress->progressed(done, total); });
    return ExitStatus::Ok;
}

// Routes the port map for the --port choice and gives the COM number chosen: a port named
// without a number gets one (the simulated board and an FT232R by serial COM1, a device path the
// number it is the default device of, else a free one); without --port the stored number counts.
int CliSession::routePorts()
{
    stack::PortRouting routing;
    routing.base = m_baseMap;
    int number = m_stored.portNumber;
    if (m_options.port) {
        port::PortOverride entry = *m_options.port;
        if (entry.portNumber == 0) {
            entry.portNumber = entry.devicePath.isEmpty()
                                   ? port::PortMap::firstPortNumber
                                   : port::PortMap::numberForDevice(entry.devicePath);
        }
        number = entry.portNumber;
        if (!entry.namesOnlyNumber())
            routing.overrides.append(entry);
    }
    m_stack.route(routing);
    applyPortModes(number);
    return number;
}

// The modes the user chose for the port in "COM Setting", unless the options say otherwise for
// this run. A device path is the port of that number only when it is the number's own device.
void CliSession::applyPortModes(int number)
{
    const bool ownDevice = !m_options.port || m_options.port->devicePath.isEmpty() ||
                           m_options.port->portNumber != 0 ||
                           port::PortMap::defaultDevicePath(number) == m_options.port->devicePath;
    if (ownDevice)
        control::PortModes(m_stack.mappedPort(), m_settings).apply();
    port::PortMap map = m_stack.portMap();
    if (m_options.fastMode)
        map.setFastMode(number, *m_options.fastMode);
    switch (m_options.skipIdleWrites) {
    case CliOptions::Skipping::Remembered:
        break;
    case CliOptions::Skipping::On:
        map.setIdleWriteSkipping(number, true);
        break;
    case CliOptions::Skipping::Off:
        map.setIdleWriteSkipping(number, false);
        break;
    case CliOptions::Skipping::Auto:
        map.setIdleWriteSkipping(number, std::nullopt);
        break;
    }
    m_stack.mappedPort().setPortMap(map);
}

control::BurnSource CliSession::burnSource(int number) const
{
    control::BurnSource source;
    source.program = versionText().trimmed();
    source.port = portText(number);
    source.adapter = control::BurnLog::adapterText(m_stack.portMap().target(number));
    return source;
}

// Only the chosen port is opened: probing the others would toggle the lines of whatever hangs
// on them.
ExitStatus CliSession::openPort()
{
    const int number = routePorts();
    if (!m_options.port && !port::PortMap::isPortNumber(number)) {
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
    if (!m_options.noLog) {
        const control::BurnSource source = burnSource(number);
        m_operations->setBurnLog(control::BurnLog(m_burnLogPath), [source] { return source; });
    }
    return ExitStatus::Ok;
}

ExitStatus CliSession::finishTrace(ExitStatus status)
{
    if (m_options.tracePath.isEmpty())
        return status;
    // Without a port opened nothing went over the bus: an older trace stays as it was.
    if (!m_portOpened) {
        if (status == ExitStatus::Ok)
            m_output->note(QStringLiteral("nothing went over the bus: no trace was written"));
        return status;
    }
    QString problem;
    if (!m_stack.writeTrace(m_options.tracePath, &problem)) {
        m_output->setContext({});
        m_output->setCommand(QStringLiteral("trace"), 0);
        const ExitStatus failed = fail(ExitStatus::CannotWrite, problem);
        return status == ExitStatus::Ok ? failed : status;
    }
    const QString note = m_stack.traceNote();
    if (!note.isEmpty())
        m_output->note(note);
    return status;
}

ExitStatus CliSession::execute(const Command &command)
{
    switch (command.kind) {
    case Command::Kind::Ports:
        return listPorts();
    case Command::Kind::Burns:
        return listBurns();
    case Command::Kind::Sleep:
        return sleep(command.seconds);
    case Command::Kind::Help:
        m_output->result({{QStringLiteral("text"), helpText()}}, helpText());
        return ExitStatus::Ok;
    default:
        break;
    }
    m_progress->begin(commandName(command.kind));
    const ExitStatus status = m_commands->execute(command);
    m_progress->end();
    return status;
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
    m_output->result(
        {{QStringLiteral("command"), QStringLiteral("ports")}, {QStringLiteral("ports"), entries}},
        table);
    return ExitStatus::Ok;
}

ExitStatus CliSession::listBurns()
{
    const control::BurnLog log(m_burnLogPath);
    QString error;
    const std::optional<control::BurnLog::Contents> contents = log.read(&error);
    if (!contents)
        return fail(ExitStatus::BadInputFile, error);
    QJsonArray entries;
    QString text;
    for (const QJsonObject &entry : contents->entries) {
        entries.append(entry);
        text += control::BurnLog::entryText(entry) + u'\n';
    }
    if (contents->entries.isEmpty())
        text =
            QStringLiteral("No burn is logged in %1\n").arg(QDir::toNativeSeparators(log.path()));
    if (contents->unreadableLines > 0) {
        m_output->note(QStringLiteral("%1 line(s) of %2 do not read as a burn and are left out")
                           .arg(contents->unreadableLines)
                           .arg(QDir::toNativeSeparators(log.path())));
    }
    m_output->result({{QStringLiteral("log"), log.path()},
                      {QStringLiteral("entries"), entries},
                      {QStringLiteral("unreadableLines"), contents->unreadableLines}},
                     text);
    return ExitStatus::Ok;
}

ExitStatus CliSession::sleep(double seconds)
{
    if (!wait(seconds)) {
        const int signal = stopSignal();
        m_output->failure(statusForSignal(signal),
                          QStringLiteral("stopped by %1 during the sleep")
                              .arg(QString::fromLatin1(signalName(signal))),
                          {{QStringLiteral("seconds"), seconds},
                           {QStringLiteral("stoppedBy"), QString::fromLatin1(signalName(signal))}});
        return statusForSignal(signal);
    }
    m_output->result({{QStringLiteral("seconds"), seconds}}, {});
    return ExitStatus::Ok;
}

bool CliSession::wait(double seconds) const
{
    // Short naps, so that a signal ends the wait at once.
    const QDeadlineTimer deadline(qint64(std::ceil(seconds * 1000)));
    while (!deadline.hasExpired()) {
        if (stopSignal() != 0)
            return false;
        QThread::msleep(std::min<qint64>(20, std::max<qint64>(deadline.remainingTime(), 1)));
    }
    return stopSignal() == 0;
}

// Helpers -------------------------------------------------------------------------------------

ExitStatus CliSession::stopBefore(const ScriptLine *entry, int linesRun)
{
    const int signal = stopSignal();
    const QString name = QString::fromLatin1(signalName(signal));
    m_output->setContext({});
    // Between two commands of a script the stop is the script's; on the command line, the one
    // command's.
    if (m_options.scriptName.isEmpty())
        m_output->setCommand(m_options.commands.isEmpty()
                                 ? QString()
                                 : commandName(m_options.commands.constFirst().command.kind),
                             0);
    else
        m_output->setCommand(QStringLiteral("script"), entry ? entry->line : 0);
    QString message;
    if (!entry)
        message =
            QStringLiteral("stopped by %1 after the last command, which ran to its end").arg(name);
    else if (entry->line == 0 || linesRun == 0)
        message = QStringLiteral("stopped by %1 before the first command ran").arg(name);
    else
        message = QStringLiteral("stopped by %1 before line %2 of %3: %4 command(s) ran")
                      .arg(name)
                      .arg(entry->line)
                      .arg(m_options.scriptName)
                      .arg(linesRun);
    m_output->failure(
        statusForSignal(signal), message,
        {{QStringLiteral("stoppedBy"), name}, {QStringLiteral("commandsRun"), linesRun}});
    return statusForSignal(signal);
}

QString CliSession::portText(int number) const
{
    // A device path the user gave is named as given: its COM number is the program's own.
    if (m_options.port && m_options.port->portNumber == 0 && !m_options.port->devicePath.isEmpty())
        return m_options.port->devicePath;
    const port::PortTarget target = m_stack.portMap().target(number);
    if (m_options.port && m_options.port->virtualAdapter) {
        return QStringLiteral("%1 (simulated board, virtual FT232R)")
            .arg(port::PortMap::portName(number));
    }
    if (target.kind == port::PortTarget::Kind::Simulated)
        return QStringLiteral("%1 (simulated board)").arg(port::PortMap::portName(number));
    if (!target.ftdiSerial.isEmpty())
        return QStringLiteral("FT232R %1").arg(target.ftdiSerial);
    if (target.fastMode) {
        return QStringLiteral("%1 (%2, fast mode)")
            .arg(port::PortMap::portName(number), target.devicePath);
    }
    return QStringLiteral("%1 (%2)").arg(port::PortMap::portName(number), target.devicePath);
}

void CliSession::showLine(const ScriptLine &entry)
{
    m_output->setCommand(commandName(entry.command.kind), entry.line);
    if (entry.line > 0)
        m_output->setContext(QStringLiteral("%1:%2: ").arg(m_options.scriptName).arg(entry.line));
}

ExitStatus CliSession::fail(ExitStatus status, const QString &message)
{
    m_output->failure(status, message);
    return status;
}

} // namespace cli
