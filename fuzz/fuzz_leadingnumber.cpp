// SPDX-License-Identifier: MIT
#include "device/numbertext.h"

#include <QString>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void check(const QString &text)
{
    const double value = device::leadingNumber(text);
    require(std::isfinite(value));
    // A character that cannot continue a number ends it: appending one changes nothing.
    require(device::leadingNumber(text + u'V') == value);

    // The integer conversions that follow a read of a stored setting.
    for (const int bits : {16, 32}) {
        if (const std::optional<qint64> whole = device::roundToInteger(value, bits))
            require(std::fabs(double(*whole) - value) <= 0.5);
    }

    // The file form of a value reads back as the value, to the 15 digits it keeps.
    if (std::fabs(value) >= DBL_MIN) {
        const double again = device::leadingNumber(device::plainDecimal(value));
        require(std::fabs(again - value) <= 1e-14 * std::fabs(value));
    }
    device::numberText(value);
}

} // namespace

// Stored settings are text of any origin: read as UTF-8, as the store does, and byte for byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    check(QString::fromUtf8(chars, qsizetype(size)));
    check(QString::fromLatin1(chars, qsizetype(size)));
    return 0;
}
