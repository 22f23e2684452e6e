// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clicommand.h"
#include "cli/commandcontext.h"
#include "cli/exitstatus.h"
#include "device/registersetfile.h"

#include <QString>
#include <functional>
#include <optional>

namespace cli {

// load, save, verify and play: the chip against register-set files. A file is read when its
// command runs, so a script acts on it as an earlier line left it.
class FileCommands
{
public:
    explicit FileCommands(CommandContext &context);

    // The wait of play's delay: returns false when a stop cut it short.
    void setWait(std::function<bool(double seconds)> wait) { m_wait = std::move(wait); }

    ExitStatus loadFile(const Command &command);
    ExitStatus saveFile(const QString &path);
    ExitStatus verifyFile(const QString &path);
    ExitStatus play(const Command &command);

private:
    using ChannelReading = CommandContext::ChannelReading;
    using ChannelFacts = CommandContext::ChannelFacts;

    // A file's codes as loading it leaves them on the chip, and as they go over the wire.
    struct LoadedSet
    {
        device::RegisterSet set;
        control::ChannelCodes codes{};
    };

    // The file as it is now: a file that changed since the run began is read anew.
    std::optional<LoadedSet> loadedSet(const QString &path, QString *error) const;
    // Writes the 24 codes; `written` counts the channels that went out.
    control::OperationResult writeSet(const LoadedSet &loaded, int &written);

    CommandContext &m_context;
    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    Output &m_output;
    std::function<bool(double)> m_wait;
};

} // namespace cli
