// SPDX-License-Identifier: MIT
#include "cli/registercommands.h"

#include "cli/channeltext.h"
#include "cli/output.h"
#include "control/chiptexts.h"
#include "device/numbertext.h"

#include <QJsonArray>
#include <algorithm>

namespace cli {

namespace {

constexpr int silentWord = bus::ChipBus::silentWord;

} // namespace

RegisterCommands::RegisterCommands(CommandContext &context)
    : m_context(context), m_operations(context.operations()), m_model(context.model()),
      m_output(context.output())
{}

ExitStatus RegisterCommands::readAll()
{
    const control::ChipReading reading = m_operations.readAll(m_model.a0Pin);
    if (const ExitStatus status = m_context.checkHeard(reading, QStringLiteral("read"));
        status != ExitStatus::Ok && !reading.cancelled)
        return status;
    const QList<ChannelReading> readings = m_context.readingsOf(reading);
    m_context.hintUnknownVsup();

    QJsonArray channels;
    QString table = QStringLiteral("A0 = %1, Vsup = %2\n")
                        .arg(m_model.a0Pin, m_model.vsup > m_model.vlow
                                                ? numberWithoutBlank(m_model.vsup) + " V"
                                                : QStringLiteral("unknown"));
    table += QStringLiteral("Channel  Register  Code   Hex  Voltage\n");
    for (const auto &[index, word] : readings) {
        channels.append(m_context.channelObject(index, {double(word), {}, {}, {}}));
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(device::channelLabel(index), 7)
                     .arg(hexRegister(index), 8)
                     .arg(word, 5)
                     .arg(device::shownCode(word), 4)
                     .arg(m_context.voltageText(word), 7);
    }
    QJsonObject json{{QStringLiteral("channels"), channels},
                     {QStringLiteral("maxBank"), QJsonValue::Null}};
    if (reading.cancelled) {
        // What was read before the stop is shown; the rest was not read.
        m_output.textOnly(table);
        return m_context.stopped(QStringLiteral("after reading %1 of the 24 channel registers")
                                     .arg(reading.registersRead),
                                 json);
    }
    table += QStringLiteral("Max bank: %1\n").arg(reading.maxBank);
    json.insert(QStringLiteral("maxBank"), reading.maxBank);
    QString problem = m_context.silentProblem(readings);
    if (reading.maxBank == silentWord)
        problem = QStringLiteral("%1: the max bank read %2")
                      .arg(control::ChipTexts::noChipAnswered(m_model.a0Pin))
                      .arg(reading.maxBank);
    if (!problem.isEmpty()) {
        m_output.textOnly(table);
        return m_context.fail(ExitStatus::ChipSilent, problem, json);
    }
    m_context.report(json, table);
    return ExitStatus::Ok;
}

ExitStatus RegisterCommands::getChannel(int index)
{
    const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
    if (const ExitStatus status = m_context.checkHeard(reading, QStringLiteral("get"));
        status != ExitStatus::Ok)
        return status;
    m_context.hintUnknownVsup();
    const int word = reading.word;
    const QJsonObject json{{QStringLiteral("channels"), QJsonArray{m_context.channelObject(
                                                            index, {double(word), {}, {}, {}})}}};
    const QString text = QStringLiteral("%1: code %2 (hex %3), %4\n")
                             .arg(channelTitle(index))
                             .arg(word)
                             .arg(device::shownCode(word), m_context.voltageText(word));
    if (const QString problem = m_context.silentProblem({{index, word}}); !problem.isEmpty()) {
        m_output.textOnly(text);
        return m_context.fail(ExitStatus::ChipSilent, problem, json);
    }
    m_context.report(json, text);
    return ExitStatus::Ok;
}

// One DAC register write; a code of 1024 (full scale) goes out as 1023.
ExitStatus RegisterCommands::writeCode(int index, int code, bool verify, QJsonObject json,
                                       const QString &prefix)
{
    m_model.dacCode[index] = code;
    m_context.setPictured(index, code);
    const control::OperationResult written = m_operations.writeChannel(m_model.a0Pin, index, code);
    if (const ExitStatus status = m_context.checkHeard(written, QString());
        status != ExitStatus::Ok)
        return status;
    m_context.hintUnknownVsup();

    const int sent = std::min(code, CommandContext::largestCode);
    control::ChannelCodes sentCodes{};
    sentCodes[std::size_t(index - 1)] = sent;
    QList<ChannelReading> readings;
    const ExitStatus checked =
        verify ? m_context.readBack({index}, sentCodes, readings) : ExitStatus::Ok;
    if (checked != ExitStatus::Ok && readings.isEmpty())
        return checked;

    ChannelFacts facts{double(code), sent, {}, {}};
    if (!readings.isEmpty())
        facts.readBack = readings.first().word;
    json.insert(QStringLiteral("channels"), QJsonArray{m_context.channelObject(index, facts)});
    json.insert(QStringLiteral("verified"),
                verify ? QJsonValue(checked == ExitStatus::Ok) : QJsonValue(QJsonValue::Null));
    const QString codeText =
        code == sent ? QStringLiteral("code %1 (hex %2)").arg(code).arg(device::shownCode(code))
                     : QStringLiteral("code %1 (full scale, sent as %2)").arg(code).arg(sent);
    QString text = QStringLiteral("%1: %2wrote %3, %4\n")
                       .arg(channelTitle(index), prefix, codeText, m_context.voltageText(code));
    if (checked != ExitStatus::Ok) {
        m_output.textOnly(text);
        return m_context.fail(checked, m_context.differenceText({index}, sentCodes, readings),
                              json);
    }
    if (verify)
        text += QStringLiteral("Read back: the register holds it\n");
    m_context.report(json, text);
    return ExitStatus::Ok;
}

// The register grid's conversion: clamped into [vlow, vsup], then rounded half up to a code.
ExitStatus RegisterCommands::setVoltage(int index, double volts, bool verify)
{
    const double clamped = std::clamp(volts, m_model.vlow, m_model.vsup);
    const int code = int(m_model.codeOfVoltage(volts));
    const QString prefix =
        clamped == volts ? QString()
                         : QStringLiteral("%1 V is outside 0 to %2 V, set to %3 V; ")
                               .arg(numberWithoutBlank(volts), numberWithoutBlank(m_model.vsup),
                                    numberWithoutBlank(clamped));
    return writeCode(
        index, code, verify,
        {{QStringLiteral("requested"), volts}, {QStringLiteral("clamped"), clamped != volts}},
        prefix);
}

} // namespace cli
