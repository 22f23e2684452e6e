// SPDX-License-Identifier: MIT
#include "cli/clisession.h"

#include "cli/channeltext.h"
#include "cli/chipcommands.h"
#include "cli/filechecks.h"
#include "control/diagnostics.h"
#include "device/safefilewriter.h"
#include "device/settingsstore.h"
#include "log/logging.h"
#include "version.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QTextStream>
#include <QThread>

namespace cli {

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
    qCInfo(lcCli) << "exit status" << exitCode(status);
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
    logging::setVerbose(m_options.verbose);
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
        const QString name = commandName(entry.command.kind);
        if (entry.line > 0)
            qCInfo(lcCli).noquote() << QStringLiteral("line %1: %2").arg(entry.line).arg(name);
        else
            qCInfo(lcCli).noquote() << name;
        status = execute(entry.command);
        qCInfo(lcCli).noquote()
            << QStringLiteral("%1 ended with status %2").arg(name).arg(exitCode(status));
        if (status != ExitStatus::Ok)
            break;
        ++linesRun;
    }
    // A signal during the last command, which ran to its end all the same.
    if (status == ExitStatus::Ok && stopSignal() != 0)
        status = stopBefore(nullptr, linesRun);
    return finishTrace(status);
}

ExitStatus CliSession::open(const QStringList &arguments)
{
    const ParsedOptions parsed = parseSessionOptions(arguments);
    if (parsed.status != ExitStatus::Ok)
        return fail(parsed.status, parsed.error);
    m_options = parsed.options;
    logging::setVerbose(m_options.verbose);
    // The port and A0 are given; a Vsup neither given nor stored stays unknown, and the
    // commands that need it say so.
    ExitStatus status = applySettings(false);
    if (status == ExitStatus::Ok)
        status = prepareBus();
    if (status == ExitStatus::Ok)
        status = openPort();
    if (status != ExitStatus::Ok) {
        m_commands.reset();
        m_operations.reset();
    }
    return status;
}

ExitStatus CliSession::command(const Command &command)
{
    if (!m_operations)
        return fail(ExitStatus::PortUnavailable, QStringLiteral("the session is not open"));
    m_options.commands = {ScriptLine{0, command}};
    m_output->setContext({});
    m_output->setCommand(commandName(command.kind), 0);
    ExitStatus status = checkFiles();
    if (status == ExitStatus::Ok)
        status = requireVsup();
    if (status != ExitStatus::Ok)
        return status;
    qCInfo(lcCli).noquote() << commandName(command.kind);
    return execute(command);
}

ExitStatus CliSession::close()
{
    if (!m_operations)
        return ExitStatus::Ok;
    const ExitStatus status = finishTrace(ExitStatus::Ok);
    m_commands.reset();
    m_operations.reset();
    m_stack.mappedPort().close();
    return status;
}

void CliSession::setA0(const QString &a0Pin)
{
    if (a0Pin == m_model.a0Pin)
        return;
    m_model.a0Pin = a0Pin;
    if (!m_options.vsup)
        m_model.vsup = m_model.vrefHigh[m_model.a0Index()];
    if (m_commands)
        m_commands->forgetPicture();
}

void CliSession::setVsup(std::optional<double> vsup)
{
    m_options.vsup = vsup;
    m_model.vsup = vsup ? *vsup : m_model.vrefHigh[m_model.a0Index()];
}

// A bad file later in a script must not stop it after earlier lines have reached the chip.
ExitStatus CliSession::checkFiles()
{
    const FileProblem problem = firstFileProblem(m_options, m_burnLogPath);
    if (problem.entry) {
        showLine(*problem.entry);
        return fail(problem.status, problem.message);
    }
    m_output->setContext({});
    m_output->setCommand({}, 0);
    return ExitStatus::Ok;
}

// The stored settings fill in what the options leave open. The tool only reads them.
ExitStatus CliSession::applySettings(bool forBus)
{
    device::StoredPort stored;
    const bool loaded = m_settings.loadSettings(m_model, stored);
    m_port.setStored(loaded ? port::PortSelection{stored.portNumber, stored.bitRate}
                            : port::PortSelection{0, port::PortManager::fallbackBitRate});
    const bool needsStore = forBus && (!m_options.port || !m_options.a0 || !m_options.vsup);
    if (!loaded) {
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

ExitStatus CliSession::openPort()
{
    if (const QString problem = m_port.open(); !problem.isEmpty())
        return fail(ExitStatus::PortUnavailable, problem);
    m_portOpened = true;
    if (!m_options.noLog) {
        const control::BurnSource source = m_port.burnSource();
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
    case Command::Kind::Diagnose:
        return diagnose(command);
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
    m_port.list(*m_output);
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

// Without --bus-checks nothing is opened: the ports are only probed. With them the chosen port
// is opened as any command opens it; a port that will not open is part of the report.
ExitStatus CliSession::diagnose(const Command &command)
{
    const int number = m_port.route();
    QString openProblem;
    if (command.busChecks) {
        if (const ExitStatus status = prepareBus(); status != ExitStatus::Ok)
            return status;
        openProblem = m_port.open();
        m_portOpened = openProblem.isEmpty();
    }
    std::unique_ptr<control::ChipOperations> ownOperations;
    if (!m_operations)
        ownOperations = std::make_unique<control::ChipOperations>(m_stack.chip(), m_stack.ports());
    control::ChipOperations &operations = m_operations ? *m_operations : *ownOperations;

    control::Diagnostics::Request request;
    request.program = versionText().trimmed();
    request.chosenPort = number;
    request.a0Pin = m_model.a0Pin;
    request.busChecks = command.busChecks;
    request.openProblem = openProblem;
    const QString text =
        control::Diagnostics(m_stack.ports(), m_stack.mappedPort(), m_settings, operations)
            .text(request);

    if (command.path.isEmpty()) {
        m_output->result({{QStringLiteral("file"), QJsonValue::Null},
                          {QStringLiteral("text"), text},
                          {QStringLiteral("busChecks"), command.busChecks && m_portOpened}},
                         text);
    } else {
        QString error;
        if (!device::writeFileSafely(command.path, text.toUtf8(), &error))
            return fail(ExitStatus::CannotWrite, error);
        m_output->result({{QStringLiteral("file"), command.path},
                          {QStringLiteral("text"), QJsonValue::Null},
                          {QStringLiteral("busChecks"), command.busChecks && m_portOpened}},
                         QStringLiteral("Diagnostics written to %1\n")
                             .arg(QDir::toNativeSeparators(command.path)));
    }
    if (!openProblem.isEmpty()) {
        return fail(ExitStatus::PortUnavailable,
                    QStringLiteral("the bus checks did not run: %1").arg(openProblem));
    }
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
