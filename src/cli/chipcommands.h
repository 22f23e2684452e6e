#pragma once

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "control/chipoperations.h"
#include "device/devicemodel.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>

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

    // The signal that asked the run to stop, 0 while none did.
    void setStopSignal(std::function<int()> received) { m_stopSignal = std::move(received); }
    // Told when a burn begins and ends: a signal meanwhile cannot stop it.
    void setBurningNotice(std::function<void(bool)> notice) { m_burning = std::move(notice); }
    // "SDA is held low, ..." with what it may mean.
    static QString sdaHeldText();

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
    ExitStatus loadFile(const Command &command);
    ExitStatus saveFile(const QString &path);
    ExitStatus resetChip();
    ExitStatus burn(const QString &commandName, const QList<int> &indices);
    ExitStatus scan();
    ExitStatus selfTest();
    // The codes to burn: what this session set, else (read once) what the chip holds.
    ExitStatus pictureFor(const QList<int> &indices);

    QList<ChannelReading> readingsOf(const control::ChipReading &reading) const;
    ExitStatus checkPort(const control::OperationResult &result);
    // The port held and the chip acknowledged every frame of `operation` ("reset").
    ExitStatus checkHeard(const control::OperationResult &result, const QString &operation);
    ExitStatus checkAnswered(const QList<ChannelReading> &readings);
    ExitStatus checkBurnable(const QList<ChannelReading> &readings);

    QJsonObject channelObject(int index, double code) const;
    QString voltageText(double code) const;
    ExitStatus fail(ExitStatus status, const QString &message, const QJsonObject &details = {});
    int stopSignal() const;
    // The command stopped early for a signal: what it did, and the signal's status.
    ExitStatus stopped(const QString &what, const QJsonObject &details);

    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    Output &m_output;
    // The session's picture of the 24 codes, which burns use. A burn's general-call reset
    // reloads the chip from OTP, so the chip's registers no longer tell what the user set.
    std::array<std::optional<double>, device::channelCount> m_picture;
    std::function<int()> m_stopSignal;
    std::function<void(bool)> m_burning;
};

} // namespace cli
