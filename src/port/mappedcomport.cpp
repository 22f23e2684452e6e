#include "port/mappedcomport.h"

#include "port/usbadapter.h"

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

    if (where.kind == PortTarget::Kind::Device && where.fastMode)
        return openFast(portNumber, where, settings);

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
        routeTo(target, where.skipIdleWrites.value_or(where.kind == PortTarget::Kind::Device &&
                                                      usbAdapterOf(where.devicePath).isUsb));
    }
    return result;
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

OpenResult MappedComPort::openFast(int portNumber, const PortTarget &where,
                                   const LineSettings &settings)
{
    const QString name = PortMap::portName(portNumber);
    FtdiSelection selection;
    if (where.ftdiSerial.isEmpty()) {
        const UsbAdapter adapter = usbAdapterOf(where.devicePath);
        if (!adapter.isFt232r()) {
            m_lastError = tr("%1 (%2) is not an FT232R adapter, which fast mode needs; turn fast "
                             "mode off to use it as a serial port.")
                              .arg(name, where.devicePath);
            return OpenResult::NotPresent;
        }
        selection = {adapter.serial, adapter.busNumber, adapter.deviceAddress,
                     QStringLiteral("%1 (%2)").arg(name, where.devicePath)};
    } else {
        selection = {where.ftdiSerial, 0, 0, QStringLiteral("FT232R %1").arg(where.ftdiSerial)};
    }
    m_fastPort.reset();
    m_adapter = std::make_unique<LibFtdiDevice>(selection);
    m_fastPort = std::make_unique<BitBangComPort>(*m_adapter);
    m_fastPort->setTimeouts(m_timeouts);
    const OpenResult result = m_fastPort->open(portNumber, settings);
    if (result != OpenResult::Opened) {
        m_lastError = m_fastPort->lastError();
        return result;
    }
    // Every write is a step of the adapter's clock, and the timing rests on them: none is skipped.
    routeTo(m_fastPort.get(), false);
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
    if (!m_open || (m_skipIdleWrites && m_dtr == asserted))
        return;
    m_dtr = asserted;
    m_open->setDtr(asserted);
}

void MappedComPort::setRts(bool asserted)
{
    if (!m_open || (m_skipIdleWrites && m_rts == asserted))
        return;
    m_rts = asserted;
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

bool MappedComPort::sendsWholeFrames() const
{
    return m_open && m_open->sendsWholeFrames();
}

void MappedComPort::markDsrSample()
{
    if (m_open)
        m_open->markDsrSample();
}

void MappedComPort::holdStep()
{
    if (m_open)
        m_open->holdStep();
}

QList<bool> MappedComPort::endFrame()
{
    return m_open ? m_open->endFrame() : QList<bool>();
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
    if (!m_deviceTried)
        m_lastError = reason;
    emit failed(portNumber, reason);
}

} // namespace port
