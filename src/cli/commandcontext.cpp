// SPDX-License-Identifier: MIT
#include "cli/commandcontext.h"

#include "cli/channeltext.h"
#include "cli/output.h"
#include "control/chiptexts.h"
#include "device/numbertext.h"

#include <QJsonArray>
#include <utility>

namespace cli {

namespace {

constexpr int silentWord = bus::ChipBus::silentWord;

} // namespace

CommandContext::CommandContext(control::ChipOperations &operations, device::DeviceModel &model,
                               Output &output)
    : m_operations(operations), m_model(model), m_output(output)
{}

void CommandContext::beginCommand(const QString &name, bool addressesChip)
{
    m_commandName = name;
    m_addressesChip = addressesChip;
}

void CommandContext::setStopSignal(std::function<int()> received)
{
    m_stopSignal = std::move(received);
    m_operations.setStopCheck([this] { return !m_holdStops && stopSignal() != 0; });
}

int CommandContext::stopSignal() const
{
    return m_stopSignal ? m_stopSignal() : 0;
}

ExitStatus CommandContext::readBack(const QList<int> &indices, const control::ChannelCodes &sent,
                                    QList<ChannelReading> &readings)
{
    readings.clear();
    m_holdStops = true; // a write is never left unchecked
    for (const int index : indices) {
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status = checkHeard(reading, QStringLiteral("the read-back"));
            status != ExitStatus::Ok) {
            m_holdStops = false;
            readings.clear();
            return status;
        }
        readings.append({index, reading.word});
    }
    m_holdStops = false;
    for (const ChannelReading &reading : std::as_const(readings)) {
        if (reading.word != sent[std::size_t(reading.index - 1)])
            return ExitStatus::Differs;
    }
    return ExitStatus::Ok;
}

QString CommandContext::differenceText(const QList<int> &indices, const control::ChannelCodes &sent,
                                       const QList<ChannelReading> &readings) const
{
    QString text = QStringLiteral("the read-back differs from what was written:");
    for (qsizetype i = 0; i < readings.size() && i < indices.size(); ++i) {
        const int index = indices.at(i);
        const int expected = sent[std::size_t(index - 1)];
        if (readings.at(i).word == expected)
            continue;
        text += QStringLiteral("\n  %1: wrote 0x%2, reads 0x%3")
                    .arg(channelText(index), device::shownCode(expected),
                         device::shownCode(readings.at(i).word));
    }
    return text;
}

QList<CommandContext::ChannelReading>
CommandContext::readingsOf(const control::ChipReading &reading) const
{
    QList<ChannelReading> readings;
    for (int index = 1; index <= reading.registersRead; ++index)
        readings.append({index, reading.word(index)});
    return readings;
}

ExitStatus CommandContext::checkPort(const control::OperationResult &result)
{
    if (result.portHeld())
        return ExitStatus::Ok;
    return fail(ExitStatus::PortUnavailable,
                QStringLiteral("the port failed during use: %1").arg(result.portFailure),
                {{QStringLiteral("portFailure"), result.portFailure}});
}

QString CommandContext::sdaHeldText()
{
    return QStringLiteral("SDA is held low, and a bus clear (nine clocks and a STOP) did not free "
                          "it: a chip without power, a short on SDA, or DSR stuck (selftest "
                          "tells which)");
}

// `operation` names what failed when it is not the command itself ("the read-back").
ExitStatus CommandContext::checkHeard(const control::OperationResult &result,
                                      const QString &operation)
{
    if (const ExitStatus status = checkPort(result); status != ExitStatus::Ok)
        return status;
    const QString what = operation.isEmpty() ? m_commandName : operation;
    if (result.busHeld) {
        return fail(ExitStatus::SdaHeld,
                    QStringLiteral("%1 did not reach the chip: %2").arg(what, sdaHeldText()),
                    {{QStringLiteral("cause"), QStringLiteral("SDA held low")}});
    }
    if (result.chipAnswered || result.cancelled)
        return ExitStatus::Ok;
    if (!m_addressesChip) {
        return fail(ExitStatus::ChipSilent,
                    QStringLiteral("no chip acknowledged the general-call reset: is the board "
                                   "powered? (scan finds the chips)"));
    }
    const QString during = operation.isEmpty() ? QString() : QStringLiteral(" during ") + operation;
    return fail(ExitStatus::ChipSilent,
                QStringLiteral("%1%2: %3 (scan finds the chips)")
                    .arg(control::ChipTexts::noChipAnswered(m_model.a0Pin), during,
                         control::ChipTexts::poweredAndA0Question()));
}

// A register that reads every bit released was not driven by any chip.
QString CommandContext::silentProblem(const QList<ChannelReading> &readings) const
{
    for (const ChannelReading &reading : readings) {
        if (reading.word == silentWord) {
            return QStringLiteral("%1: %2 read %3")
                .arg(control::ChipTexts::noChipAnswered(m_model.a0Pin), channelText(reading.index))
                .arg(reading.word);
        }
    }
    return {};
}

// What the chip gives above bit 9 is its own business, but such a word is not burned: the data
// bits would cut it to 1023, which the channel never showed.
QString CommandContext::unburnableProblem(const QList<ChannelReading> &readings) const
{
    for (const ChannelReading &reading : readings) {
        if (reading.word > largestCode) {
            return QStringLiteral("%1 read %2, which is no 10-bit code to burn")
                .arg(channelText(reading.index))
                .arg(reading.word);
        }
    }
    return {};
}

QJsonObject CommandContext::channelObject(int index, const ChannelFacts &facts,
                                          const device::DeviceModel &model) const
{
    QJsonObject json = channelJson(index, facts.code.value_or(0));
    if (!facts.code) {
        json.insert(QStringLiteral("code"), QJsonValue::Null);
        json.insert(QStringLiteral("hex"), QJsonValue::Null);
    }
    const bool vsupKnown = model.vsup > model.vlow;
    json.insert(QStringLiteral("voltage"),
                facts.code && vsupKnown ? QJsonValue(device::leadingNumber(device::shownVoltage(
                                              model.displayedVoltage(*facts.code))))
                                        : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("sent"), orNull(facts.sent));
    json.insert(QStringLiteral("file"), orNull(facts.file));
    json.insert(QStringLiteral("readBack"), orNull(facts.readBack));
    return json;
}

// As the main window shows it: full scale above 1023, truncated to whole millivolts.
QString CommandContext::voltageText(double code) const
{
    if (!(m_model.vsup > m_model.vlow))
        return QStringLiteral("? V");
    return withLeadingZero(device::shownVoltage(m_model.displayedVoltage(code))) +
           QStringLiteral(" V");
}

void CommandContext::hintUnknownVsup()
{
    if (m_model.vsup > m_model.vlow || std::exchange(m_vsupHintGiven, true))
        return;
    m_output.note(QStringLiteral("the board's Vsup is unknown (none above 0 V is stored for A0 = "
                                 "%1), so no voltage is shown: give it with --vsup VOLTS")
                      .arg(m_model.a0Pin));
}

QJsonObject CommandContext::withChip(QJsonObject json) const
{
    if (!m_addressesChip)
        return json;
    if (!json.contains(QStringLiteral("a0")))
        json.insert(QStringLiteral("a0"), m_model.a0Pin.toInt());
    if (!json.contains(QStringLiteral("vsup")) && m_model.vsup > m_model.vlow)
        json.insert(QStringLiteral("vsup"), m_model.vsup);
    return json;
}

void CommandContext::report(const QJsonObject &json, const QString &text)
{
    m_output.result(withChip(json), text);
}

ExitStatus CommandContext::stopped(const QString &what, const QJsonObject &details)
{
    const int signal = stopSignal();
    QJsonObject json = details;
    json.insert(QStringLiteral("stoppedBy"), QString::fromLatin1(signalName(signal)));
    return fail(statusForSignal(signal),
                QStringLiteral("stopped by %1 %2; the bus is idle")
                    .arg(QString::fromLatin1(signalName(signal)), what),
                json);
}

ExitStatus CommandContext::fail(ExitStatus status, const QString &message,
                                const QJsonObject &details)
{
    m_output.failure(status, message, withChip(details));
    return status;
}

} // namespace cli
