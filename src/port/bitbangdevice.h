// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"

#include <QByteArray>
#include <QString>

namespace port {

// A USB adapter in synchronous bit-bang mode (FTDI's FT232R): every byte written sets the eight
// pins for one step of the adapter's clock, and for every byte the adapter returns the pins as
// they were just before that byte was applied. A whole frame of line states thus costs one USB
// transfer instead of one per line change.
//
// Pins in bit-bang mode (FTDI AN_232R-01): D0 TXD, D1 RXD, D2 RTS#, D3 CTS#, D4 DTR#, D5 DSR#,
// D6 DCD#, D7 RI#. A pin written 0 is at the level of the serial line asserted.
class BitBangDevice
{
public:
    static constexpr quint8 txdPin = 0x01;
    static constexpr quint8 rtsPin = 0x04;
    static constexpr quint8 dtrPin = 0x10;
    static constexpr quint8 dsrPin = 0x20;

    virtual ~BitBangDevice() = default;

    // Claims the adapter and starts synchronous bit-bang with these pins as outputs, set to
    // `initial`, at `stepsPerSecond`. Anything but Opened leaves the adapter to the system, with
    // a message in *error that says why and what to do.
    virtual OpenResult open(quint8 outputPins, quint8 initial, int stepsPerSecond,
                            QString *error) = 0;
    // Ends bit-bang mode and gives the adapter back to the system's serial driver.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // The most bytes one transfer carries; longer frames are split.
    virtual int maxTransferBytes() const = 0;
    // Sends the states, one per step, and returns the sample taken before each. Fewer samples
    // than states, with the reason in *error, when the adapter went away; it is closed then.
    virtual QByteArray transfer(const QByteArray &states, QString *error) = 0;
};

} // namespace port
