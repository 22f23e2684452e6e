// SPDX-License-Identifier: MIT
#pragma once

#include "cli/commandcontext.h"
#include "cli/exitstatus.h"

#include <QList>
#include <functional>

namespace cli {

// otp and otp-all: the codes the session set (or, for the others, what the chip holds) burned
// through the program's one burn policy. Once committed, a burn runs whole.
class BurnCommands
{
public:
    explicit BurnCommands(CommandContext &context);

    // Told when a burn begins and ends: a signal meanwhile cannot stop it.
    void setBurningNotice(std::function<void(bool)> notice) { m_burning = std::move(notice); }

    ExitStatus burn(const QList<int> &indices);

private:
    using ChannelReading = CommandContext::ChannelReading;
    using ChannelFacts = CommandContext::ChannelFacts;

    // The codes to burn: what this session set, else (read once) what the chip holds.
    ExitStatus pictureFor(const QList<int> &indices);

    CommandContext &m_context;
    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    std::function<void(bool)> m_burning;
};

} // namespace cli
