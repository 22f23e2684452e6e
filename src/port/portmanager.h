// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"
#include "port/portselection.h"

#include <QList>
#include <QObject>
#include <array>
#include <functional>

namespace port {

// The program's port state and the routines on it: probing COM1 to COM16 once at start-up, the
// availability table, opening the selected port with its fixed framing and time-outs, and the
// marker block on the transmit data line. Works on the one ComPort it is given; the bus drives
// the lines of that same port.
class PortManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int portSlots = 17;        // availability entries, indices 0..16
    static constexpr int outputByteSlots = 26;  // outputBytes indices 0..25
    static constexpr int markerBlockSize = 4;   // bytes in every sendOutputBytes block
    static constexpr int openWaitYields = 1000; // yields before openSelectedComPort gives up
    // Used whenever the selected bit rate is 0 or below (nothing chosen yet, or a bad store).
    static constexpr qint32 fallbackBitRate = 9600;

    explicit PortManager(ComPort &port, QObject *parent = nullptr);

    ComPort &comPort() const { return m_port; }

    const PortSelection &selection() const { return m_selection; }
    void setSelection(const PortSelection &selection) { m_selection = selection; }
    qint16 portNumber() const { return m_selection.portNumber; }
    void setPortNumber(qint16 portNumber) { m_selection.portNumber = portNumber; }
    qint32 bitRate() const { return m_selection.bitRate; }
    void setBitRate(qint32 bitRate) { m_selection.bitRate = bitRate; }

    // False for every number outside 1..16.
    bool portAvailable(int portNumber) const;
    // The numbers of the ports the probe found present, ascending.
    const QList<int> &portList() const { return m_portList; }
    // What the probe saw for a port number; NotPresent for numbers it never tried.
    OpenResult probeResult(int portNumber) const;
    // What the last fncInitializeComPort saw.
    OpenResult lastOpenResult() const { return m_lastOpenResult; }
    // The record setComTimeouts last read from the port and, if open, wrote back.
    PortTimeouts portTimeouts() const { return m_portTimeouts; }

    // Indices outside 0..25 read 0 and are not written.
    quint8 outputBytes(int index) const;
    void setOutputBytes(int index, quint8 value);

    // Each yield of openSelectedComPort's wait; serves window events by default. Tests count.
    void setYieldFunction(std::function<void()> yield);

    void probeComPorts();
    void markAvailablePorts();
    void openSelectedComPort();
    bool fncInitializeComPort(qint32 bitRate, qint16 portNumber);
    void setComTimeouts(qint32 bitRate);
    void sendOutputBytes(qint16 count);

    // Milliseconds of one 10-bit character: 10000 / rate, to the nearest whole number with ties
    // to even. A rate of 0 or below counts as the fallback rate.
    static qint32 characterTimeMs(qint32 bitRate);
    // The rate a port really opens at for a selected bit rate.
    static qint32 effectiveBitRate(qint32 bitRate);

signals:
    void portOpened(int portNumber, qint32 bitRate);
    // An open port was closed and not re-opened.
    void portClosed(int portNumber);
    // The open port failed in use (for example an unplugged adapter) and has been closed.
    void portFailed(int portNumber, const QString &reason);

private:
    static bool isSlot(int portNumber) { return portNumber > 0 && portNumber < portSlots; }
    static constexpr std::array<OpenResult, portSlots> notProbed()
    {
        std::array<OpenResult, portSlots> results;
        results.fill(OpenResult::NotPresent);
        return results;
    }

    ComPort &m_port;
    PortSelection m_selection;
    std::array<bool, portSlots> m_portAvailable = {};
    std::array<OpenResult, portSlots> m_probeResults = notProbed();
    QList<int> m_portList;
    std::array<quint8, outputByteSlots> m_outputBytes = {};
    PortTimeouts m_portTimeouts;
    OpenResult m_lastOpenResult = OpenResult::NotPresent;
    std::function<void()> m_yield;
};

} // namespace port
