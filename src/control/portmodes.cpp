#include "control/portmodes.h"

#include "device/settingsstore.h"
#include "port/comport.h"
#include "port/mappedcomport.h"
#include "port/portmap.h"
#include "port/usbadapter.h"

namespace control {

namespace {

// The store's sections for the two choices, one "COMn" key each.
const QString fastModeSection = QStringLiteral("FastMode");
const QString skipIdleWritesSection = QStringLiteral("SkipIdleWrites");

// The adapter behind a port that leads to a device node; none for anything else.
port::UsbAdapter adapterOf(const port::PortTarget &target)
{
    if (target.kind != port::PortTarget::Kind::Device || target.devicePath.isEmpty())
        return {};
    return port::usbAdapterOf(target.devicePath);
}

} // namespace

PortModes::PortModes(port::MappedComPort &port, device::SettingsStore &settings)
    : m_port(port), m_settings(settings)
{}

void PortModes::apply()
{
    port::PortMap map = m_port.portMap();
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n) {
        // A remembered "off" never undoes the command line's fast mode.
        if (m_settings.portChoice(fastModeSection, n).value_or(false))
            map.setFastMode(n, true);
        if (const auto skip = m_settings.portChoice(skipIdleWritesSection, n))
            map.setIdleWriteSkipping(n, skip);
    }
    m_port.setPortMap(map);
}

bool PortModes::fastModeAvailable(int portNumber) const
{
    return adapterOf(m_port.portMap().target(portNumber)).isFt232r();
}

bool PortModes::fastMode(int portNumber) const
{
    return m_port.portMap().target(portNumber).fastMode;
}

bool PortModes::onlyFastMode(int portNumber) const
{
    const port::PortTarget target = m_port.portMap().target(portNumber);
    return target.kind == port::PortTarget::Kind::Simulated && target.simulated &&
           target.simulated->sendsWholeFrames();
}

bool PortModes::skipIdleWrites(int portNumber) const
{
    const port::PortTarget target = m_port.portMap().target(portNumber);
    // The lookup only when there is no choice: the default is the port's own decision at open.
    return target.skipIdleWrites ? *target.skipIdleWrites : adapterOf(target).isUsb;
}

bool PortModes::isUsbAdapter(int portNumber) const
{
    return adapterOf(m_port.portMap().target(portNumber)).isUsb;
}

bool PortModes::setFastMode(int portNumber, bool on)
{
    port::PortMap map = m_port.portMap();
    map.setFastMode(portNumber, on);
    m_port.setPortMap(map);
    return remember(fastModeSection, portNumber, on);
}

bool PortModes::setSkipIdleWrites(int portNumber, bool on)
{
    port::PortMap map = m_port.portMap();
    map.setIdleWriteSkipping(portNumber, on);
    m_port.setPortMap(map);
    return remember(skipIdleWritesSection, portNumber, on);
}

QString PortModes::portError() const
{
    return m_port.lastError();
}

bool PortModes::remember(const QString &section, int portNumber, bool on)
{
    if (!port::PortMap::isPortNumber(portNumber)) {
        m_lastError = tr("There is no port COM%1.").arg(portNumber);
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
