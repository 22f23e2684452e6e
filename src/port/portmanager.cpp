// SPDX-License-Identifier: MIT
#include "port/portmanager.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace port {

namespace {

void serveEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace

PortManager::PortManager(ComPort &port, QObject *parent)
    : QObject(parent), m_port(port), m_yield(serveEvents)
{
    // Direct, so the operation under way on the bus thread hears of it at once; receivers in
    // the windows' thread get it queued.
    connect(&m_port, &ComPort::failed, this, &PortManager::portFailed, Qt::DirectConnection);
}

bool PortManager::portAvailable(int portNumber) const
{
    return isSlot(portNumber) && m_portAvailable[portNumber];
}

OpenResult PortManager::probeResult(int portNumber) const
{
    return isSlot(portNumber) ? m_probeResults[portNumber] : OpenResult::NotPresent;
}

quint8 PortManager::outputBytes(int index) const
{
    return index >= 0 && index < outputByteSlots ? m_outputBytes[index] : 0;
}

void PortManager::setOutputBytes(int index, quint8 value)
{
    if (index >= 0 && index < outputByteSlots)
        m_outputBytes[index] = value;
}

void PortManager::setYieldFunction(std::function<void()> yield)
{
    m_yield = yield ? std::move(yield) : std::function<void()>(serveEvents);
}

// Runs once at start-up and opens nothing: a port the user has not chosen is never touched.
// Whether another program holds a port shows when the chosen one is opened.
void PortManager::probeComPorts()
{
    m_portList.clear();
    for (int n = 1; n < portSlots; ++n) {
        const OpenResult result = m_port.presence(n);
        m_probeResults[n] = result;
        if (result == OpenResult::Opened || result == OpenResult::Busy)
            m_portList.append(n);
    }
    markAvailablePorts();
}

// Only ever sets entries; the one way back to false is a busy port found at opening.
void PortManager::markAvailablePorts()
{
    for (int n : std::as_const(m_portList)) {
        if (isSlot(n))
            m_portAvailable[n] = true;
    }
}

void PortManager::openSelectedComPort()
{
    // The selection is read afresh on every pass: a handler run by a yield may change it.
    int yields = 0;
    while (!portAvailable(m_selection.portNumber)) {
        m_yield();
        if (++yields >= openWaitYields)
            return;
    }
    fncInitializeComPort(m_selection.bitRate, m_selection.portNumber);
    setComTimeouts(m_selection.bitRate);
}

bool PortManager::fncInitializeComPort(qint32 bitRate, qint16 portNumber)
{
    const int wasOpen = m_port.isOpen() ? m_port.openPortNumber() : 0;
    if (m_port.isOpen())
        m_port.close();

    LineSettings settings;
    settings.bitRate = effectiveBitRate(bitRate);
    m_lastOpenResult =
        isSlot(portNumber) ? m_port.open(portNumber, settings) : OpenResult::NotPresent;
    if (m_lastOpenResult == OpenResult::Busy)
        m_portAvailable[portNumber] = false;

    const bool open = m_port.isOpen();
    if (open)
        emit portOpened(m_port.openPortNumber(), settings.bitRate);
    else if (wasOpen != 0)
        emit portClosed(wasOpen);
    return open;
}

void PortManager::setComTimeouts(qint32 bitRate)
{
    m_portTimeouts = m_port.timeouts();
    const auto t = quint32(characterTimeMs(bitRate));
    if (!m_port.isOpen())
        return;
    m_portTimeouts.readIntervalTimeout = t;
    m_portTimeouts.readTotalTimeoutMultiplier = t;
    m_portTimeouts.readTotalTimeoutConstant = 1000;
    m_portTimeouts.writeTotalTimeoutMultiplier = t;
    m_portTimeouts.writeTotalTimeoutConstant = 1000;
    m_port.setTimeouts(m_portTimeouts);
}

// Always a whole block: bytes past the count go out as zeros.
void PortManager::sendOutputBytes(qint16 count)
{
    if (!m_port.isOpen())
        return;
    const int used = std::clamp<int>(count, 0, markerBlockSize);
    QByteArray block(markerBlockSize, '\0');
    for (int i = 1; i <= used; ++i)
        block[i - 1] = char(m_outputBytes[i]);
    m_port.writeData(block);
}

qint32 PortManager::characterTimeMs(qint32 bitRate)
{
    const double exact = 10000.0 / effectiveBitRate(bitRate);
    // Ties to even, whatever rounding mode the process happens to run in.
    double whole = std::floor(exact);
    const double fraction = exact - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return qint32(whole);
}

qint32 PortManager::effectiveBitRate(qint32 bitRate)
{
    return bitRate > 0 ? bitRate : fallbackBitRate;
}

} // namespace port
