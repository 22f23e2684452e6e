#pragma once

#include "cli/exitstatus.h"
#include "device/registersetfile.h"

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
        SelfTest
    };

    Kind kind = Kind::Read;
    int channel = 0; // index 1 to 24
    int code = 0;
    double volts = 0;
    QString path; // Load, Save, Script ("-" = standard input)
    // Load: the file, read and checked before the bus is touched.
    std::optional<device::RegisterSet> registerSet;

    // Every command but ports and script runs transactions on the bus.
    bool usesBus() const { return kind != Kind::Ports && kind != Kind::Script; }
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

// The channel index for an on-screen name ("1" to "22", "c1", "c2"); nothing for anything else.
std::optional<int> channelOfName(const QString &name);

// A script line as words: blanks separate them, double quotes keep blanks inside one, and a word
// starting with "#" begins a comment. Nothing on an unclosed quote (with the reason in *error).
std::optional<QStringList> splitScriptLine(const QString &line, QString *error);

} // namespace cli
