#include "port/mappedcomport.h"

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
    return SystemComPort::inspectNode(PortMap::portName(portNumber), where.devicePath, &reason);
}

OpenResult MappedComPort::open(int portNumber, const LineSettings &settings)
{
    close();
    m_lastError.clear();
    m_deviceTried = false;

    const PortTarget where = m_map.target(portNumber);
    ComPort *target = &m_device;
    if (where.kind == PortTarget::Kind::Simulated) {
        if (!where.simulated) {
            m_lastError =
                tr("%1: no simulated board is attached.").arg(PortMap::portName(portNumber));
            return OpenResult::Failed;
        }
        target = where.simulated;
    }

    target->setTimeouts(m_timeouts);
    OpenResult result = OpenResult::Failed;
    if (target == &m_device) {
        m_deviceTried = true;
        // A number without a target is refused by the device port with its own message.
        result = m_device.openDevice(portNumber, where.devicePath, settings);
    } else {
        result = target->open(portNumber, settings);
    }
    if (result == OpenResult::Opened && target->isOpen()) {
        m_open = target;
        // Direct: a failure on the bus thread must close the route before the next line call.
        m_failedConnection = connect(target, &ComPort::failed, this, &MappedComPort::openPortFailed,
                                     Qt::DirectConnection);
    }
    return result;
}

void MappedComPort::close()
{
    if (!m_open)
        return;
    disconnect(m_failedConnection);
    std::exchange(m_open, nullptr)->close();
}

PortTimeouts MappedComPort::timeouts() const
{
    return m_open ? m_open->timeouts() : m_timeouts;
}

void MappedComPort::setTimeouts(const PortTimeouts &timeouts)
{
    m_timeouts = timeouts;
    if (m_open)
        m_open->setTimeouts(timeouts);
}

void MappedComPort::setDtr(bool asserted)
{
    if (m_open)
        m_open->setDtr(asserted);
}

void MappedComPort::setRts(bool asserted)
{
    if (m_open)
        m_open->setRts(asserted);
}

bool MappedComPort::dsr()
{
    return m_open && m_open->dsr();
}

void MappedComPort::writeData(const QByteArray &bytes)
{
    if (m_open)
        m_open->writeData(bytes);
}

QString MappedComPort::lastError() const
{
    return m_deviceTried ? m_device.lastError() : m_lastError;
}

// The port has closed itself already.
void MappedComPort::openPortFailed(int portNumber, const QString &reason)
{
    disconnect(m_failedConnection);
    m_open = nullptr;
    emit failed(portNumber, reason);
}

} // namespace port
