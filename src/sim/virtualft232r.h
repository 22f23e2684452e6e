// SPDX-License-Identifier: MIT
#pragma once

#include "port/bitbangdevice.h"

#include <QList>
#include <chrono>

namespace port {
class SerialLines;
}

namespace sim {

// An FT232R in synchronous bit-bang mode as FTDI documents it, wired to the board as a USB-serial
// cable would be: D4 (DTR#) drives SCL, D2 (RTS#) drives SDA, D5 (DSR#) reads SDA back. For each
// byte of a transfer it first samples all eight pins, then applies the byte to the outputs. A
// transfer carries at most maxTransferBytes(); each one may take a latency, as a USB round trip
// does, plus the adapter's clock time for its steps.
class VirtualFt232r : public port::BitBangDevice
{
public:
    static constexpr int transferLimit = 128;

    // `lines` is the board (or a recorder in front of it); it must outlive the adapter.
    explicit VirtualFt232r(port::SerialLines &lines) : m_lines(lines) {}

    port::OpenResult open(quint8 outputPins, quint8 initial, int stepsPerSecond,
                          QString *error) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    int maxTransferBytes() const override { return m_transferLimit; }
    QByteArray transfer(const QByteArray &states, QString *error) override;

    // 0 (the default) runs at full speed, without the clock's time either.
    void setTransferLatency(std::chrono::microseconds latency) { m_latency = latency; }
    void setTransferLimit(int bytes) { m_transferLimit = bytes; }
    // Pulls the adapter out in the middle of the transfer after the next `transfers` ones: it
    // returns only part of its samples. Negative: never.
    void unplugAfter(int transfers) { m_transfersLeft = transfers; }

    // Every transfer's size, and every byte applied, since the open: what went over the USB
    // cable and onto the board's lines.
    const QList<int> &transferSizes() const { return m_transferSizes; }
    const QByteArray &stepsApplied() const { return m_steps; }

private:
    quint8 pins() const;
    void apply(quint8 state, bool all);

    port::SerialLines &m_lines;
    bool m_open = false;
    quint8 m_outputs = 0;
    quint8 m_state = 0xFF;
    int m_stepsPerSecond = 0;
    int m_transferLimit = transferLimit;
    int m_transfersLeft = -1;
    std::chrono::microseconds m_latency{0};
    QList<int> m_transferSizes;
    QByteArray m_steps;
};

} // namespace sim
