#include "cli/burnoutput.h"

#include "cli/channeltext.h"
#include "control/burnreport.h"
#include "device/devicemodel.h"

#include <QJsonArray>
#include <optional>

namespace cli {

namespace {

using Refusal = control::BurnResult::Refusal;
using Verdict = control::BurnReport::Verdict;

QString outcomeWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::NothingBurned:
        return QStringLiteral("nothing burned");
    case Verdict::Interrupted:
        return QStringLiteral("interrupted");
    case Verdict::NotVerified:
        return QStringLiteral("not verified");
    case Verdict::Verified:
        break;
    }
    return QStringLiteral("verified");
}

QJsonArray names(const QList<int> &channels)
{
    QJsonArray array;
    for (const int index : channels)
        array.append(device::channelLabel(index));
    return array;
}

// A value that was never read is null, never a number.
QJsonValue orNull(const std::optional<int> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

ExitStatus burnExitStatus(const control::BurnReport &report)
{
    const control::BurnResult &burned = report.result();
    switch (report.verdict()) {
    case Verdict::Verified:
        return ExitStatus::Ok;
    case Verdict::NotVerified:
        return ExitStatus::BurnNotVerified;
    case Verdict::Interrupted:
        return ExitStatus::BurnInterrupted;
    case Verdict::NothingBurned:
        break;
    }
    switch (burned.refusal) {
    case Refusal::NoBankLeft:
        return ExitStatus::NoBankLeft;
    case Refusal::ChipSilent:
    case Refusal::MaxBankInvalid:
        return ExitStatus::ChipSilent;
    case Refusal::NoPort:
    case Refusal::PortFailed:
        return ExitStatus::PortUnavailable;
    case Refusal::BusHeld:
    case Refusal::NotConfirmed:
    case Refusal::None:
        break;
    }
    return burned.portHeld() ? ExitStatus::SdaHeld : ExitStatus::PortUnavailable;
}

QJsonObject burnJson(const QString &commandName, const control::BurnReport &report)
{
    const control::BurnResult &burned = report.result();
    QJsonArray sent;
    for (const int index : burned.channels)
        sent.append(channelJson(index, burned.codes[std::size_t(index - 1)]));
    QJsonArray notHolding;
    for (const control::BurnReport::Mismatch &m : report.mismatches()) {
        notHolding.append(QJsonObject{{QStringLiteral("channel"), device::channelLabel(m.index)},
                                      {QStringLiteral("burned"), m.burned},
                                      {QStringLiteral("reads"), orNull(m.read)}});
    }
    QJsonObject json{{QStringLiteral("command"), commandName},
                     {QStringLiteral("a0"), burned.a0Pin.toInt()},
                     {QStringLiteral("outcome"), outcomeWord(report.verdict())},
                     {QStringLiteral("verified"), report.verified()},
                     {QStringLiteral("channels"), sent},
                     {QStringLiteral("maxBankBefore"), orNull(burned.maxBankBefore)},
                     {QStringLiteral("maxBankAfter"), orNull(burned.maxBankAfter)},
                     {QStringLiteral("burned"), names(report.burnedChannels())},
                     {QStringLiteral("cutOff"),
                      burned.interruptedIndex ? names({burned.interruptedIndex}) : QJsonArray()},
                     {QStringLiteral("notSent"), names(report.notSentChannels())},
                     {QStringLiteral("unacknowledged"), names(burned.unacknowledged)},
                     {QStringLiteral("notHolding"), notHolding}};
    if (!burned.portHeld())
        json.insert(QStringLiteral("portFailure"), burned.portFailure);
    if (burned.busHeld)
        json.insert(QStringLiteral("cause"), QStringLiteral("SDA held low"));
    return json;
}

} // namespace cli
