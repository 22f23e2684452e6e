// SPDX-License-Identifier: MIT
#include "port/mappedcomport.h"

#include "port/devicenode.h"

#include <utility>

namespace port {

MappedComPort::MappedComPort(const PortMap &map, QObject *parent) : ComPort(parent), m_map(map) {}

OpenResult MappedComPort::presence(int portNumber) const
{
    const PortTarget where = m_map.target(portNumber);
    switch (where.kind) {
    case PortTarget::Kind::None:
        return OpenResult::NotPresent;
    case PortTarget::Kind::Simulated:
        return where.simulated ? where.simulated->presence(portNumber) : OpenResult::Failed;
    case PortTarget::Kind::Device:
        break;
    }
    QString reason;
    return inspectDeviceNode(PortMap::portName(portNumber), where.devicePath, &reason);
}

OpenResult MappedComPort::open(int portNumber, const LineSettings &settings)
{
    close();
    {
        const std::lock_guard lock(m_errorLock);
        m_lastError.clear();
    }
    m_deviceTried = false;

    const PortTarget where = m_map.target(portNumber);
    OpenResult refusal = OpenResult::Failed;
    QString error;
    ComPort *target = m_factory.portFor(portNumber, where, &refusal, &error);
    if (!target) {
        const std::lock_guard lock(m_errorLock);
        m_lastError = error;
        return refusal;
    }

    target->setTimeouts(m_timeouts);
    OpenResult result = OpenResult::Failed;
    SystemComPort &serial = m_factory.serialPort();
    if (target == &serial) {
        m_deviceTried = true;
        result = serial.openDevice(portNumber, where.devicePath, settings);
    } else {
        result = target->open(portNumber, settings);
    }
    if (result == OpenResult::Opened && target->isOpen()) {
        routeTo(target, m_factory.skipsIdleWrites(where));
    } else if (auto *fast = qobject_cast<BitBangComPort *>(target)) {
        const std::lock_guard lock(m_errorLock);
        m_lastError = fast->lastError();
    }
    return result;
}

bool MappedComPort::skipsIdleWritesAt(int portNumber) const
{
    return m_factory.skipsIdleWrites(m_map.target(portNumber));
}

void MappedComPort::routeTo(ComPort *target, bool skipIdleWrites)
{
    m_open = target;
    // Direct: a failure on the bus thread must close the route before the next line call.
    m_failedConnection = connect(target, &ComPort::failed, this, &MappedComPort::openPortFailed,
                                 Qt::DirectConnection);
    m_skipIdleWrites = skipIdleWrites;
    // An open leaves both lines released.
    m_dtr = false;
    m_rts = false;
}

void MappedComPort::close()
{
    ComPort *open = m_open.exchange(nullptr);
    if (!open)
        return;
    disconnect(m_failedConnection);
    open->close();
}

int MappedComPort::openPortNumber() const
{
    const ComPort *open = m_open.load();
    return open ? open->openPortNumber() : 0;
}

bool MappedComPort::isOpen() const
{
    const ComPort *open = m_open.load();
    return open && open->isOpen();
}

PortTimeouts MappedComPort::timeouts() const
{
    const ComPort *open = m_open.load();
    return open ? open->timeouts() : m_timeouts;
}

void MappedComPort::setTimeouts(const PortTimeouts &timeouts)
{
    m_timeouts = timeouts;
    if (ComPort *open = m_open.load())
        open->setTimeouts(timeouts);
}

void MappedComPort::setDtr(bool asserted)
{
    ComPort *open = m_open.load();
    if (!open || (m_skipIdleWrites && m_dtr == asserted))
        return;
    m_dtr = asserted;
    open->setDtr(asserted);
}

void MappedComPort::setRts(bool asserted)
{
    ComPort *open = m_open.load();
    if (!open || (m_skipIdleWrites && m_rts == asserted))
        return;
    m_rts = asserted;
    open->setRts(asserted);
}

bool MappedComPort::dsr()
{
    ComPort *open = m_open.load();
    return open && open->dsr();
}

void MappedComPort::writeData(const QByteArray &bytes)
{
    if (ComPort *open = m_open.load())
        open->writeData(bytes);
}

bool MappedComPort::sendsWholeFrames() const
{
    const ComPort *open = m_open.load();
    return open && open->sendsWholeFrames();
}

void MappedComPort::markDsrSample()
{
    if (ComPort *open = m_open.load())
        open->markDsrSample();
}

void MappedComPort::holdStep()
{
    if (ComPort *open = m_open.load())
        open->holdStep();
}

QList<bool> MappedComPort::endFrame()
{
    ComPort *open = m_open.load();
    return open ? open->endFrame() : QList<bool>();
}

QString MappedComPort::lastError() const
{
    if (m_deviceTried)
        return m_factory.serialPort().lastError();
    const std::lock_guard lock(m_errorLock);
    return m_lastError;
}

// The port has closed itself already.
void MappedComPort::openPortFailed(int portNumber, const QString &reason)
{
    disconnect(m_failedConnection);
    m_open = nullptr;
    if (!m_deviceTried) {
        const std::lock_guard lock(m_errorLock);
        m_lastError = reason;
    }
    emit failed(portNumber, reason);
}

} // namespace port
