#pragma once

#include "port/comport.h"
#include "port/portmap.h"
#include "port/systemcomport.h"

#include <QMetaObject>

namespace port {

// The program's one port as the port map routes it: at each open the map decides whether the
// COM number leads to a device, opened on the real port, or to the simulated board's port, so
// the port settings dialog can switch between the two at run time. Line operations go straight
// to the port that is open: a device still sees exactly one system call per operation.
class MappedComPort : public ComPort
{
    Q_OBJECT

public:
    explicit MappedComPort(const PortMap &map = PortMap(), QObject *parent = nullptr);

    // Takes effect at the next open.
    void setPortMap(const PortMap &map) { m_map = map; }
    const PortMap &portMap() const { return m_map; }

    OpenResult presence(int portNumber) const override;
    OpenResult open(int portNumber, const LineSettings &settings) override;
    void close() override;
    int openPortNumber() const override { return m_open ? m_open->openPortNumber() : 0; }

    PortTimeouts timeouts() const override;
    void setTimeouts(const PortTimeouts &timeouts) override;

    bool isOpen() const override { return m_open && m_open->isOpen(); }
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    // Why the last open, line operation or write went wrong; empty after a clean open.
    QString lastError() const;

private:
    void openPortFailed(int portNumber, const QString &reason);

    PortMap m_map;
    SystemComPort m_device;
    ComPort *m_open = nullptr;
    QMetaObject::Connection m_failedConnection;
    // One record whatever the target, as a single port keeps it.
    PortTimeouts m_timeouts;
    // The device's own errors count while the device was the last target; otherwise this one.
    bool m_deviceTried = false;
    QString m_lastError;
};

} // namespace port
