#pragma once

#include "port/comport.h"
#include "port/portmap.h"

#include <QSerialPort>
#include <utility>

namespace port {

// The real port: the device the port map names for a COM number, or the simulated board when the
// map says so. Every line operation on a device is exactly one system call on the port's handle:
// the bus is clocked by these calls, so a write is never skipped or preceded by a read.
class SystemComPort : public ComPort
{
    Q_OBJECT

public:
    explicit SystemComPort(const PortMap &map = PortMap(), QObject *parent = nullptr);
    ~SystemComPort() override;

    // Takes effect at the next open.
    void setPortMap(const PortMap &map) { m_map = map; }
    const PortMap &portMap() const { return m_map; }

    OpenResult presence(int portNumber) const override;
    OpenResult open(int portNumber, const LineSettings &settings) override;
    void close() override;
    int openPortNumber() const override { return m_openPortNumber; }

    PortTimeouts timeouts() const override;
    void setTimeouts(const PortTimeouts &timeouts) override;

    bool isOpen() const override { return m_target != Target::Closed; }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    // Why the last open, line operation or write went wrong; empty after a clean open.
    QString lastError() const { return m_lastError; }

private:
    enum class Target { Closed, Device, Simulated };
    enum class Line { Dtr, Rts };

    static OpenResult inspectNode(const QString &name, const QString &path, QString *reason);
    OpenResult openDevice(int portNumber, const QString &path, const LineSettings &settings);
    OpenResult refuse(OpenResult result, const QString &reason);
    bool writeLine(Line line, bool asserted);
    bool readDsr(bool *asserted);
    void fail(QString reason);
    void handleSerialError(QSerialPort::SerialPortError error);
    QString portName() const;

    PortMap m_map;
    QSerialPort m_serial;
    // The system's handle of the open device: a descriptor on POSIX, a HANDLE on Windows.
    decltype(std::declval<const QSerialPort &>().handle()) m_handle{};
    SerialLines *m_simulated = nullptr;
    Target m_target = Target::Closed;
    int m_openPortNumber = 0;
    // Counts open sessions, so that an error queued by one session cannot close the next.
    quint64 m_session = 0;
    PortTimeouts m_timeouts;
    QString m_lastError;
};

} // namespace port
