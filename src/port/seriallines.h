// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>

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

    // Lines that send a whole frame at once (an adapter in bit-bang mode) queue their writes:
    // a DSR reading becomes a sample marked in place and resolved when the frame ends. The bus
    // engine needs what it read only after the frame, so it works the same on both kinds.
    virtual bool sendsWholeFrames() const { return false; }
    // Marks a DSR sample after the writes queued so far.
    virtual void markDsrSample() {}
    // One more step with the lines as they are: a pause in the frame's own clock.
    virtual void holdStep() {}
    // Sends what is queued and gives the marked samples in order, true where DSR was asserted.
    // Missing ones (the port failed) read released, as on a closed port.
    virtual QList<bool> endFrame() { return {}; }
};

} // namespace port
