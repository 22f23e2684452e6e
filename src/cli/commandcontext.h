// SPDX-License-Identifier: MIT
#pragma once

#include "cli/exitstatus.h"
#include "control/burnreport.h"
#include "control/chipoperations.h"
#include "device/devicemodel.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace cli {

class Output;

// What every chip command of the tool works with, and how it reports: the operations, the model
// (the A0 and Vsup in use, the codes written), the output, the command under way, the stop asked
// for, and the session's picture of the codes that burns use. Each command reports exactly one
// result or one failure through it.
class CommandContext
{
public:
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

    static constexpr int largestCode = 1023;

    CommandContext(control::ChipOperations &operations, device::DeviceModel &model, Output &output);

    control::ChipOperations &operations() { return m_operations; }
    device::DeviceModel &model() { return m_model; }
    Output &output() { return m_output; }

    // The command under way, for its messages, and whether it talks to the chip at the A0 in
    // use (the general call, the scan and the self-test address no chip of their own).
    void beginCommand(const QString &name, bool addressesChip);

    // The signal that asked the run to stop, 0 while none did. It stops a long operation
    // between two frames, unless stops are held.
    void setStopSignal(std::function<int()> received);
    int stopSignal() const;
    // From holdStops() to releaseStops(), a stop waits for the end of what is under way.
    void holdStops() { m_holdStops = true; }
    void releaseStops() { m_holdStops = false; }

    // The session's picture of the 24 codes, which burns use. A burn's general-call reset
    // reloads the chip from OTP, so the chip's registers no longer tell what the user set.
    const std::optional<double> &pictured(int index) const
    {
        return m_picture[std::size_t(index - 1)];
    }
    void setPictured(int index, double code) { m_picture[std::size_t(index - 1)] = code; }
    void forgetPicture() { m_picture = {}; }

    // Reads back the registers written and names those that differ, in the model's words.
    ExitStatus readBack(const QList<int> &indices, const control::ChannelCodes &sent,
                        QList<ChannelReading> &readings);
    QString differenceText(const QList<int> &indices, const control::ChannelCodes &sent,
                           const QList<ChannelReading> &readings) const;

    QList<ChannelReading> readingsOf(const control::ChipReading &reading) const;
    ExitStatus checkPort(const control::OperationResult &result);
    // The port held and the chip acknowledged every frame of `operation` ("reset").
    ExitStatus checkHeard(const control::OperationResult &result, const QString &operation);
    // "SDA is held low, ..." with what it may mean.
    static QString sdaHeldText();
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
    void report(const QJsonObject &json, const QString &text);
    ExitStatus fail(ExitStatus status, const QString &message, const QJsonObject &details = {});
    // The command stopped early for a signal: what it did, and the signal's status.
    ExitStatus stopped(const QString &what, const QJsonObject &details);

private:
    // The command's object gets the A0 and Vsup in use where it has none of its own.
    QJsonObject withChip(QJsonObject json) const;

    control::ChipOperations &m_operations;
    device::DeviceModel &m_model;
    Output &m_output;
    std::array<std::optional<double>, device::channelCount> m_picture;
    std::function<int()> m_stopSignal;
    QString m_commandName;
    bool m_addressesChip = false;
    bool m_holdStops = false;
    bool m_vsupHintGiven = false;
};

// A value, or null in the JSON object.
inline QJsonValue orNull(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

inline QJsonValue orNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Full scale goes out as 1023.
inline int wireCode(double code)
{
    return control::BurnReport::codeOnTheWire(code);
}

} // namespace cli
