// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// How numbers look on screen and in the settings store, and how text is read back as a number.
namespace device {

// A leading blank for zero and positive values, "-" for negative ones, no "0" before the point
// of a value under 1, "." whatever the locale, no trailing zeros, at most 15 significant digits:
// 5.009 -> " 5.009", 0.25 -> " .25", -0.001 -> "-.001".
QString numberText(double value);

// A voltage truncated (towards minus infinity) to whole millivolts, as numberText.
QString shownVoltage(double volts);

// A code in upper-case hexadecimal without prefix; a fraction rounds half to even first.
QString shownCode(double code);

// The number at the start of a text: leading blanks skipped, "." as decimal point, the first
// character that cannot continue a number ends it. Empty, non-numeric or overflowing text is 0.
double leadingNumber(QStringView text);

// A whole number for a signed integer of the given width, rounded to nearest with ties to even;
// nothing when it does not fit.
std::optional<qint64> roundToInteger(double value, int bits);

// Plain decimal for files: "-" for negatives, no blanks, whole numbers without a point, "."
// whatever the locale, at most 15 significant digits.
QString plainDecimal(double value);

} // namespace device
