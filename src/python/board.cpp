// SPDX-License-Identifier: MIT
#include "python/board.h"

#include "control/chipoperations.h"
#include "device/devicemodel.h"
#include "python/pythonarguments.h"
#include "python/pythonvalues.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"
#include "sim/virtualft232r.h"

#include <QJsonArray>
#include <csignal>

namespace py = pybind11;

namespace python {

namespace {

using cli::Command;
using cli::ExitStatus;

// A signal handler of Python runs only when the interpreter is asked; asking takes the GIL,
// so the bus asks at most this often.
constexpr std::chrono::milliseconds signalCheckInterval{20};

QString optionValue(double number)
{
    return QString::number(number, 'g', 17);
}

} // namespace

Board::Board(const OpenRequest &request) : m_port(request.port)
{
    QStringList arguments{QStringLiteral("kalventa-cli"), QStringLiteral("--port"), request.port,
                          QStringLiteral("--a0"), QString::number(request.a0)};
    if (request.vsup)
        arguments << QStringLiteral("--vsup") << optionValue(*request.vsup);
    if (!request.trace.isEmpty())
        arguments << QStringLiteral("--trace") << request.trace;
    for (const QString &fault : request.faults)
        arguments << QStringLiteral("--sim-fault") << fault;
    if (request.fastMode)
        arguments << QStringLiteral("--fast-mode")
                  << (*request.fastMode ? QStringLiteral("on") : QStringLiteral("off"));
    if (!request.log)
        arguments << QStringLiteral("--no-log");
    if (request.verbose)
        arguments << QStringLiteral("--verbose");

    m_session = std::make_unique<cli::CliSession>(m_settings, m_out, m_err);
    auto output = std::make_unique<cli::KeptOutput>(m_out, m_err);
    m_output = output.get();
    m_session->setOutput(std::move(output));
    m_session->setStopSignal([this] { return stopSignal(); });
    m_session->setBurningNotice([this](bool burning) { m_burning = burning; });

    ExitStatus status;
    {
        py::gil_scoped_release release;
        status = m_session->open(arguments);
    }
    passOnNotes();
    if (status != ExitStatus::Ok) {
        const QString message = m_output->message();
        const QJsonObject details = m_output->json();
        m_session.reset();
        raiseFailure(status, message, details, PortStage::Opening);
    }
    QObject::connect(m_session->operations(), &control::ChipOperations::progressed,
                     m_session->operations(),
                     [this](int done, int total) { reportProgress(done, total); });
}

Board::~Board()
{
    // Dropped without close(): the trace is still written, the port closed.
    if (m_session) {
        py::gil_scoped_release release;
        m_session->close();
    }
}

void Board::requireOpen() const
{
    if (!m_session)
        throw py::value_error("the board is closed");
}

const QJsonObject &Board::run(const Command &command)
{
    requireOpen();
    ExitStatus status;
    {
        py::gil_scoped_release release;
        const std::lock_guard lock(m_busy);
        m_output->clear();
        m_stop = 0;
        m_nextSignalCheck = std::chrono::steady_clock::now() + signalCheckInterval;
        status = m_session->command(command);
    }
    passOnNotes();
    if (m_pending) {
        // Ctrl-C: Python's KeyboardInterrupt, with what the command did before it stopped.
        py::error_already_set pending = std::move(*m_pending);
        m_pending.reset();
        if (status == ExitStatus::Interrupted && pending.matches(PyExc_KeyboardInterrupt))
            raiseFailure(status, m_output->message(), m_output->json());
        throw pending;
    }
    if (status != ExitStatus::Ok)
        raiseFailure(status, m_output->message(), m_output->json());
    return m_output->json();
}

int Board::stopSignal()
{
    if (m_stop != 0 || m_burning)
        return m_stop;
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextSignalCheck)
        return 0;
    m_nextSignalCheck = now + signalCheckInterval;
    const py::gil_scoped_acquire gil;
    // Runs Python's handlers: the default one for SIGINT raises KeyboardInterrupt.
    if (PyErr_CheckSignals() != 0) {
        m_pending.emplace();
        m_stop = SIGINT;
    }
    return m_stop;
}

void Board::reportProgress(int done, int total)
{
    const py::gil_scoped_acquire gil;
    if (m_progress.is_none() || m_pending)
        return;
    try {
        m_progress(done, total);
    } catch (py::error_already_set &error) {
        // The callback's exception stops the operation as Ctrl-C would, and is raised after.
        m_pending.emplace(std::move(error));
        m_stop = SIGINT;
    }
}

void Board::passOnNotes()
{
    if (!m_output)
        return;
    const QStringList notes = m_output->takeNotes();
    if (notes.isEmpty())
        return;
    const py::object warn = py::module_::import("warnings").attr("warn");
    for (const QString &note : notes)
        warn(toPython(QJsonValue(note)), py::module_::import("builtins").attr("UserWarning"), 2);
}

void Board::setProgress(py::object callback)
{
    if (!callback.is_none() && !PyCallable_Check(callback.ptr()))
        throw py::type_error("progress must be callable as progress(done, total), or None");
    m_progress = std::move(callback);
}

py::dict Board::read()
{
    Command command;
    command.kind = Command::Kind::Read;
    return resultDict(run(command));
}

int Board::get(const py::handle &channel)
{
    Command command;
    command.kind = Command::Kind::Get;
    command.channel = channelIndexOf(channel);
    const QJsonObject &json = run(command);
    return json.value(QStringLiteral("channels"))
        .toArray()
        .at(0)
        .toObject()
        .value(QStringLiteral("code"))
        .toInt();
}

void Board::setCode(const py::handle &channel, const py::handle &code, bool verify)
{
    Command command;
    command.kind = Command::Kind::Code;
    command.channel = channelIndexOf(channel);
    command.code = codeOf(code);
    command.verify = verify;
    run(command);
}

py::dict Board::setVoltage(const py::handle &channel, double volts, bool verify)
{
    Command command;
    command.kind = Command::Kind::Set;
    command.channel = channelIndexOf(channel);
    command.volts = voltsOf(volts);
    command.verify = verify;
    return resultDict(run(command));
}

py::dict Board::load(const py::handle &path, bool verify)
{
    Command command;
    command.kind = Command::Kind::Load;
    command.path = pathOf(path);
    command.verify = verify;
    return resultDict(run(command));
}

py::dict Board::save(const py::handle &path)
{
    Command command;
    command.kind = Command::Kind::Save;
    command.path = pathOf(path);
    return resultDict(run(command));
}

py::dict Board::verify(const py::handle &path)
{
    Command command;
    command.kind = Command::Kind::Verify;
    command.path = pathOf(path);
    try {
        return resultDict(run(command));
    } catch (py::error_already_set &error) {
        // A register that differs is the answer asked for, not a failure of verify().
        if (!error.matches(exceptionClass(ExitStatus::Differs)))
            throw;
        return error.value().attr("details").cast<py::dict>();
    }
}

void Board::reset()
{
    Command command;
    command.kind = Command::Kind::Reset;
    run(command);
}

py::dict Board::selftest()
{
    Command command;
    command.kind = Command::Kind::SelfTest;
    return resultDict(run(command));
}

py::list Board::scan()
{
    Command command;
    command.kind = Command::Kind::Scan;
    QJsonArray chips;
    try {
        chips = run(command).value(QStringLiteral("chips")).toArray();
    } catch (py::error_already_set &error) {
        // No chip at either address is an answer too: the empty list.
        if (!error.matches(exceptionClass(ExitStatus::ChipSilent)))
            throw;
    }
    py::list found;
    for (const QJsonValue &chip : std::as_const(chips)) {
        if (chip.toObject().value(QStringLiteral("answered")).toBool())
            found.append(chip.toObject().value(QStringLiteral("a0")).toInt());
    }
    return found;
}

py::dict Board::burn(const py::handle &channels, const py::handle &confirm)
{
    Command command;
    setBurnTarget(command, channels);
    // Only True itself: a truthy value passed by mistake must not burn.
    if (!confirm.is(py::bool_(true))) {
        requireOpen();
        raiseFailure(ExitStatus::BurnRefused,
                     QStringLiteral("%1 burns one-time-programmable memory, which cannot be "
                                    "undone: give confirm=True to go ahead")
                         .arg(cli::commandName(command.kind)),
                     {});
    }
    return resultDict(run(command));
}

int Board::a0() const
{
    requireOpen();
    return m_session->model().a0Index();
}

void Board::setA0(int a0)
{
    requireOpen();
    if (a0 != 0 && a0 != 1)
        refuseArgument(QStringLiteral("a0: \"%1\" is not 0 or 1").arg(a0));
    // The lock after the GIL: the bus may be waiting for the GIL with the lock held.
    py::gil_scoped_release release;
    const std::lock_guard lock(m_busy);
    m_session->setA0(QString::number(a0));
}

std::optional<double> Board::vsup() const
{
    requireOpen();
    const device::DeviceModel &model = m_session->model();
    if (model.vsup > model.vlow)
        return model.vsup;
    return std::nullopt;
}

void Board::setVsup(std::optional<double> vsup)
{
    requireOpen();
    if (vsup && (!std::isfinite(*vsup) || *vsup <= 0))
        refuseArgument(QStringLiteral("vsup: \"%1\" is not a voltage above 0").arg(*vsup));
    py::gil_scoped_release release;
    const std::lock_guard lock(m_busy);
    m_session->setVsup(vsup);
}

void Board::close()
{
    if (!m_session)
        return;
    ExitStatus status;
    {
        py::gil_scoped_release release;
        const std::lock_guard lock(m_busy);
        m_output->clear();
        status = m_session->close();
    }
    passOnNotes();
    const QString message = m_output->message();
    m_session.reset();
    m_output = nullptr;
    if (status != ExitStatus::Ok)
        raiseFailure(status, message, {});
}

void Board::requireSimulated() const
{
    requireOpen();
    if (!m_port.section(u'=', -1).startsWith(QStringLiteral("sim")))
        throw py::value_error("only a simulated board (\"sim\" ports) takes this");
}

void Board::simulateChipPresent(int a0, bool present)
{
    requireSimulated();
    m_session->simulatedBoard().setChipPresent(a0 & 1, present);
}

void Board::simulateRegister(int a0, int reg, int code)
{
    requireSimulated();
    if (reg < 0 || reg >= device::channelCount)
        throw py::value_error("a channel register is 0 to 23");
    m_session->simulatedBoard().chip(a0 & 1).setDacRegister(reg, quint16(code));
}

void Board::simulateUnplugAfter(int operations)
{
    requireSimulated();
    if (m_port.section(u'=', -1).startsWith(QStringLiteral("sim-ft232r")))
        m_session->busStack().virtualAdapter().unplugAfter(operations);
    else
        m_session->simulatedPort().unplugAfter(operations);
}

} // namespace python
