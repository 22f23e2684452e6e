#include "control/burnreport.h"

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

} // namespace

BurnReport::BurnReport(const QString &a0Pin, int maxBankBefore, const QList<int> &channels,
                       const ChannelCodes &codes, const BurnResult &result)
    : m_a0Pin(a0Pin), m_maxBankBefore(maxBankBefore), m_channels(channels), m_codes(codes),
      m_result(result)
{
    for (const int index : m_channels) {
        const int burned = codeOnTheWire(m_codes[std::size_t(index - 1)]);
        const int read = m_result.readBack.word(index);
        if (read != burned)
            m_mismatches.append({index, burned, read});
    }
}

int BurnReport::codeOnTheWire(double code)
{
    const device::DataBits bits = device::codeToDataBits(code);
    return (bits.high + bits.low).toInt(nullptr, 2);
}

QString BurnReport::noBankLeftText(const QString &a0Pin, int maxBank)
{
    if (maxBank > ChipOperations::otpBankCount) {
        return tr("The max bank of the device with A0 = %1 reads %2: no chip answered. Nothing "
                  "was burned.")
            .arg(a0Pin)
            .arg(maxBank);
    }
    return tr("All %1 OTP banks of the device with A0 = %2 are used (Max Bank reads %3): the "
              "chip would ignore another burn. Nothing was burned.")
        .arg(ChipOperations::otpBankCount)
        .arg(a0Pin)
        .arg(maxBank);
}

QString BurnReport::interruptionText() const
{
    const auto labels = [](const QList<int> &indices) {
        QStringList names;
        for (const int index : indices)
            names << device::channelLabel(index);
        return names.isEmpty() ? tr("none") : names.join(QStringLiteral(", "));
    };
    const QList<int> sent = burnedChannels();
    const QList<int> notSent = m_channels.mid(sent.size() + (m_result.interruptedIndex ? 1 : 0));
    QStringList lines;
    lines << tr("Burned (sent whole): %1.").arg(labels(sent));
    if (m_result.interruptedIndex) {
        lines << tr("Cut off while being sent, burned or not: %1.")
                     .arg(device::channelLabel(m_result.interruptedIndex));
    }
    lines << tr("Not sent: %1.").arg(labels(notSent));
    if (!m_result.interruptedIndex)
        lines << tr("The reset that closes the bank, or the read-back, did not complete.");
    return lines.join(u'\n');
}

QList<int> BurnReport::burnedChannels() const
{
    return m_channels.mid(0, m_result.writesCompleted);
}

bool BurnReport::verified() const
{
    return m_result.portHeld() && m_result.chipAnswered && m_mismatches.isEmpty() &&
           m_result.maxBank == m_maxBankBefore + 1;
}

QString BurnReport::text() const
{
    QStringList lines;
    if (m_channels.size() == 1) {
        const int index = m_channels.first();
        lines << tr("Burned code %1 into OTP register \"%2\" of the device with A0 = %3.")
                     .arg(hexCode(codeOnTheWire(m_codes[std::size_t(index - 1)])),
                          device::channelLabel(index), m_a0Pin);
    } else {
        lines << tr("Burned the codes of all %1 channels into OTP of the device with A0 = %2.")
                     .arg(m_channels.size())
                     .arg(m_a0Pin);
    }
    lines << tr("Max Bank: %1 before, %2 after.").arg(m_maxBankBefore).arg(m_result.maxBank);
    if (!m_result.portHeld()) {
        lines << tr("The port failed during the burn (%1).").arg(m_result.portFailure);
        lines << interruptionText();
        return lines.join(u'\n');
    }
    if (!m_result.chipAnswered) {
        lines << tr("The chip did not acknowledge every frame of the burn and its read-back: no "
                    "chip may have heard it. Is the board powered, and is A0 right?");
    }
    if (m_result.maxBank != m_maxBankBefore + 1)
        lines << tr("The chip did not close a new bank: the burn may not have taken.");
    if (m_mismatches.isEmpty()) {
        lines << tr("Read back after the reset: every burned register holds its code.");
    } else {
        lines << tr("Read back after the reset, these registers do not hold the code burned:");
        for (const Mismatch &m : m_mismatches) {
            lines << tr("  channel %1: burned %2, reads %3")
                         .arg(device::channelLabel(m.index), hexCode(m.burned), hexCode(m.read));
        }
    }
    return lines.join(u'\n');
}

void BurnReport::show(UserPrompts &prompts, const QString &title) const
{
    if (verified())
        prompts.showMessage(title, text());
    else
        prompts.showError(title, text());
}

} // namespace control
