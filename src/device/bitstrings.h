// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <functional>

// Numbers become the bit strings the bus takes: texts of '0' and '1', most significant bit
// first. The conversions subtract descending powers of two and never round, so a fraction is
// simply dropped and out-of-range values saturate.
namespace device {

// Runs when a register number does not fit a byte. The program's handler shows the message and
// ends the program on the spot; if a handler returns, the conversion gives an empty text.
using FatalHandler = std::function<void(const QString &message)>;
void setFatalHandler(FatalHandler handler);

QString decmal_to_binary8(double value);
// No range check: every value of 31 or more gives 11111.
QString decmal_to_binary5(double value);

struct DataBits
{
    QString high; // "000000" followed by bits 9 and 8
    QString low;  // bits 7 to 0
};
// Codes of 1023 or more give 1023, negative codes give 0.
DataBits codeToDataBits(double code);

// The chip's write address byte: "111010", the A0 bit, then the write bit 0.
QString chipAddressBits(const QString &a0Pin);

} // namespace device
