// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"
#include "port/portfactory.h"
#include "port/portmap.h"

#include <QMetaObject>
#include <atomic>
#include <memory>
#include <mutex>

namespace port {

// The program's one port as the port map routes it: at each open the map decides whether the
// COM number leads to a device, opened on the real port, or to the simulated board's port, so
// the port settings dialog can switch between the two at run time. Line operations go straight
// to the port that is open: a device still sees exactly one system call per operation, unless
// the port skips idle writes (those that leave a line as it is), which on a USB adapter cost a
// round trip each and change nothing on the bus. A device whose adapter is an FT232R may be
// opened in fast mode instead: its bit-bang port then carries the lines, a frame at a time.
class MappedComPort : public ComPort
{
    Q_OBJECT

public:
    explicit MappedComPort(const PortMap &map = PortMap(), QObject *parent = nullptr);

    // Takes effect at the next open.
    void setPortMap(const PortMap &map) { m_map = map; }
    const PortMap &portMap() const { return m_map; }

    // What makes the port for each open; tests present adapters through it.
    PortFactory &factory() { return m_factory; }
    // Whether an open of the port as the map routes it now would skip idle writes: the map's
    // choice, else on a USB adapter only; never on a port that sends whole frames, whose timing
    // rests on every write.
    bool skipsIdleWritesAt(int portNumber) const;

    OpenResult presence(int portNumber) const override;
    OpenResult open(int portNumber, const LineSettings &settings) override;
    void close() override;
    int openPortNumber() const override;

    PortTimeouts timeouts() const override;
    void setTimeouts(const PortTimeouts &timeouts) override;

    bool isOpen() const override;
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;
    bool sendsWholeFrames() const override;
    void markDsrSample() override;
    void holdStep() override;
    QList<bool> endFrame() override;

    // Whether the open port skips idle writes, and whether it runs in fast mode.
    bool skipsIdleWrites() const { return m_open.load() && m_skipIdleWrites; }
    bool inFastMode() const { return sendsWholeFrames(); }

    // Why the last open, line operation or write went wrong; empty after a clean open.
    QString lastError() const;

private:
    void openPortFailed(int portNumber, const QString &reason);
    // The open target carries the lines from now on.
    void routeTo(ComPort *target, bool skipIdleWrites);

    PortMap m_map;
    PortFactory m_factory;
    // The target carrying the lines. A failure clears it on whichever thread saw it (the port
    // has closed itself by then), so each call reads it once.
    std::atomic<ComPort *> m_open{nullptr};
    bool m_skipIdleWrites = false;
    // What the lines were last set to, known from the open on (which releases both).
    bool m_dtr = false;
    bool m_rts = false;
    QMetaObject::Connection m_failedConnection;
    // One record whatever the target, as a single port keeps it.
    PortTimeouts m_timeouts;
    // The device's own errors count while the device was the last target; otherwise this one.
    bool m_deviceTried = false;
    mutable std::mutex m_errorLock; // a failure on the bus thread writes the error
    QString m_lastError;
};

} // namespace port
