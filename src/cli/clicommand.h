// SPDX-License-Identifier: MIT
#pragma once

#include "cli/exitstatus.h"
#include "device/registersetfile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

// One command of the tool, checked and ready to run: a channel is already its index, a number
// its value.
struct Command
{
    enum class Kind {
        Ports,
        Read,
        Get,
        Code,
        Set,
        Load,
        Save,
        Reset,
        Otp,
        OtpAll,
        Script,
        Scan,
        SelfTest,
        Verify,
        Play,
        Sleep,
        Marker,
        Burns,
        Diagnose,
        Help
    };

    Kind kind = Kind::Read;
    int channel = 0;     // index 1 to 24
    QList<int> channels; // Otp: several channels, burned in this order (instead of channel)
    int code = 0;
    double volts = 0;
    QString path;       // Load, Save, Verify, Script ("-" = standard input); Diagnose ("" = output)
    QStringList paths;  // Play: the files, or one folder
    double seconds = 0; // Sleep, and Play's delay after each file
    std::optional<int> passes = 1; // Play: how often the files are played; nothing = forever
    bool verify = false;           // Code, Set, Load: read each written register back
    bool busChecks = false;        // Diagnose: the wiring self-test and the chip scan too

    // Every command but these runs transactions on the bus. Diagnose opens the port itself,
    // and only for its bus checks: its report is written even when the port cannot be opened.
    bool usesBus() const
    {
        return kind != Kind::Ports && kind != Kind::Script && kind != Kind::Sleep &&
               kind != Kind::Burns && kind != Kind::Help && kind != Kind::Diagnose;
    }
    bool burns() const { return kind == Kind::Otp || kind == Kind::OtpAll; }
    bool writes() const { return kind == Kind::Code || kind == Kind::Set || kind == Kind::Load; }
};

struct ParsedCommand
{
    std::optional<Command> command;
    ExitStatus status = ExitStatus::Ok; // why it was refused
    QString error;
};

// The command's name as typed: "read", "otp-all".
QString commandName(Command::Kind kind);

// The words of one command: its name and arguments, as on the command line or a script line.
ParsedCommand parseCommand(const QStringList &words);

// The channel index for an on-screen name ("1" to "22", "c1", "c2") or a register ("0x00" to
// "0x17"); nothing for anything else.
std::optional<int> channelOfName(const QString &name);
// A code as engineers type it: 0 to 1024, decimal or hex ("0x3ff"); nothing for anything else.
std::optional<int> codeOfText(const QString &text);
// Seconds as a plain number, 0 or more (at most a day); nothing for anything else.
std::optional<double> secondsOfText(const QString &text);

// A script line as words: blanks separate them, double quotes keep blanks inside one, and a word
// starting with "#" begins a comment. Nothing on an unclosed quote (with the reason in *error).
std::optional<QStringList> splitScriptLine(const QString &line, QString *error);

} // namespace cli
