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
// holds the A0 and Vsup in use and the codes the commands wrote; each command reports exactly
// one result or one failure to the output and returns the exit status it calls for.
class ChipCommands
{
public:
    ChipCommands(control::ChipOperations &operations, device::DeviceModel &model, Output &output);

    // Every command that uses the bus.
    ExitStatus execute(const Command &command);

    // The signal that asked the run to stop, 0 while none did. It stops a long operation
    // between two frames, except a burn and the file that play has under way.
    void setStopSignal(std::function<int()> received);
    // Told when a burn begins and ends: a signal meanwhile cannot stop it.
    void setBurningNotice(std::function<void(bool)> notice) { m_burning = std::move(notice); }
    // The wait of play's delay: returns false when a stop cut it short.
    void setWait(std::function<bool(double seconds)> wait) { m_wait = std::move(wait); }
    // "SDA is held low, ..." with what it may mean.
    static QString sdaHeldText();

private:
    // The word a channel register read as.
    struct ChannelReading
    {
        int index = 0;
        int word = 0;
    };
    // What one command knows of one channel; the JSON object has every key, null where unknown.
    struct ChannelFacts
    {
        std::optional<double> code;
        std::optional<int> sent;
        std::optional<double> file;
        std::optional<int> readBack;
    };
    // A file's codes as loading it leaves them on the chip, and as they go over the wire.
    struct LoadedSet
    {
        device::RegisterSet set;
        control::ChannelCodes codes{};
    };

    ExitStatus readAll();
    ExitStatus getChannel(int index);
    ExitStatus writeCode(int index, int code, bool verify, QJsonObject json, const QString &prefix);
    ExitStatus setVoltage(int index, double volts, bool verify);
    ExitStatus loadFile(const Command &command);
    ExitStatus saveFile(const QString &path);
    ExitStatus verifyFile(const QString &path);
    ExitStatus resetChip();
    ExitStatus burn(const QList<int> &indices);
    ExitStatus scan();
    ExitStatus selfTest();
    ExitStatus sendMarker();
    ExitStatus play(const Command &command);
    // The codes to burn: what this session set, else (read once) what the chip holds.
    ExitStatus pictureFor(const QList<int> &indices);

    // The file as it is now: a file that changed since the run began is read anew.
    std::optional<LoadedSet> loadedSet(const QString &path, QString *error) const;
    // Writes the 24 codes; `written` counts the channels that went out.
    control::OperationResult writeSet(const LoadedSet &loaded, int &written);
    // Reads back the registers written and names those that differ, in the model's words.
    ExitStatus readBack(const QList<int> &indices, const control::ChannelCodes &sent,
                        QList<ChannelReading> &readings);
    QString differenceText(const QList<int> &indices, const control::ChannelCodes &sent,
                           const QList<ChannelReading> &readings) const;

    QList<ChannelReading> readingsOf(const control::ChipReading &reading) const;
    ExitStatus checkPort(const control::OperationResult &result);
    // The port held and the chip acknowledged every frame of `operation` ("reset").
    ExitStatus checkHeard(const control::OperationResult &result, const QString &operation);
    // Why the readings cannot be the chip's (a register no chip drove), empty when they can.
    QString silentProblem(const QList<ChannelReading> &readings) const;
    QString unburnableProblem(const QList<ChannelReading> &readings) const;

    QJsonObject channelObject(int index, const ChannelFacts &facts,
                              const device::DeviceModel &model) const;
    QJsonObject channelObject(int index, const ChannelFacts &facts) const
    {
        return channelObject(index, facts, m_model);
    }
    QString voltageText(double code) const;
    // The note that voltages are unknown, once per run.
    void hintUnknownVsup();
    // The command's object gets the A0 and Vsup in use where it has none of its own.
    QJsonObject withChip(QJsonObject json) const;
    void report(const QJsonObject &json, const QString &text);
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
    std::function<bool(double)> m_wait;
    QString m_commandName;        // of the command under way, for its messages
    bool m_addressesChip = false; // the command under way talks to the chip at the A0 in use
    bool m_holdStops = false;     // a stop waits for the end of what is under way
    bool m_vsupHintGiven = false;
};

} // namespace cli
