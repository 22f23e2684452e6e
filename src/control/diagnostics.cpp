// SPDX-License-Identifier: MIT
#include "control/diagnostics.h"

#include "control/chipoperations.h"
#include "control/chiptexts.h"
#include "control/portmodes.h"
#include "log/logging.h"
#include "port/mappedcomport.h"
#include "port/portmanager.h"
#include "port/portmap.h"
#include "port/usbadapter.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QSysInfo>

namespace control {

namespace {

QString yesNo(bool on)
{
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString probeWord(port::OpenResult result)
{
    return result == port::OpenResult::Opened ? QStringLiteral("present, can be opened")
                                              : port::presenceWord(result);
}

QString hex4(quint16 id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QString heading(const QString &title)
{
    return u'\n' + title + u'\n' + QString(title.size(), u'-') + u'\n';
}

} // namespace

Diagnostics::Diagnostics(port::PortManager &ports, port::MappedComPort &port,
                         device::SettingsStore &settings, ChipOperations &operations)
    : m_ports(ports), m_port(port), m_settings(settings), m_operations(operations)
{}

QString Diagnostics::text(const Request &request) const
{
    QString text = QStringLiteral("KALVENTA diagnostics\n");
    text += QStringLiteral("Written: %1\n")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    text += QStringLiteral("Program: %1\n").arg(request.program);
    text += QStringLiteral("Qt: %1 at run time, %2 at build time\n")
                .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR));
    text +=
        QStringLiteral("System: %1; kernel %2 %3; CPU %4; ABI %5\n")
            .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                 QSysInfo::currentCpuArchitecture(), QSysInfo::buildAbi());
    text += portsText(request.chosenPort);
    text += chosenPortText(request);
    text += busChecksText(request);

    text += heading(QStringLiteral("Recent log"));
    const QStringList lines = logging::recent().lines();
    if (const qsizetype dropped = logging::recent().dropped(); dropped > 0)
        text += QStringLiteral("(%1 older lines dropped)\n").arg(dropped);
    if (lines.isEmpty())
        text += QStringLiteral("(nothing logged)\n");
    for (const QString &line : lines)
        text += line + u'\n';
    return text;
}

// Presence only: it looks at the device node and opens nothing.
QString Diagnostics::portsText(int chosenPort) const
{
    QString text = heading(QStringLiteral("Serial ports (probed, none opened)"));
    const port::PortMap &map = m_port.portMap();
    const port::ComPort &com = m_ports.comPort();
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n) {
        const port::PortTarget target = map.target(n);
        const port::PortDescription description = map.describe(n);
        QString where;
        switch (target.kind) {
        case port::PortTarget::Kind::None:
            where = QStringLiteral("(mapped to nothing)");
            break;
        case port::PortTarget::Kind::Simulated:
            where = QStringLiteral("(simulated board)");
            break;
        case port::PortTarget::Kind::Device:
            where = target.devicePath.isEmpty()
                        ? QStringLiteral("FT232R with serial %1").arg(target.ftdiSerial)
                        : QDir::toNativeSeparators(target.devicePath);
            break;
        }
        // The port in use is open already: a probe of it says nothing new.
        const bool openHere = com.isOpen() && com.openPortNumber() == n;
        const QString state = openHere ? QStringLiteral("open") : probeWord(com.presence(n));
        text += QStringLiteral("%1%2 %3: %4")
                    .arg(port::PortMap::portName(n),
                         n == chosenPort ? QStringLiteral("*") : QString(), where, state);
        if (!description.description.isEmpty())
            text += QStringLiteral("; %1").arg(description.description);
        text += u'\n';
        if (target.kind != port::PortTarget::Kind::Device || target.devicePath.isEmpty())
            continue;
        if (state == probeWord(port::OpenResult::NotPresent))
            continue;
        const port::UsbAdapter adapter = m_port.factory().adapterOf(target.devicePath);
        const QString driver = port::ttyDriverOf(target.devicePath);
        QString adapterText =
            adapter.isUsb
                ? QStringLiteral("USB %1:%2").arg(hex4(adapter.vendorId), hex4(adapter.productId))
                : QStringLiteral("not on USB");
        if (adapter.isFt232r())
            adapterText += QStringLiteral(" (FT232R)");
        if (!adapter.product.isEmpty())
            adapterText += QStringLiteral(", product \"%1\"").arg(adapter.product);
        if (adapter.isUsb)
            adapterText += adapter.serial.isEmpty()
                               ? QStringLiteral(", no serial number")
                               : QStringLiteral(", serial number %1").arg(adapter.serial);
        text += QStringLiteral("    adapter: %1; driver: %2\n")
                    .arg(adapterText, driver.isEmpty() ? QStringLiteral("not known") : driver);
    }
    text += QStringLiteral("* the chosen port\n");
    return text;
}

QString Diagnostics::chosenPortText(const Request &request) const
{
    QString text = heading(QStringLiteral("Chosen port"));
    if (!port::PortMap::isPortNumber(request.chosenPort))
        return text + QStringLiteral("none (port number %1)\n").arg(request.chosenPort);
    const int n = request.chosenPort;
    const port::ComPort &com = m_ports.comPort();
    const bool open = com.isOpen() && com.openPortNumber() == n;
    text += QStringLiteral("Port: %1\n").arg(port::PortMap::portName(n));
    text += QStringLiteral("Open: %1\n").arg(yesNo(open));
    if (!request.openProblem.isEmpty())
        text += QStringLiteral("Could not be opened: %1\n").arg(request.openProblem);
    else if (const QString error = m_port.lastError(); !open && !error.isEmpty())
        text += QStringLiteral("Last port error: %1\n").arg(error);
    const PortModes::State state = PortModes(m_port, m_settings).stateOf(n);
    text += QStringLiteral("USB adapter: %1\n").arg(yesNo(state.usbAdapter));
    text += QStringLiteral("Fast mode: %1 (%2)\n")
                .arg(onOff(state.fastMode),
                     state.onlyFastMode        ? QStringLiteral("the only mode of this adapter")
                     : state.fastModeAvailable ? QStringLiteral("available: an FT232R")
                                               : QStringLiteral("not available: no FT232R"));
    text += QStringLiteral("Skip idle writes: %1\n").arg(onOff(state.skipIdleWrites));
    if (open) {
        text += QStringLiteral("Skipping idle writes now: %1; in fast mode now: %2\n")
                    .arg(yesNo(m_port.skipsIdleWrites()), yesNo(m_port.inFastMode()));
    }
    text += QStringLiteral("A0: %1\n").arg(request.a0Pin);
    return text;
}

QString Diagnostics::busChecksText(const Request &request) const
{
    QString text = heading(QStringLiteral("Bus checks"));
    if (!request.busChecks)
        return text + QStringLiteral("not run: not asked for\n");
    const port::ComPort &com = m_ports.comPort();
    if (!com.isOpen() || com.openPortNumber() != request.chosenPort)
        return text + QStringLiteral("not run: the chosen port is not open\n");

    const WiringCheck wiring = m_operations.checkWiring();
    text += QStringLiteral("Wiring self-test: %1\n")
                .arg(wiring.portHeld() ? ChipTexts::wiring(wiring.wiring)
                                       : QStringLiteral("the port failed during the test (%1)")
                                             .arg(wiring.portFailure));
    const ChipScan scan = m_operations.findChips();
    if (!scan.portHeld()) {
        text += QStringLiteral("Chip scan: the port failed during the scan (%1)\n")
                    .arg(scan.portFailure);
    } else if (scan.busHeld) {
        text += QStringLiteral("Chip scan: SDA is held low and a bus clear did not free it; no "
                               "chip can answer\n");
    } else {
        for (int a0 = 0; a0 <= 1; ++a0) {
            text += QStringLiteral("Chip scan: A0 = %1: %2\n")
                        .arg(a0)
                        .arg(scan.found[std::size_t(a0)] ? QStringLiteral("a chip answered")
                                                         : QStringLiteral("no answer"));
        }
    }
    return text;
}

} // namespace control
