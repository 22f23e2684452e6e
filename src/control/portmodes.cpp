// SPDX-License-Identifier: MIT
#include "control/portmodes.h"

#include "device/settingsstore.h"
#include "log/logging.h"
#include "port/comport.h"
#include "port/mappedcomport.h"
#include "port/portmap.h"

namespace control {

namespace {

// The store's sections for the two choices, one "COMn" key each.
const QString fastModeSection = QStringLiteral("FastMode");
const QString skipIdleWritesSection = QStringLiteral("SkipIdleWrites");

} // namespace

PortModes::PortModes(port::MappedComPort &port, device::SettingsStore &settings)
    : m_port(port), m_settings(settings)
{}

void PortModes::apply()
{
    port::PortMap map = m_port.portMap();
    const QHash<int, bool> fast = m_settings.portChoices(fastModeSection);
    for (auto choice = fast.cbegin(); choice != fast.cend(); ++choice) {
        // A remembered "off" never undoes the command line's fast mode.
        if (choice.value())
            map.setFastMode(choice.key(), true);
    }
    const QHash<int, bool> skip = m_settings.portChoices(skipIdleWritesSection);
    for (auto choice = skip.cbegin(); choice != skip.cend(); ++choice)
        map.setIdleWriteSkipping(choice.key(), choice.value());
    m_port.setPortMap(map);
}

PortModes::State PortModes::stateOf(int portNumber) const
{
    const port::PortTarget target = m_port.portMap().target(portNumber);
    // Only a port that leads to a device node has an adapter.
    const bool device =
        target.kind == port::PortTarget::Kind::Device && !target.devicePath.isEmpty();
    const port::UsbAdapter adapter =
        device ? m_port.factory().adapterOf(target.devicePath) : port::UsbAdapter();
    State state;
    state.usbAdapter = adapter.isUsb;
    state.fastModeAvailable = adapter.isFt232r();
    state.onlyFastMode = port::PortFactory::kindOf(target) == port::AdapterKind::VirtualFt232r;
    state.fastMode = target.fastMode || state.onlyFastMode;
    // Without a choice, the default the port applies at its open.
    state.skipIdleWrites = target.skipIdleWrites.value_or(adapter.isUsb);
    return state;
}

bool PortModes::setFastMode(int portNumber, bool on)
{
    port::PortMap map = m_port.portMap();
    map.setFastMode(portNumber, on);
    m_port.setPortMap(map);
    qCInfo(lcControl).noquote() << QStringLiteral("%1: fast mode %2 from the next open")
                                       .arg(port::PortMap::comName(portNumber),
                                            on ? QStringLiteral("on") : QStringLiteral("off"));
    return remember(fastModeSection, portNumber, on);
}

bool PortModes::setSkipIdleWrites(int portNumber, bool on)
{
    port::PortMap map = m_port.portMap();
    map.setIdleWriteSkipping(portNumber, on);
    m_port.setPortMap(map);
    qCInfo(lcControl).noquote() << QStringLiteral("%1: idle writes %2 from the next open")
                                       .arg(port::PortMap::comName(portNumber),
                                            on ? QStringLiteral("skipped")
                                               : QStringLiteral("sent"));
    return remember(skipIdleWritesSection, portNumber, on);
}

QString PortModes::portError() const
{
    return m_port.lastError();
}

bool PortModes::remember(const QString &section, int portNumber, bool on)
{
    if (!port::PortMap::isPortNumber(portNumber)) {
        m_lastError = tr("There is no port %1.").arg(port::PortMap::comName(portNumber));
        return false;
    }
    if (!m_settings.savePortChoice(section, portNumber, on)) {
        m_lastError = m_settings.lastError() + tr(". The choice holds until the program ends.");
        return false;
    }
    m_lastError.clear();
    return true;
}

} // namespace control
