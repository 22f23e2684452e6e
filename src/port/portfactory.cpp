// SPDX-License-Identifier: MIT
#include "port/portfactory.h"

#include "log/logging.h"

namespace port {

PortFactory::PortFactory() = default;

AdapterKind PortFactory::kindOf(const PortTarget &target)
{
    switch (target.kind) {
    case PortTarget::Kind::None:
        break;
    case PortTarget::Kind::Simulated:
        if (!target.simulated)
            break;
        return target.simulated->sendsWholeFrames() ? AdapterKind::VirtualFt232r
                                                    : AdapterKind::Simulated;
    case PortTarget::Kind::Device:
        return target.fastMode ? AdapterKind::Ft232r : AdapterKind::Serial;
    }
    return AdapterKind::None;
}

ComPort *PortFactory::portFor(int portNumber, const PortTarget &where, OpenResult *refusal,
                              QString *error)
{
    switch (kindOf(where)) {
    case AdapterKind::None:
        if (where.kind == PortTarget::Kind::Simulated) {
            *refusal = OpenResult::Failed;
            *error = tr("%1: no simulated board is attached.").arg(PortMap::portName(portNumber));
            return nullptr;
        }
        // A number without a target is refused by the serial port with its own message.
        return &m_serial;
    case AdapterKind::Serial:
        return &m_serial;
    case AdapterKind::Ft232r:
        return ft232rPort(portNumber, where, refusal, error);
    case AdapterKind::Simulated:
    case AdapterKind::VirtualFt232r:
        break;
    }
    return where.simulated;
}

ComPort *PortFactory::ft232rPort(int portNumber, const PortTarget &where, OpenResult *refusal,
                                 QString *error)
{
    const QString name = PortMap::portName(portNumber);
    FtdiSelection selection;
    if (where.ftdiSerial.isEmpty()) {
        const UsbAdapter adapter = adapterOf(where.devicePath);
        if (!adapter.isFt232r()) {
            qCInfo(lcPort).noquote()
                << QStringLiteral("%1 (%2): no fast mode, the adapter is %3")
                       .arg(name, where.devicePath,
                            adapter.isUsb ? QStringLiteral("USB %1:%2, not an FT232R")
                                                .arg(adapter.vendorId, 4, 16, QLatin1Char('0'))
                                                .arg(adapter.productId, 4, 16, QLatin1Char('0'))
                                          : QStringLiteral("not on USB"));
            *refusal = OpenResult::NotPresent;
            *error = tr("%1 (%2) is not an FT232R adapter, which fast mode needs; turn fast mode "
                        "off to use it as a serial port.")
                         .arg(name, where.devicePath);
            return nullptr;
        }
        selection = {adapter.serial, adapter.busNumber, adapter.deviceAddress,
                     QStringLiteral("%1 (%2)").arg(name, where.devicePath)};
    } else {
        selection = {where.ftdiSerial, 0, 0, QStringLiteral("FT232R %1").arg(where.ftdiSerial)};
    }
    qCInfo(lcPort).noquote() << QStringLiteral("%1: fast mode on the FT232R %2")
                                    .arg(name, selection.serial.isEmpty()
                                                   ? QStringLiteral("without a serial number")
                                                   : selection.serial);
    m_fastPort.reset();
    m_adapter = m_adapterMaker(selection);
    m_fastPort = std::make_unique<BitBangComPort>(*m_adapter);
    return m_fastPort.get();
}

bool PortFactory::skipsIdleWrites(const PortTarget &where) const
{
    switch (kindOf(where)) {
    case AdapterKind::None:
    case AdapterKind::Ft232r:
    case AdapterKind::VirtualFt232r:
        return false;
    case AdapterKind::Simulated:
        return where.skipIdleWrites.value_or(false);
    case AdapterKind::Serial:
        break;
    }
    return where.skipIdleWrites.value_or(adapterOf(where.devicePath).isUsb);
}

} // namespace port
