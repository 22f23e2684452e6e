// SPDX-License-Identifier: MIT
#include "control/burnreport.h"

#include "control/chiptexts.h"
#include "control/userprompts.h"
#include "device/bitstrings.h"
#include "device/numbertext.h"

#include <QCoreApplication>
#include <QStringList>

namespace control {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("control::BurnReport", text);
}

QString hexCode(int code)
{
    return device::shownCode(code) + u'h';
}

QString labels(const QList<int> &indices)
{
    QStringList names;
    for (const int index : indices)
        names << device::channelLabel(index);
    return names.isEmpty() ? tr("none") : names.join(QStringLiteral(", "));
}

} // namespace

BurnReport::BurnReport(const BurnResult &result) : m_result(result)
{
    if (!m_result.started()) {
        m_verdict = Verdict::NothingBurned;
        return;
    }
    // Every channel sent is checked against what it reads back; one not read back is not known
    // to hold its code.
    for (const int index : burnedChannels()) {
        const int burned = codeOnTheWire(m_result.codes[std::size_t(index - 1)]);
        if (!m_result.readBack.wasRead(index))
            m_mismatches.append({index, burned, std::nullopt});
        else if (m_result.readBack.word(index) != burned)
            m_mismatches.append({index, burned, m_result.readBack.word(index)});
    }
    const bool wentOut = m_result.writesCompleted > 0 || m_result.interruptedIndex != 0;
    if (!wentOut && m_result.interrupted())
        m_verdict = Verdict::NothingBurned;
    else if (m_result.interrupted() && !m_result.resetSent)
        m_verdict = Verdict::Interrupted;
    else if (doubts().isEmpty())
        m_verdict = Verdict::Verified;
    else
        m_verdict = Verdict::NotVerified;
}

int BurnReport::codeOnTheWire(double code)
{
    const device::DataBits bits = device::codeToDataBits(code);
    return (bits.high + bits.low).toInt(nullptr, 2);
}

QList<int> BurnReport::burnedChannels() const
{
    return m_result.channels.mid(0, m_result.writesCompleted);
}

QList<int> BurnReport::notSentChannels() const
{
    if (!m_result.started())
        return m_result.channels;
    return m_result.channels.mid(m_result.writesCompleted + (m_result.interruptedIndex ? 1 : 0));
}

QString BurnReport::cause() const
{
    using Refusal = BurnResult::Refusal;
    const QString &a0 = m_result.a0Pin;
    const QString sdaHeld =
        tr("SDA is held low, and a bus clear did not free it: a chip without power, a short "
           "on SDA, or DSR stuck. The self-test under \"COM Setting\" tells which.");
    switch (m_result.refusal) {
    case Refusal::NoPort:
        return tr("no port is open.");
    case Refusal::PortFailed:
        return tr("the port failed before the burn (%1).").arg(m_result.portFailure);
    case Refusal::BusHeld:
        return sdaHeld;
    case Refusal::ChipSilent:
        return tr("%1 when asked for its max bank. %2")
            .arg(ChipTexts::noChipAnswered(a0),
                 ChipTexts::sentence(ChipTexts::poweredAndA0Question()));
    case Refusal::MaxBankInvalid:
        return tr("the max bank of the device with A0 = %1 reads %2, which no chip gives.")
            .arg(a0)
            .arg(m_result.maxBankBefore.value_or(0));
    case Refusal::NoBankLeft:
        return tr("all %1 OTP banks of the device with A0 = %2 are used (Max Bank reads %3): the "
                  "chip would ignore another burn.")
            .arg(ChipOperations::otpBankCount)
            .arg(a0)
            .arg(m_result.maxBankBefore.value_or(0));
    case Refusal::NotConfirmed:
        return tr("the burn was not confirmed.");
    case Refusal::None:
        break;
    }
    if (!m_result.portHeld())
        return tr("the port failed (%1).").arg(m_result.portFailure);
    if (m_result.busHeld)
        return sdaHeld;
    return {};
}

QString BurnReport::whatWasBurned() const
{
    if (m_result.channels.size() == 1) {
        const int index = m_result.channels.first();
        return tr("code %1 into OTP register \"%2\" of the device with A0 = %3")
            .arg(hexCode(codeOnTheWire(m_result.codes[std::size_t(index - 1)])),
                 device::channelLabel(index), m_result.a0Pin);
    }
    return tr("the codes of all %1 channels into OTP of the device with A0 = %2")
        .arg(m_result.channels.size())
        .arg(m_result.a0Pin);
}

QString BurnReport::headline() const
{
    switch (m_verdict) {
    case Verdict::NothingBurned:
        return tr("Nothing was burned: %1").arg(cause());
    case Verdict::Interrupted:
        return tr("The burn of %1 was interrupted: %2").arg(whatWasBurned(), cause());
    case Verdict::NotVerified:
        return tr("Burned %1, but the burn is not verified.").arg(whatWasBurned());
    case Verdict::Verified:
        break;
    }
    return tr("Burned %1 and verified it.").arg(whatWasBurned());
}

QString BurnReport::maxBankLine() const
{
    const auto shown = [](const std::optional<int> &bank) {
        return bank ? QString::number(*bank) : tr("not read");
    };
    if (!m_result.started())
        return m_result.maxBankBefore ? tr("Max Bank: %1.").arg(*m_result.maxBankBefore)
                                      : QString();
    return tr("Max Bank: %1 before, %2 after.")
        .arg(shown(m_result.maxBankBefore), shown(m_result.maxBankAfter));
}

QStringList BurnReport::doubts() const
{
    QStringList lines;
    if (!m_result.started())
        return lines;
    if (!m_result.portHeld())
        lines << tr("The port failed after the burn (%1).").arg(m_result.portFailure);
    else if (m_result.busHeld)
        lines << tr("SDA was held low after the burn, and a bus clear did not free it.");
    if (!m_result.unacknowledged.isEmpty()) {
        lines << tr("The chip did not acknowledge the OTP writes of channels %1: it took no burn "
                    "there.")
                     .arg(labels(m_result.unacknowledged));
    }
    if (m_result.resetSent && !m_result.resetAnswered)
        lines << tr("No chip acknowledged the general-call reset that closes the bank.");
    const std::optional<int> &before = m_result.maxBankBefore;
    const std::optional<int> &after = m_result.maxBankAfter;
    if (!after)
        lines << tr("The max bank was not read after the reset.");
    else if (before && *after == *before)
        lines << tr("The chip did not close a new bank: the burn did not take.");
    else if (before && *after != *before + 1)
        lines << tr("The max bank should have gone to %1.").arg(*before + 1);
    if (!m_mismatches.isEmpty()) {
        lines << tr("Read back after the reset, these registers do not hold the code burned:");
        for (const Mismatch &m : m_mismatches) {
            lines << (m.read ? tr("  channel %1: burned %2, reads %3")
                                   .arg(device::channelLabel(m.index), hexCode(m.burned),
                                        hexCode(*m.read))
                             : tr("  channel %1: burned %2, not read back")
                                   .arg(device::channelLabel(m.index), hexCode(m.burned)));
        }
    }
    return lines;
}

QString BurnReport::interruptionText() const
{
    const QList<int> sent = burnedChannels();
    QStringList lines;
    lines << tr("Burned (sent whole): %1.").arg(labels(sent));
    if (m_result.interruptedIndex) {
        lines << tr("Cut off while being sent, burned or not: %1.")
                     .arg(device::channelLabel(m_result.interruptedIndex));
    }
    lines << tr("Not sent: %1.").arg(labels(notSentChannels()));
    if (!m_result.resetSent && !sent.isEmpty()) {
        lines << tr("The general-call reset that closes the bank was not sent: the bank is still "
                    "open, and the next reset (\"Reset\") closes it with these cells.");
    }
    return lines.join(u'\n');
}

QString BurnReport::text() const
{
    QStringList lines{headline()};
    const QString bank = maxBankLine();
    if (!bank.isEmpty())
        lines << bank;
    switch (m_verdict) {
    case Verdict::NothingBurned:
        break;
    case Verdict::Interrupted:
        lines << interruptionText();
        break;
    case Verdict::NotVerified:
        lines << doubts();
        break;
    case Verdict::Verified:
        lines << tr("Read back after the reset: every burned register holds its code.");
        break;
    }
    const QString reload = reloadText();
    if (!reload.isEmpty())
        lines << reload;
    if (!m_result.logError.isEmpty())
        lines << tr("This burn is not in the burn log. %1").arg(m_result.logError);
    return lines.join(u'\n');
}

void BurnReport::setShownBefore(const ChannelCodes &codes, double vlow, double vsup)
{
    m_shownBefore = codes;
    m_vlow = vlow;
    m_vsup = vsup;
}

QString BurnReport::reloadText() const
{
    if (!m_result.resetSent)
        return {};
    const QString other =
        m_result.a0Pin == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
    QStringList lines{tr("The reset reloaded every register of both chips from OTP: the chip "
                         "with A0 = %1 was not read and may output other voltages now.")
                          .arg(other)};
    if (!m_shownBefore)
        return lines.join(u'\n');
    const auto voltage = [this](double code) {
        return device::shownVoltage(m_vlow + (m_vsup - m_vlow) * code / 1024).trimmed();
    };
    QStringList changed;
    for (int index = 1; index <= device::channelCount; ++index) {
        if (m_result.channels.contains(index) || !m_result.readBack.wasRead(index))
            continue;
        const int before = codeOnTheWire((*m_shownBefore)[std::size_t(index - 1)]);
        const int after = m_result.readBack.word(index);
        if (before != after) {
            changed << tr("channel %1: %2 V (%3h) before, %4 V (%5h) now")
                           .arg(device::channelLabel(index), voltage(before),
                                device::shownCode(before), voltage(after),
                                device::shownCode(after));
        }
    }
    if (!changed.isEmpty())
        lines << tr("On this chip the reset changed channels that were not burned:") << changed;
    else if (m_result.channels.size() < device::channelCount)
        lines << tr("On this chip the channels not burned read back as they were shown.");
    return lines.join(u'\n');
}

void BurnReport::show(UserPrompts &prompts, const QString &title) const
{
    if (declined())
        return;
    if (verified() && m_result.logError.isEmpty())
        prompts.showMessage(title, text());
    else
        prompts.showError(title, text());
}

bool burnMayGoAhead(const QString &logProblem, UserPrompts &prompts, const QString &title)
{
    if (logProblem.isEmpty())
        return true;
    return prompts.confirm(title, QCoreApplication::translate(
                                      "BurnReport", "The burn log cannot be written (%1), so this "
                                                    "burn would not be recorded.\n\nBurn without "
                                                    "a record?")
                                      .arg(logProblem));
}

} // namespace control
