// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <array>

namespace device {

inline constexpr int channelCount = 24;

// The program's picture of the chip, shared by every window. Channel i (1 to 24) lives in chip
// register i - 1 and in element i of the per-channel arrays (0 and 25 are unused). Codes are
// 10-bit values held as doubles; 1024 stands for full scale, and a word read from the chip is
// kept as it came, even above 1023.
struct DeviceModel
{
    std::array<double, 26> dacCode{};
    std::array<double, 26> channelVoltage{};
    // Channels whose register was not read whole (a port failed mid-read): their code is no
    // news of the chip, so the boxes show nothing and saving or burning it asks or refuses.
    std::array<bool, 26> codeUnknown{};
    // Of those, the channels whose last write no chip acknowledged (rather than never read).
    std::array<bool, 26> writeUnacknowledged{};
    std::array<double, 2> vrefHigh{}; // the vsup remembered for A0 = 0 and A0 = 1
    std::array<double, 2> vrefLow{};
    double vsup = 10;
    double vlow = 0;
    QString a0Pin = QStringLiteral("0"); // "0" or "1": part of the chip's address
    int selectedChannel = 1;
    QString defaultDir;  // where file dialogs open
    QString lastFileDir; // folder of the register-set file last chosen
    int controlPanelOpen = 0;

    int a0Index() const { return a0Pin == QLatin1String("0") ? 0 : 1; }

    // Output voltage of a code, without the full-scale special case.
    double voltageOfCode(double code) const { return vlow + (vsup - vlow) * code / 1024; }
    // The voltage a channel shows: full scale for any word above 1023 (a silent chip's 65535).
    double displayedVoltage(double code) const;
    // The code of a voltage: clamped into vlow..vsup, then rounded half up. Saturates to
    // 0..1024 for any double, infinities and NaN included; 0 while vsup is not above vlow.
    double codeOfVoltage(double volts) const;
    // The code a register-set file's value leaves on the chip once loaded, as the register grid
    // takes it: a whole code from 0 to 1024 as it is; anything else (a fraction, a negative or a
    // larger value) through the voltage text the grid shows for it, as the grid reads it back.
    double loadedCode(double value) const;
    // The on-screen names of the channels whose code is unknown, in channel order.
    QStringList unknownChannels() const;
};

// On-screen name of a channel: "1" to "18", then "c1", "c2", then "19" to "22".
QString channelLabel(int index);

// Register number of a channel index.
inline int registerOfChannel(int index)
{
    return index - 1;
}

} // namespace device
