#pragma once

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "control/chipoperations.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace device {
struct DeviceModel;
}

namespace cli {

class Output;

// The tool's commands that work on the chip, on top of the program's chip operations. The model
// holds the A0 and Vsup in use and the codes the commands wrote; each command reports its result
// or its failure to the output and returns the exit status it calls for.
class ChipCommands
{
public:
    ChipCommands(control::ChipOperations &operations, device::DeviceModel &model, Output &output);

    // Every command but ports and script.
    ExitStatus execute(const Command &command);

private:
    // The word a channel register read as.
    struct ChannelReading
    {
        int index = 0;
        int word = 0;
    };

    ExitStatus readAll();
    ExitStatus getChannel(int index);
    ExitStatus writeCode(int index, int code, const QString &commandName, const QJsonObject &extra,
                         const QString &prefix);
    ExitStatus setVoltage(int index, double volts);
    ExitStatus loadFile(const QString &path);
    ExitStatus saveFile(const QString &path);
    ExitStatus resetChip();
    ExitStatus burnChannel(int index);
    ExitStatus burnAll();

    QList<ChannelReading> readingsOf(const control::ChipReading &reading) const;
    ExitStatus requireVsup(const QString &commandName);
    ExitStatus checkPort(const control::OperationResult &result);
    ExitStatus checkAnswered(const QList<ChannelReading> &readings);
    ExitStatus checkBurnable(const QList<ChannelReading> &readings);

    QJsonObject channelObject(int index, double code) const;
    QString voltageText(double code) const;
    ExitStatus fail(ExitStatus status, const QString &message);

    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    Output &m_output;
};

} // namespace cli
