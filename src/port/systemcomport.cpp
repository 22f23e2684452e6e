// SPDX-License-Identifier: MIT
#include "port/systemcomport.h"

#include "port/devicenode.h"
#include "port/portmap.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace port {

namespace {

// Bound of a data-line write while the write time-outs are both zero (not set yet). Nothing
// throttles the transmit line, so only a wedged adapter ever comes near it.
constexpr qint64 unsetWriteBudgetMs = 1000;

} // namespace

SystemComPort::SystemComPort(QObject *parent) : ComPort(parent)
{
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SystemComPort::handleSerialError);
    // Nothing the program uses arrives on the receive line; drop it so the buffer never grows.
    connect(&m_serial, &QSerialPort::readyRead, this, [this] { m_serial.readAll(); });
}

SystemComPort::~SystemComPort()
{
    m_serial.disconnect(this);
    close();
}

OpenResult SystemComPort::presence(int portNumber) const
{
    const QString path = PortMap::defaultDevicePath(portNumber);
    if (path.isEmpty())
        return OpenResult::NotPresent;
    QString reason;
    return inspectDeviceNode(PortMap::portName(portNumber), path, &reason);
}

OpenResult SystemComPort::open(int portNumber, const LineSettings &settings)
{
    return openDevice(portNumber, PortMap::defaultDevicePath(portNumber), settings);
}

OpenResult SystemComPort::openDevice(int portNumber, const QString &path,
                                     const LineSettings &settings)
{
    close();
    m_lastError.clear();
    if (!PortMap::isPortNumber(portNumber))
        return refuse(OpenResult::NotPresent,
                      tr("There is no port %1.").arg(PortMap::comName(portNumber)));

    const QString name = PortMap::portName(portNumber);
    if (settings.bitRate <= 0) {
        return refuse(OpenResult::Failed,
                      tr("%1: %2 bit/s is not a bit rate.").arg(name).arg(settings.bitRate));
    }

    QString reason;
    if (const OpenResult found = inspectDeviceNode(name, path, &reason);
        found != OpenResult::Opened)
        return refuse(found, reason);

    m_serial.setPortName(path);
    m_serial.setBaudRate(settings.bitRate);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_serial.error();
        const QString text = tr("%1: %2: %3").arg(name, path, m_serial.errorString());
        m_serial.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return refuse(OpenResult::NotPresent, text);
        case QSerialPort::PermissionError:
            // Access to the node is granted (checked above), so what stands in the way is
            // another program: an exclusive open, a lock file, or on Windows any open handle.
            return refuse(OpenResult::Busy, text);
        default:
            return refuse(OpenResult::Failed, text);
        }
    }

    const std::lock_guard lock(m_lock);
    m_handle = m_serial.handle();
    m_open = true;
    m_openPortNumber = portNumber;
    // The system raises DTR and RTS when it opens a port; the bus idles with both released.
    if (!writeLine(Line::Dtr, false) || !writeLine(Line::Rts, false)) {
        const QString reason = m_lastError;
        closeLocked();
        return refuse(OpenResult::Failed, reason);
    }
    return OpenResult::Opened;
}

OpenResult SystemComPort::refuse(OpenResult result, const QString &reason)
{
    const std::lock_guard lock(m_lock);
    m_lastError = reason;
    return result;
}

QString SystemComPort::lastError() const
{
    const std::lock_guard lock(m_lock);
    return m_lastError;
}

void SystemComPort::close()
{
    const std::lock_guard lock(m_lock);
    closeLocked();
}

void SystemComPort::closeLocked()
{
    const bool was = m_open.exchange(false);
    m_openPortNumber = 0;
    m_handle = {};
    ++m_session;
    if (QThread::currentThread() != thread()) {
        // A line call failed on the bus thread. The port's notifiers belong to this object's
        // thread, so the handle is closed there; nothing uses it meanwhile (m_open is false).
        QMetaObject::invokeMethod(this, [this, session = m_session] {
            const std::lock_guard lock(m_lock);
            if (session == m_session && m_serial.isOpen())
                m_serial.close();
            m_serial.clearError();
        });
        return;
    }
    if (was && m_serial.isOpen())
        m_serial.close();
    m_serial.clearError();
}

PortTimeouts SystemComPort::timeouts() const
{
    const std::lock_guard lock(m_lock);
#ifdef Q_OS_WIN
    COMMTIMEOUTS current = {};
    if (m_open && ::GetCommTimeouts(m_handle, &current)) {
        PortTimeouts record;
        record.readIntervalTimeout = current.ReadIntervalTimeout;
        record.readTotalTimeoutMultiplier = current.ReadTotalTimeoutMultiplier;
        record.readTotalTimeoutConstant = current.ReadTotalTimeoutConstant;
        record.writeTotalTimeoutMultiplier = current.WriteTotalTimeoutMultiplier;
        record.writeTotalTimeoutConstant = current.WriteTotalTimeoutConstant;
        return record;
    }
#endif
    return m_timeouts;
}

void SystemComPort::setTimeouts(const PortTimeouts &timeouts)
{
    const std::lock_guard lock(m_lock);
    m_timeouts = timeouts;
#ifdef Q_OS_WIN
    if (m_open) {
        COMMTIMEOUTS record = {};
        record.ReadIntervalTimeout = timeouts.readIntervalTimeout;
        record.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
        record.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
        record.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
        record.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
        ::SetCommTimeouts(m_handle, &record);
    }
#endif
}

template<typename Call> bool SystemComPort::lineCall(const Call &call)
{
    QString reason;
    {
        const std::lock_guard lock(m_lock);
        if (!m_open)
            return false;
        if (call())
            return true;
        reason = m_lastError;
    }
    fail(reason);
    return false;
}

void SystemComPort::setDtr(bool asserted)
{
    lineCall([&] { return writeLine(Line::Dtr, asserted); });
}

void SystemComPort::setRts(bool asserted)
{
    lineCall([&] { return writeLine(Line::Rts, asserted); });
}

bool SystemComPort::dsr()
{
    bool asserted = false;
    return lineCall([&] { return readDsr(&asserted); }) && asserted;
}

// One system call per line write: the bus is paced by these calls.
bool SystemComPort::writeLine(Line line, bool asserted)
{
#ifdef Q_OS_WIN
    const DWORD function =
        line == Line::Dtr ? (asserted ? SETDTR : CLRDTR) : (asserted ? SETRTS : CLRRTS);
    if (::EscapeCommFunction(m_handle, function))
        return true;
    const QString text = qt_error_string();
#else
    const int bit = line == Line::Dtr ? TIOCM_DTR : TIOCM_RTS;
    const unsigned long request = asserted ? TIOCMBIS : TIOCMBIC;
    int result = 0;
    // A driver that sleeps on a USB transfer can be interrupted before it acts; setting or
    // clearing a bit twice is harmless.
    do {
        result = ::ioctl(m_handle, request, &bit);
    } while (result == -1 && errno == EINTR);
    if (result != -1)
        return true;
    const QString text = qt_error_string(errno);
#endif
    m_lastError = tr("%1: setting %2 failed: %3")
                      .arg(portName(),
                           line == Line::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS"), text);
    return false;
}

bool SystemComPort::readDsr(bool *asserted)
{
#ifdef Q_OS_WIN
    DWORD status = 0;
    if (::GetCommModemStatus(m_handle, &status)) {
        *asserted = (status & MS_DSR_ON) != 0;
        return true;
    }
    const QString text = qt_error_string();
#else
    int status = 0;
    int result = 0;
    do {
        result = ::ioctl(m_handle, TIOCMGET, &status);
    } while (result == -1 && errno == EINTR);
    if (result != -1) {
        *asserted = (status & TIOCM_DSR) != 0;
        return true;
    }
    const QString text = qt_error_string(errno);
#endif
    m_lastError = tr("%1: reading DSR failed: %2").arg(portName(), text);
    return false;
}

void SystemComPort::writeData(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        lineCall([&] { return writeBytes(bytes); });
}

// False only when the port failed; a block that timed out is dropped, and the port still works.
bool SystemComPort::writeBytes(const QByteArray &bytes)
{
    // The write time-outs bound the whole block, as the system's own would.
    qint64 budget = qint64(m_timeouts.writeTotalTimeoutMultiplier) * bytes.size() +
                    m_timeouts.writeTotalTimeoutConstant;
    if (budget <= 0)
        budget = unsetWriteBudgetMs;
    const QDeadlineTimer deadline(budget);
    const auto timedOut = [&] {
        m_lastError = tr("%1: writing %2 bytes to the data line timed out after %3 ms")
                          .arg(portName())
                          .arg(bytes.size())
                          .arg(budget);
        return true;
    };
#ifdef Q_OS_WIN
    // The handle belongs to QSerialPort's own overlapped I/O there.
    if (m_serial.write(bytes) != bytes.size()) {
        m_lastError =
            tr("%1: writing to the data line failed: %2").arg(portName(), m_serial.errorString());
        return false;
    }
    while (m_serial.bytesToWrite() > 0) {
        if (m_serial.waitForBytesWritten(int(qMax<qint64>(0, deadline.remainingTime()))))
            continue;
        if (m_serial.error() == QSerialPort::TimeoutError) {
            // A late marker is dropped, not sent after the bus has moved on.
            m_serial.clearError();
            m_serial.clear(QSerialPort::Output);
            return timedOut();
        }
        m_lastError =
            tr("%1: writing to the data line failed: %2").arg(portName(), m_serial.errorString());
        return false;
    }
    return true;
#else
    // Straight to the descriptor, not through QSerialPort: its buffers and notifiers belong to
    // the window thread, and this runs on the bus thread.
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(m_handle, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (written > 0) {
            done += written;
            continue;
        }
        if (written == -1 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        pollfd ready = {m_handle, POLLOUT, 0};
        const qint64 left = deadline.remainingTime();
        if (left == 0 || (::poll(&ready, 1, int(left)) == 0)) {
            // A late marker is dropped, not sent after the bus has moved on.
            ::tcflush(m_handle, TCOFLUSH);
            return timedOut();
        }
    }
    if (done == bytes.size())
        return true;
    m_lastError =
        tr("%1: writing to the data line failed: %2").arg(portName(), qt_error_string(errno));
    return false;
#endif
}

void SystemComPort::fail(QString reason)
{
    int portNumber = 0;
    {
        const std::lock_guard lock(m_lock);
        // Seen on both threads at once, a failure is reported once.
        if (!m_open)
            return;
        portNumber = m_openPortNumber;
        closeLocked();
        m_lastError = reason;
    }
    emit failed(portNumber, reason);
}

void SystemComPort::handleSerialError(QSerialPort::SerialPortError error)
{
    // Qt notices an unplugged adapter while the port idles (the line operations notice it on
    // their own). Close only after Qt's notification has returned, and only the session that saw
    // the error.
    if (error != QSerialPort::ResourceError || !m_open)
        return;
    const QString reason = tr("%1: %2").arg(portName(), m_serial.errorString());
    const std::lock_guard lock(m_lock);
    const quint64 session = m_session;
    // The close waits for a line call under way on the bus thread, then the next one finds the
    // port closed.
    QMetaObject::invokeMethod(
        this,
        [this, session, reason] {
            std::unique_lock lock(m_lock);
            if (session != m_session || !m_open)
                return;
            lock.unlock();
            fail(reason);
        },
        Qt::QueuedConnection);
}

QString SystemComPort::portName() const
{
    return PortMap::portName(m_openPortNumber);
}

} // namespace port
