// SPDX-License-Identifier: MIT
#pragma once

#include "port/portmap.h"
#include "stack/simulatedfaults.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace app {

// What the command line asks of a run. A new option adds a field here and its reading in
// CommandLine::parse.
struct LaunchOptions
{
    bool simulate = false;                   // the simulated board at COM1, with a store of its own
    QList<port::PortOverride> portOverrides; // --port COMn=PATH / COMn=sim, in the given order
    QString tracePath;                       // --trace: the bus trace written at exit
    stack::SimulatedFaults simFaults;        // --sim-fault: the simulated board misbehaves
    QString offeredFile;                     // FILE.csv: offered for loading after the first read
    bool verbose = false;                    // --verbose: the log on standard error
};

// The program's command line: --simulate, --port (repeatable), --trace, --sim-fault
// (repeatable), --verbose, --help, --version, and one register-set file.
class CommandLine
{
public:
    enum class Result { Run, ShowHelp, ShowVersion, Error };

    CommandLine();

    // The arguments include the program name first, as QCoreApplication::arguments() gives them.
    Result parse(const QStringList &arguments);

    const LaunchOptions &options() const { return m_options; }
    // Why the command line was refused; set when parse gave Error.
    QString errorText() const { return m_errorText; }
    // The last parse met options it does not know, perhaps the toolkit's own (-platform ...),
    // which only the application object takes off the command line.
    bool sawUnknownOptions() const { return !m_parser.unknownOptionNames().isEmpty(); }
    QString helpText() const { return m_parser.helpText(); }

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_simulate;
    QCommandLineOption m_port;
    QCommandLineOption m_trace;
    QCommandLineOption m_simFault;
    QCommandLineOption m_verbose;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    LaunchOptions m_options;
    QString m_errorText;
};

} // namespace app
