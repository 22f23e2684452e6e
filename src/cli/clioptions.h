// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "port/portmap.h"
#include "stack/simulatedfaults.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

class QIODevice;

namespace cli {

// A command and the script line it came from (0 on the command line).
struct ScriptLine
{
    int line = 0;
    Command command;
};

// Everything the arguments ask for, checked before anything runs.
struct CliOptions
{
    enum class Action { Run, ShowHelp, ShowVersion };

    Action action = Action::Run;
    bool json = false;
    // The port in the grammar of both programs; nothing: the port the KALVENTA program stored.
    std::optional<port::PortOverride> port;
    std::optional<QString> a0;
    std::optional<double> vsup;
    QString tracePath;
    stack::SimulatedFaults simFaults; // --sim-fault, for the simulated board only
    // The port's modes for this run; nothing: the choice remembered in "COM Setting".
    std::optional<bool> fastMode;
    enum class Skipping { Remembered, On, Off, Auto };
    Skipping skipIdleWrites = Skipping::Remembered;
    bool verify = false;  // every code, set and load reads back what it wrote
    bool noLog = false;   // burn even when the burn log cannot be written
    bool verbose = false; // the log on standard error
    QList<ScriptLine> commands;
    QString scriptName; // how a script's lines name their file, empty without a script

    bool simulated() const { return port && port->simulated; }
};

// What the options and the command (or every line of its script) say, or why they cannot run:
// the status and the message to show.
struct ParsedOptions
{
    CliOptions options;
    ExitStatus status = ExitStatus::Ok;
    QString error;
    // Where a refusal lies: the script's line, or nothing before any command is known.
    int line = 0;
    QString command;
};

// Arguments start with the program's name. "script -" reads input (standard input in the tool).
ParsedOptions parseOptions(const QStringList &arguments, QIODevice *input);
// The options alone, for a session held open that is given its commands one by one.
ParsedOptions parseSessionOptions(const QStringList &arguments);

QString helpText();
QString versionText();

} // namespace cli
