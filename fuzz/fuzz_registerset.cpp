// SPDX-License-Identifier: MIT
#include "device/registersetfile.h"

#include <QBuffer>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool isCode(double value)
{
    return value >= std::numeric_limits<qint32>::min() &&
           value <= std::numeric_limits<qint32>::max();
}

bool nearlyEqual(double a, double b)
{
    return a == b || std::fabs(a - b) <= 1e-14 * std::fabs(a);
}

std::optional<device::RegisterSet> parse(const QByteArray &bytes, QString *error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    require(buffer.open(QIODevice::ReadOnly));
    return device::parseRegisterSet(buffer, error);
}

} // namespace

// Whatever the bytes: either an error message, or a set that keeps the reader's promises (a
// finite vsup, codes within 32 bits) and that, written out in the file's own form, reads back
// as the same numbers to the 15 digits the writer keeps.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const std::optional<device::RegisterSet> set = parse(bytes, &error);
    if (!set) {
        require(!error.isEmpty());
        return 0;
    }
    require(std::isfinite(set->vsup));
    for (const double code : set->codes)
        require(std::isfinite(code) && isCode(code));

    const QByteArray written = device::formatRegisterSet(*set);
    // Extreme values take more characters in plain decimal than a record may hold; the writer
    // refuses those.
    for (const QByteArray &line : written.split('\n')) {
        if (line.size() > 64 + 1) // the value and its CR
            return 0;
    }
    const std::optional<device::RegisterSet> again = parse(written, &error);
    require(again.has_value());
    require(nearlyEqual(set->vsup, again->vsup));
    for (std::size_t i = 0; i < set->codes.size(); ++i)
        require(nearlyEqual(set->codes[i], again->codes[i]));
    return 0;
}
