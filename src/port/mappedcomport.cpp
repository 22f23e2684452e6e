// SPDX-License-Identifier: MIT
#include "port/mappedcomport.h"

#include "log/logging.h"
#include "port/devicenode.h"

#include <utility>

namespace port {

namespace {

// Where a port number led, for the log.
QString targetText(int portNumber, const PortTarget &where)
{
    const QString name = PortMap::portName(portNumber);
    switch (PortFactory::kindOf(where)) {
    case AdapterKind::None:
        return name + QStringLiteral(" (mapped to nothing)");
    case AdapterKind::Serial:
        return QStringLiteral("%1 (%2)").arg(name, where.devicePath);
    case AdapterKind::Ft232r:
        return where.ftdiSerial.isEmpty()
                   ? QStringLiteral("%1 (%2, fast mode)").arg(name, where.devicePath)
                   : QStringLiteral("%1 (FT232R %2, fast mode)").arg(name, where.ftdiSerial);
    case AdapterKind::Simulated:
        return name + QStringLiteral(" (simulated board)");
    case AdapterKind::VirtualFt232r:
        return name + QStringLiteral(" (simulated board, virtual FT232R)");
    }
    return name;
}

const char *resultWord(OpenResult result)
{
    switch (result) {
    case OpenResult::Opened:
        return "opened";
    case OpenResult::Busy:
        return "busy";
    case OpenResult::NoPermission:
        return "no permission";
    case OpenResult::NotPresent:
        return "absent";
    case OpenResult::Failed:
        break;
    }
    return "failed";
}

} // namespace

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
        qCInfo(lcPort).noquote() << QStringLiteral("%1 refused (%2): %3")
                                        .arg(targetText(portNumber, where),
                                             QLatin1String(resultWord(refusal)), error);
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
        const bool skip = m_factory.skipsIdleWrites(where);
        routeTo(target, skip);
        qCInfo(lcPort).noquote() << QStringLiteral("%1 opened at %2 bit/s; idle writes %3")
                                        .arg(targetText(portNumber, where))
                                        .arg(settings.bitRate)
                                        .arg(skip ? QStringLiteral("skipped")
                                                  : QStringLiteral("sent"));
        return result;
    }
    if (auto *fast = qobject_cast<BitBangComPort *>(target)) {
        const std::lock_guard lock(m_errorLock);
        m_lastError = fast->lastError();
    }
    qCInfo(lcPort).noquote() << QStringLiteral("%1 refused (%2): %3")
                                    .arg(targetText(portNumber, where),
                                         QLatin1String(resultWord(result)), lastError());
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
    const int number = open->openPortNumber();
    open->close();
    qCInfo(lcPort).noquote()
        << QStringLiteral("%1 closed by the program").arg(PortMap::portName(number));
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
    qCWarning(lcPort).noquote() << QStringLiteral("%1 failed in use and closed: %2")
                                       .arg(PortMap::portName(portNumber), reason);
    emit failed(portNumber, reason);
}

} // namespace port
