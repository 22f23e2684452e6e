// SPDX-License-Identifier: MIT
#include "device/bitstrings.h"

#include <cstdio>
#include <cstdlib>

namespace device {
namespace {

void endProgram(const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::_Exit(EXIT_FAILURE);
}

FatalHandler &fatalHandler()
{
    static FatalHandler handler = endProgram;
    return handler;
}

// Appends one character per weight, from the largest down, subtracting where it fits.
void appendBits(QString &bits, double &work, double firstWeight, int count)
{
    double weight = firstWeight;
    for (int k = 0; k < count; ++k, weight /= 2) {
        if (work >= weight) {
            bits += QLatin1Char('1');
            work -= weight;
        } else {
            bits += QLatin1Char('0');
        }
    }
}

} // namespace

void setFatalHandler(FatalHandler handler)
{
    fatalHandler() = handler ? std::move(handler) : FatalHandler(endProgram);
}

QString decmal_to_binary8(double value)
{
    if (value > 255) {
        fatalHandler()(QStringLiteral("Problem in decmal_to_binary8"));
        return {};
    }
    QString bits;
    appendBits(bits, value, 128, 8);
    return bits;
}

QString decmal_to_binary5(double value)
{
    QString bits;
    appendBits(bits, value, 16, 5);
    return bits;
}

DataBits codeToDataBits(double code)
{
    DataBits result{QStringLiteral("000000"), QString()};
    appendBits(result.high, code, 512, 2);
    appendBits(result.low, code, 128, 8);
    return result;
}

QString chipAddressBits(const QString &a0Pin)
{
    return QStringLiteral("111010") + a0Pin + QLatin1Char('0');
}

} // namespace device
