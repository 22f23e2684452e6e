// SPDX-License-Identifier: MIT
#pragma once

#include "bus/chipbus.h"
#include "cli/chipcommands.h"
#include "cli/clioptions.h"
#include "cli/exitstatus.h"
#include "cli/output.h"
#include "cli/progressline.h"
#include "cli/sessionport.h"
#include "control/chipoperations.h"
#include "device/devicemodel.h"
#include "port/portmap.h"
#include "stack/busstack.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class QTextStream;

namespace device {
class SettingsStore;
}

namespace cli {

// One run of the command-line tool: options, then one command or a script of them, on one port
// that stays open throughout. Reading never writes the chip; every argument (and every line of a
// script) is checked before the bus is touched.
class CliSession
{
public:
    CliSession(device::SettingsStore &settings, QTextStream &out, QTextStream &err);

    // Long commands show their progress on the error stream when it is a terminal.
    void setErrorsOnTerminal(bool terminal) { m_errorsOnTerminal = terminal; }
    ~CliSession();
    Q_DISABLE_COPY_MOVE(CliSession)

    // The signal that asked the run to stop (0: none), and who hears when a burn begins and ends
    // (a signal cannot stop one). The tool's own signals in the tool; tests stand in for them.
    void setStopSignal(std::function<int()> received) { m_stopSignal = std::move(received); }
    void setBurningNotice(std::function<void(bool)> notice) { m_burning = std::move(notice); }

    // What "script -" reads; standard input in the tool.
    void setInput(QIODevice *input) { m_input = input; }
    // The table the port names start from. Tests point every COM number away from real devices.
    void setPortMap(const port::PortMap &map) { m_port.setBaseMap(map); }
    // The board behind "--port sim": tests prepare its chips before run() and look at them after.
    sim::SimulatedBoard &simulatedBoard() { return m_stack.board(); }
    // Its port, which tests may pull out mid-command.
    sim::SimulatedComPort &simulatedPort() { return m_stack.simulatedPort(); }
    // The stack itself, whose virtual FT232R and map tests look at.
    stack::BusStack &busStack() { return m_stack; }
    // Where burns are logged; the user's data folder unless a test points it elsewhere.
    void setBurnLogPath(const QString &path) { m_burnLogPath = path; }

    // Arguments start with the program's name. Returns the exit status.
    int run(const QStringList &arguments);

    // Where results and failures go; the tool's text unless --json, or this one when set first.
    void setOutput(std::unique_ptr<Output> output) { m_output = std::move(output); }

    // A session held open for a program that gives its commands one by one (the Python module).
    // open() takes the options alone (no command), reads the settings and opens the port, which
    // stays open; each command() then runs as a line of a script would, its files checked
    // first; close() writes the trace. Each reports to the output.
    ExitStatus open(const QStringList &arguments);
    ExitStatus command(const Command &command);
    ExitStatus close();
    bool isOpen() const { return m_operations != nullptr; }
    // The chip addressed from now on; the Vsup follows it unless the options gave one.
    void setA0(const QString &a0Pin);
    // The board's Vsup from now on; nothing: the one stored for the A0 (unknown when none is).
    void setVsup(std::optional<double> vsup);
    const device::DeviceModel &model() const { return m_model; }
    control::ChipOperations *operations() const { return m_operations.get(); }

private:
    ExitStatus runArguments(const QStringList &arguments);
    // Every file a line reads or writes, and the burn log, checked before the bus moves.
    ExitStatus checkFiles();
    ExitStatus applySettings(bool forBus);
    ExitStatus requireVsup();
    ExitStatus prepareBus();
    ExitStatus openPort();
    ExitStatus finishTrace(ExitStatus status);
    ExitStatus execute(const Command &command);
    ExitStatus listPorts();
    ExitStatus listBurns();
    ExitStatus diagnose(const Command &command);
    ExitStatus sleep(double seconds);
    // Waits, a stop cutting it short: false then.
    bool wait(double seconds) const;
    int stopSignal() const { return m_stopSignal ? m_stopSignal() : 0; }
    // The run stops before `entry` (nothing when it is the end) for the signal received.
    ExitStatus stopBefore(const ScriptLine *entry, int linesRun);

    // Failures and results of a script's line name the script and the line.
    void showLine(const ScriptLine &entry);
    ExitStatus fail(ExitStatus status, const QString &message);

    device::SettingsStore &m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_errorsOnTerminal = false;
    std::unique_ptr<ProgressLine> m_progress;
    QIODevice *m_input = nullptr;

    CliOptions m_options;
    std::unique_ptr<Output> m_output;

    device::DeviceModel m_model;

    stack::BusStack m_stack;
    SessionPort m_port{m_stack, m_settings, m_options};
    std::unique_ptr<control::ChipOperations> m_operations;
    std::unique_ptr<ChipCommands> m_commands;
    bool m_portOpened = false;
    QString m_burnLogPath = control::BurnLog::defaultPath();
    std::function<int()> m_stopSignal;
    std::function<void(bool)> m_burning;
};

} // namespace cli
