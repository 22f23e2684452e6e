// SPDX-License-Identifier: MIT
#include "cli/burncommands.h"

#include "cli/burnoutput.h"
#include "control/burnlog.h"
#include "control/burnreport.h"

#include <QJsonArray>

namespace cli {

BurnCommands::BurnCommands(CommandContext &context)
    : m_context(context), m_operations(context.operations()), m_model(context.model())
{}

// Codes this session has not set are read from the chip once: what it outputs is what is burned.
ExitStatus BurnCommands::pictureFor(const QList<int> &indices)
{
    QList<ChannelReading> readings;
    for (const int index : indices) {
        if (m_context.pictured(index))
            continue;
        if (m_context.stopSignal() != 0)
            return m_context.stopped(
                QStringLiteral("while the codes to burn were read; nothing was burned"), {});
        const control::ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
        if (const ExitStatus status =
                m_context.checkHeard(reading, QStringLiteral("the read of the codes to burn"));
            status != ExitStatus::Ok)
            return status;
        readings.append({index, reading.word});
    }
    QString problem = m_context.silentProblem(readings);
    if (problem.isEmpty())
        problem = m_context.unburnableProblem(readings);
    if (!problem.isEmpty())
        return m_context.fail(ExitStatus::ChipSilent,
                              problem + QStringLiteral("; nothing was burned"));
    for (const ChannelReading &reading : std::as_const(readings))
        m_context.setPictured(reading.index, reading.word);
    return ExitStatus::Ok;
}

// Burned cells cannot be unburned: the burn goes through the program's one burn policy, the
// user learns exactly what was sent and what the chip now holds, and the burn log keeps it.
ExitStatus BurnCommands::burn(const QList<int> &indices)
{
    if (const ExitStatus status = pictureFor(indices); status != ExitStatus::Ok)
        return status;
    control::ChannelCodes codes{};
    for (const int index : indices) {
        const int word = wireCode(*m_context.pictured(index));
        m_model.dacCode[index] = word;
        codes[std::size_t(index - 1)] = word;
    }
    // A stop asked for before the burn is committed is taken: nothing is burned then. From the
    // commitment on, a signal only hears that the burn is finishing.
    bool committed = false;
    const control::BurnResult burned = m_operations.burn(
        m_model.a0Pin, indices, codes, [this, &committed](const control::BurnResult &) {
            if (m_context.stopSignal() != 0)
                return false;
            committed = true;
            if (m_burning)
                m_burning(true);
            return true;
        });
    if (committed && m_burning)
        m_burning(false);
    const control::BurnReport burnReport(burned);
    QJsonObject json = control::BurnLog::burnObject(burnReport);
    QJsonArray channels;
    for (const int index : indices) {
        const int code = codes[std::size_t(index - 1)];
        ChannelFacts facts{double(code), {}, {}, {}};
        if (burned.started())
            facts.sent = code;
        if (burned.readBack.wasRead(index))
            facts.readBack = burned.readBack.word(index);
        channels.append(m_context.channelObject(index, facts));
    }
    json.insert(QStringLiteral("channels"), channels);
    if (burnReport.declined())
        return m_context.stopped(QStringLiteral("before the burn; nothing was burned"), json);

    // The report's text says when the burn log could not take it.
    const std::optional<control::BurnLog> &log = m_operations.burnLog();
    json.insert(QStringLiteral("logged"), burned.logged);
    json.insert(QStringLiteral("log"),
                log ? QJsonValue(log->path()) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("logError"), burned.logError.isEmpty()
                                                ? QJsonValue(QJsonValue::Null)
                                                : QJsonValue(burned.logError));
    if (!burnReport.verified())
        return m_context.fail(burnExitStatus(burnReport), burnReport.text(), json);
    if (!burned.logError.isEmpty())
        return m_context.fail(ExitStatus::CannotWrite, burnReport.text(), json);
    m_context.report(json, burnReport.text() + u'\n');
    return ExitStatus::Ok;
}

} // namespace cli
