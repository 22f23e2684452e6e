#pragma once

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "stack/simulatedfaults.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

class QIODevice;

namespace cli {

// Where the tool finds its port: the stored one, a COM number, a device path or the simulated
// board.
struct PortChoice
{
    enum class Kind { Stored, Number, Device, Simulated, FtdiSerial };
    Kind kind = Kind::Stored;
    int number = 0;
    QString devicePath;
    std::chrono::microseconds simulatedDelay{0}; // per line operation, or per USB transfer
    bool fastMode = false;                       // Number: COMn=ftdi
    bool virtualAdapter = false;                 // Simulated: sim-ft232r
    QString ftdiSerial;                          // FtdiSerial only
};

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
    PortChoice port;
    std::optional<QString> a0;
    std::optional<double> vsup;
    QString tracePath;
    stack::SimulatedFaults simFaults; // --sim-fault, for the simulated board only
    QList<ScriptLine> commands;
    QString scriptName; // how a script's lines name their file, empty without a script
};

// What the options and the command (or every line of its script) say, or why they cannot run:
// the status and the message to show.
struct ParsedOptions
{
    CliOptions options;
    ExitStatus status = ExitStatus::Ok;
    QString error;
};

// Arguments start with the program's name. "script -" reads input (standard input in the tool).
ParsedOptions parseOptions(const QStringList &arguments, QIODevice *input);

QString helpText();
QString versionText();

} // namespace cli
