// SPDX-License-Identifier: MIT
#include "device/devicemodel.h"

#include "device/numbertext.h"

#include <cmath>

namespace device {

QStringList DeviceModel::unknownChannels() const
{
    QStringList labels;
    for (int i = 1; i <= channelCount; ++i) {
        if (codeUnknown[i])
            labels.append(channelLabel(i));
    }
    return labels;
}

double DeviceModel::displayedVoltage(double code) const
{
    return code > 1023 ? vsup : voltageOfCode(code);
}

double DeviceModel::loadedCode(double value) const
{
    if (value >= 0 && value <= 1024 && value == std::floor(value))
        return value;
    if (!(vsup > vlow))
        return value;
    return codeOfVoltage(leadingNumber(shownVoltage(displayedVoltage(value))));
}

double DeviceModel::codeOfVoltage(double volts) const
{
    const double span = vsup - vlow;
    if (!(span > 0) || std::isnan(volts))
        return 0;
    const double clamped = volts > vsup ? vsup : volts < vlow ? vlow : volts;
    // 1024 times a huge voltage overflows; the ratio first keeps such a Vsup at full scale.
    const double scaled = 1024 * (clamped - vlow);
    const double code = std::isfinite(scaled) ? std::floor(scaled / span + 0.5)
                                              : std::floor(1024 * ((clamped - vlow) / span) + 0.5);
    return code > 1024 ? 1024 : code < 0 ? 0 : code;
}

QString channelLabel(int index)
{
    if (index == 19)
        return QStringLiteral("c1");
    if (index == 20)
        return QStringLiteral("c2");
    if (index > 20)
        return QString::number(index - 2);
    return QString::number(index);
}

} // namespace device
