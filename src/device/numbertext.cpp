// SPDX-License-Identifier: MIT
#include "device/numbertext.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace device {
namespace {

// Fifteen significant digits, never in exponent form unless the value is extreme.
QString significantDigits(double value)
{
    return QString::number(value, 'g', 15).toUpper();
}

} // namespace

QString numberText(double value)
{
    if (value == 0)
        return QStringLiteral(" 0");
    QString digits = significantDigits(std::fabs(value));
    if (digits.startsWith(QLatin1String("0.")))
        digits.remove(0, 1);
    return (value < 0 ? QLatin1Char('-') : QLatin1Char(' ')) + digits;
}

QString shownVoltage(double volts)
{
    return numberText(std::floor(volts * 1000) / 1000);
}

QString shownCode(double code)
{
    const double whole = std::nearbyint(code); // the default rounding mode: ties to even
    if (!std::isfinite(whole))
        return QStringLiteral("0");
    // Negative codes show as their two's complement, as a 16-bit value where it fits.
    if (whole < 0 && whole >= -32768)
        return QString::number(quint16(qint16(whole)), 16).toUpper();
    if (whole < std::numeric_limits<qint64>::min() || whole > std::numeric_limits<qint64>::max())
        return QStringLiteral("0");
    const auto integer = qint64(whole);
    if (integer < 0)
        return QString::number(quint32(qint32(integer)), 16).toUpper();
    return QString::number(integer, 16).toUpper();
}

double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && text[i] >= u'0' && text[i] <= u'9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when at least one digit follows it.
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        if (j < n && text[j] >= u'0' && text[j] <= u'9') {
            while (j < n && text[j] >= u'0' && text[j] <= u'9')
                ++j;
            i = j;
        }
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toString().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

std::optional<qint64> roundToInteger(double value, int bits)
{
    const double whole = std::nearbyint(value);
    const double limit = std::ldexp(1.0, bits - 1);
    if (!(whole >= -limit && whole < limit))
        return std::nullopt;
    return qint64(whole);
}

QString plainDecimal(double value)
{
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    QString text = QString::number(value, 'g', 15);
    if (text.contains(QLatin1Char('e'))) {
        const int exponent = int(std::floor(std::log10(std::fabs(value))));
        text = QString::number(value, 'f', std::clamp(14 - exponent, 0, 340));
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0')))
                text.chop(1);
            if (text.endsWith(QLatin1Char('.')))
                text.chop(1);
        }
    }
    return text;
}

} // namespace device
