// SPDX-License-Identifier: MIT
#pragma once

#include "port/bitbangdevice.h"
#include "port/comport.h"

#include <QList>

namespace port {

// A serial port's bus lines carried by an adapter in synchronous bit-bang mode: each line write
// becomes one step of the adapter's clock, queued until the frame ends and then sent in as few
// transfers as the adapter takes. The line states, and their order, are those of the serial
// port; only the time between them changes, now set by the adapter's clock.
//
// The step: standard-mode I2C (100 kHz) asks for SCL high at least 4.0 us, SCL low 4.7 us, a
// STOP's setup 4.0 us and a START's hold 4.0 us. In the bus engine's sequences SCL stays high
// for two steps in every bit, low for at least two, and SDA rises one step after SCL in a STOP:
// one step is the tightest interval. At 200,000 steps a second (5 us a step) that STOP setup
// is 5 us (4.0 needed), SCL high 10 us (4.0) and low 10 us (4.7); a bit takes at least four
// steps, so SCL runs at 50 kHz at most. A pause of the engine, a counted loop of well under a
// microsecond on the serial path, becomes one whole step here.
class BitBangComPort : public ComPort
{
    Q_OBJECT

public:
    static constexpr int stepsPerSecond = 200'000;

    explicit BitBangComPort(BitBangDevice &device, QObject *parent = nullptr);
    ~BitBangComPort() override;

    OpenResult presence(int) const override { return OpenResult::Opened; }
    OpenResult open(int portNumber, const LineSettings &settings) override;
    void close() override;
    int openPortNumber() const override { return m_openPortNumber; }
    PortTimeouts timeouts() const override { return m_timeouts; }
    void setTimeouts(const PortTimeouts &timeouts) override { m_timeouts = timeouts; }

    bool isOpen() const override { return m_openPortNumber != 0; }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    // A reading outside a frame: what is queued goes out with one step more, whose sample it is.
    bool dsr() override;
    // The transmit line is a plain pin in bit-bang mode (D0, held at mark between blocks): the
    // bytes go out on it as UART frames at the open's bit rate, no parity, 8 data bits, 1 stop
    // bit, so an instrument on TXD sees what it sees from a serial port.
    void writeData(const QByteArray &bytes) override;

    bool sendsWholeFrames() const override { return true; }
    void markDsrSample() override;
    void holdStep() override;
    QList<bool> endFrame() override;

    // Why the last open or transfer failed; empty after a clean open.
    QString lastError() const { return m_lastError; }
    // Transfers since the port was opened (for the benchmark and the tests).
    qint64 transferCount() const { return m_transfers; }

private:
    void setPin(quint8 pin, bool asserted);
    // False, with the port closed and the failure reported, when the adapter went away.
    bool send(QByteArray *samples);

    BitBangDevice &m_device;
    int m_openPortNumber = 0;
    PortTimeouts m_timeouts;
    qint32 m_bitRate = LineSettings().bitRate;
    quint8 m_state = 0xFF;
    QByteArray m_queue;
    // For each marked sample, the step whose sample it is: the one after the writes before it,
    // as the adapter samples its pins before it applies a step.
    QList<qsizetype> m_marks;
    QString m_lastError;
    qint64 m_transfers = 0;
};

} // namespace port
