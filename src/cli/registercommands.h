// SPDX-License-Identifier: MIT
#pragma once

#include "cli/commandcontext.h"
#include "cli/exitstatus.h"

#include <QJsonObject>
#include <QString>

namespace cli {

// read, get, code and set: the channel registers one by one or all at once.
class RegisterCommands
{
public:
    explicit RegisterCommands(CommandContext &context);

    // The 24 channel registers and the max bank.
    ExitStatus readAll();
    ExitStatus getChannel(int index);
    // One DAC register write, read back when `verify` asks for it.
    ExitStatus writeCode(int index, int code, bool verify)
    {
        return writeCode(index, code, verify, {}, {});
    }
    ExitStatus setVoltage(int index, double volts, bool verify);

private:
    using ChannelReading = CommandContext::ChannelReading;
    using ChannelFacts = CommandContext::ChannelFacts;

    // `json` holds what the command adds of its own; `prefix` goes before "wrote".
    ExitStatus writeCode(int index, int code, bool verify, QJsonObject json, const QString &prefix);

    CommandContext &m_context;
    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    Output &m_output;
};

} // namespace cli
