// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"

#include <QSerialPort>
#include <atomic>
#include <mutex>
#include <utility>

namespace port {

// The real port: a device node of the system. Every line operation is exactly one system call
// on the port's handle: the bus is clocked by these calls, so a write is never skipped or
// preceded by a read.
//
// The line calls come from the bus thread; the system reports an unplugged adapter on the
// window thread, and a close may come from there. One lock covers the handle: a close waits for
// the line call under way, and no line call ever meets a closed (perhaps reused) descriptor.
class SystemComPort : public ComPort
{
    Q_OBJECT

public:
    explicit SystemComPort(QObject *parent = nullptr);
    ~SystemComPort() override;

    // The system's default device for the COM number, looked at without opening it.
    OpenResult presence(int portNumber) const override;
    // Opens the system's default device for the COM number.
    OpenResult open(int portNumber, const LineSettings &settings) override;
    // Opens any device under a COM number; closes first if open. On success both modem-control
    // outputs are released.
    OpenResult openDevice(int portNumber, const QString &path, const LineSettings &settings);
    void close() override;
    int openPortNumber() const override { return m_openPortNumber.load(); }

    PortTimeouts timeouts() const override;
    void setTimeouts(const PortTimeouts &timeouts) override;

    bool isOpen() const override { return m_open; }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    // Why the last open, line operation or write went wrong; empty after a clean open.
    QString lastError() const;

private:
    enum class Line { Dtr, Rts };

    OpenResult refuse(OpenResult result, const QString &reason);
    // Runs one line call under the lock; a failed one closes the port and reports it.
    template<typename Call> bool lineCall(const Call &call);
    // With m_lock held.
    void closeLocked();
    bool writeLine(Line line, bool asserted);
    bool writeBytes(const QByteArray &bytes);
    bool readDsr(bool *asserted);
    void fail(QString reason);
    void handleSerialError(QSerialPort::SerialPortError error);
    QString portName() const;

    QSerialPort m_serial;
    // The system's handle of the open device: a descriptor on POSIX, a HANDLE on Windows.
    decltype(std::declval<const QSerialPort &>().handle()) m_handle{};
    mutable std::recursive_mutex m_lock; // guards everything below but the two atomics
    std::atomic<bool> m_open{false};
    std::atomic<int> m_openPortNumber{0};
    // Counts open sessions, so that an error queued by one session cannot close the next.
    quint64 m_session = 0;
    PortTimeouts m_timeouts;
    QString m_lastError;
};

} // namespace port
