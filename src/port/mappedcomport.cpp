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
    {
        const std::lock_guard lock(m_errorLock);
        m_lastError.clear();
    }
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
    if (result == OpenResult::Opened && target->isOpen())
        routeTo(target, skipsIdleWritesAt(portNumber));
    return result;
}

bool MappedComPort::skipsIdleWritesAt(int portNumber) const
{
    const PortTarget where = m_map.target(portNumber);
    switch (where.kind) {
    case PortTarget::Kind::None:
        return false;
    case PortTarget::Kind::Simulated:
        return where.simulated && !where.simulated->sendsWholeFrames() &&
               where.skipIdleWrites.value_or(false);
    case PortTarget::Kind::Device:
        break;
    }
    return !where.fastMode && where.skipIdleWrites.value_or(adapterOf(where.devicePath).isUsb);
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
        const UsbAdapter adapter = adapterOf(where.devicePath);
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
    routeTo(m_fastPort.get(), skipsIdleWritesAt(portNumber));
    return result;
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
        return m_device.lastError();
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
