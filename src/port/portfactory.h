// SPDX-License-Identifier: MIT
#pragma once

#include "port/bitbangcomport.h"
#include "port/comport.h"
#include "port/libftdidevice.h"
#include "port/portmap.h"
#include "port/systemcomport.h"
#include "port/usbadapter.h"

#include <QCoreApplication>
#include <functional>
#include <memory>

namespace port {

// The kinds of adapter a COM number can lead to, each carried by a port class of its own.
enum class AdapterKind {
    None,          // nothing: the number leads nowhere
    Serial,        // a serial device of the system, its modem-control lines the bus
    Ft232r,        // an FT232R in synchronous bit-bang mode (fast mode)
    Simulated,     // the simulated board's own port
    VirtualFt232r, // the simulated board behind a virtual FT232R
};

// The one place that turns a parsed port target into the port that carries its lines: a new
// kind of adapter is a new kind here and a class of its own. The system's serial port is one
// object for the program's whole run (it keeps its handle's lock); an FT232R's port is made at
// each open for the chip the target names; the simulated ones belong to whoever built the board.
class PortFactory
{
    Q_DECLARE_TR_FUNCTIONS(PortFactory)

public:
    using AdapterMaker = std::function<std::unique_ptr<BitBangDevice>(const FtdiSelection &)>;

    PortFactory();
    Q_DISABLE_COPY_MOVE(PortFactory)

    static AdapterKind kindOf(const PortTarget &target);

    // How the adapter behind a device path is found (sysfs by default), and how an FT232R is
    // reached (libftdi by default): tests present adapters of their own.
    void setAdapterLookup(AdapterLookup lookup) { m_adapterLookup = std::move(lookup); }
    void setAdapterMaker(AdapterMaker maker) { m_adapterMaker = std::move(maker); }
    UsbAdapter adapterOf(const QString &devicePath) const { return m_adapterLookup(devicePath); }

    // The port to open for a target, or nullptr with the reason in *error (and the kind of
    // refusal in *refusal) when there is none to open.
    ComPort *portFor(int portNumber, const PortTarget &where, OpenResult *refusal, QString *error);
    SystemComPort &serialPort() { return m_serial; }
    const SystemComPort &serialPort() const { return m_serial; }

    // Whether a port opened for the target skips idle writes: the target's choice, else on a
    // USB adapter only; never on a port that sends whole frames, whose timing rests on every
    // write.
    bool skipsIdleWrites(const PortTarget &where) const;

private:
    ComPort *ft232rPort(int portNumber, const PortTarget &where, OpenResult *refusal,
                        QString *error);

    AdapterLookup m_adapterLookup = [](const QString &path) { return usbAdapterOf(path); };
    AdapterMaker m_adapterMaker = [](const FtdiSelection &selection) {
        return std::make_unique<LibFtdiDevice>(selection);
    };
    SystemComPort m_serial;
    std::unique_ptr<BitBangDevice> m_adapter;
    std::unique_ptr<BitBangComPort> m_fastPort;
};

} // namespace port
