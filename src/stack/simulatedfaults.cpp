// SPDX-License-Identifier: MIT
#include "stack/simulatedfaults.h"

#include "device/devicemodel.h"
#include "sim/simulatedboard.h"

#include <QObject>
#include <QStringList>

namespace stack {

namespace {

std::optional<int> channelOfLabel(const QString &label)
{
    for (int index = 1; index <= device::channelCount; ++index) {
        if (device::channelLabel(index).compare(label, Qt::CaseInsensitive) == 0)
            return index;
    }
    return std::nullopt;
}

} // namespace

bool SimulatedFaults::add(const QString &text, QString *error)
{
    const QString name = text.section(u'=', 0, 0).trimmed().toLower();
    const bool hasValue = text.contains(u'=');
    const QString value = text.section(u'=', 1).trimmed();
    if (name == QLatin1String("dsr-stuck") && !hasValue) {
        dsrStuck = true;
    } else if (name == QLatin1String("bank-stays-open") && !hasValue) {
        bankStaysOpen = true;
    } else if (name == QLatin1String("frozen-read")) {
        if (hasValue && value != QLatin1String("0") && value != QLatin1String("1")) {
            *error = QObject::tr("\"%1\": frozen-read takes the A0 of the chip, 0 or 1").arg(text);
            return false;
        }
        frozenChip = value == QLatin1String("1") ? 1 : 0;
    } else if (name == QLatin1String("dead-cell")) {
        const std::optional<int> index = channelOfLabel(value);
        if (!index) {
            *error =
                QObject::tr("\"%1\": dead-cell takes a channel name, 1 to 22, c1 or c2").arg(text);
            return false;
        }
        deadCells.append(*index);
    } else {
        *error = QObject::tr("\"%1\" is no fault of the simulated board: dsr-stuck, "
                             "frozen-read[=A0], dead-cell=CH or bank-stays-open")
                     .arg(text);
        return false;
    }
    return true;
}

bool SimulatedFaults::isEmpty() const
{
    return !dsrStuck && !frozenChip && deadCells.isEmpty() && !bankStaysOpen;
}

void SimulatedFaults::applyTo(sim::SimulatedBoard &board) const
{
    if (dsrStuck)
        board.setDsrWiring(sim::SimulatedBoard::DsrWiring::StuckAsserted);
    for (int a0 = 0; a0 <= 1; ++a0) {
        for (const int index : deadCells)
            board.chip(a0).setDeadOtpCell(device::registerOfChannel(index), true);
        board.chip(a0).setBankStaysOpen(bankStaysOpen);
    }
    if (frozenChip)
        board.freezeChipMidRead(*frozenChip);
}

QString SimulatedFaults::helpText(int indent)
{
    const QStringList lines{QObject::tr("dsr-stuck        DSR reads SDA low, always"),
                            QObject::tr("frozen-read[=A0] the chip (A0 = 0 unless given) starts"),
                            QObject::tr("                 stuck in a read, holding SDA low"),
                            QObject::tr("dead-cell=CH     channel CH's OTP cell takes no burn"),
                            QObject::tr("bank-stays-open  a reset does not close the OTP bank")};
    const QString margin(indent, u' ');
    return margin + lines.join(u'\n' + margin) + u'\n';
}

} // namespace stack
