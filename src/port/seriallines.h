#pragma once

#include <QByteArray>

namespace port {

// The few things the bus needs from a serial port: the two modem-control outputs, the one
// modem-status input, and the transmit data line. "Asserted" is the line's active state as the
// port sees it; the bus engine decides what that means on the wire.
class SerialLines
{
public:
    virtual ~SerialLines() = default;

    virtual bool isOpen() const = 0;
    virtual void setDtr(bool asserted) = 0;
    virtual void setRts(bool asserted) = 0;
    // DSR as the port reads it. A port that is not open reads it not asserted.
    virtual bool dsr() = 0;
    virtual void writeData(const QByteArray &bytes) = 0;
};

} // namespace port
