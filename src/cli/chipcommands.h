// SPDX-License-Identifier: MIT
#pragma once

#include "cli/burncommands.h"
#include "cli/clicommand.h"
#include "cli/commandcontext.h"
#include "cli/exitstatus.h"
#include "cli/filecommands.h"
#include "cli/registercommands.h"
#include "control/chipoperations.h"
#include "device/devicemodel.h"

#include <functional>

namespace cli {

class Output;

// The tool's commands that work on the chip, on top of the program's chip operations. The model
// holds the A0 and Vsup in use and the codes the commands wrote; each command reports exactly
// one result or one failure to the output and returns the exit status it calls for. The
// commands on registers, on files and the burns have classes of their own; the ones that
// address no particular chip (reset, scan, selftest, marker) are here.
class ChipCommands
{
public:
    ChipCommands(control::ChipOperations &operations, device::DeviceModel &model, Output &output);

    // Every command that uses the bus.
    ExitStatus execute(const Command &command);

    // The signal that asked the run to stop, 0 while none did. It stops a long operation
    // between two frames, except a burn and the file that play has under way.
    void setStopSignal(std::function<int()> received)
    {
        m_context.setStopSignal(std::move(received));
    }
    // Told when a burn begins and ends: a signal meanwhile cannot stop it.
    void setBurningNotice(std::function<void(bool)> notice)
    {
        m_burns.setBurningNotice(std::move(notice));
    }
    // Another chip is addressed from now on: the codes this session set were the other's.
    void forgetPicture() { m_context.forgetPicture(); }
    // The wait of play's delay: returns false when a stop cut it short.
    void setWait(std::function<bool(double seconds)> wait) { m_files.setWait(std::move(wait)); }

private:
    ExitStatus resetChip();
    ExitStatus scan();
    ExitStatus selfTest();
    ExitStatus sendMarker();

    CommandContext m_context;
    RegisterCommands m_registers{m_context};
    FileCommands m_files{m_context};
    BurnCommands m_burns{m_context};
    control::ChipOperations &m_operations;
    Output &m_output;
};

} // namespace cli
