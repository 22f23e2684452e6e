// SPDX-License-Identifier: MIT
#include "cli/sessionport.h"

#include "cli/output.h"
#include "control/portmodes.h"

#include <QJsonArray>
#include <QJsonObject>

namespace cli {

namespace {

QString dialoutHint()
{
    return QStringLiteral("Your user needs access to serial devices: on Debian, add it to the "
                          "dialout group (sudo adduser $USER dialout) and log in again.");
}

} // namespace

SessionPort::SessionPort(stack::BusStack &stack, device::SettingsStore &settings,
                         const CliOptions &options)
    : m_stack(stack), m_settings(settings), m_options(options)
{}

// Routes the port map for the --port choice and gives the COM number chosen: a port named
// without a number gets one (the simulated board and an FT232R by serial COM1, a device path the
// number it is the default device of, else a free one); without --port the stored number counts.
int SessionPort::route()
{
    stack::PortRouting routing;
    routing.base = m_baseMap;
    int number = m_stored.portNumber;
    if (m_options.port) {
        port::PortOverride entry = *m_options.port;
        if (entry.portNumber == 0) {
            entry.portNumber = entry.devicePath.isEmpty()
                                   ? port::PortMap::firstPortNumber
                                   : port::PortMap::numberForDevice(entry.devicePath);
        }
        number = entry.portNumber;
        if (!entry.namesOnlyNumber())
            routing.overrides.append(entry);
    }
    m_stack.route(routing);
    applyModes(number);
    return number;
}

// The modes the user chose for the port in "COM Setting", unless the options say otherwise for
// this run. A device path is the port of that number only when it is the number's own device.
void SessionPort::applyModes(int number)
{
    const bool ownDevice = !m_options.port || m_options.port->devicePath.isEmpty() ||
                           m_options.port->portNumber != 0 ||
                           port::PortMap::defaultDevicePath(number) == m_options.port->devicePath;
    if (ownDevice)
        control::PortModes(m_stack.mappedPort(), m_settings).apply();
    port::PortMap map = m_stack.portMap();
    if (m_options.fastMode)
        map.setFastMode(number, *m_options.fastMode);
    switch (m_options.skipIdleWrites) {
    case CliOptions::Skipping::Remembered:
        break;
    case CliOptions::Skipping::On:
        map.setIdleWriteSkipping(number, true);
        break;
    case CliOptions::Skipping::Off:
        map.setIdleWriteSkipping(number, false);
        break;
    case CliOptions::Skipping::Auto:
        map.setIdleWriteSkipping(number, std::nullopt);
        break;
    }
    m_stack.mappedPort().setPortMap(map);
}

control::BurnSource SessionPort::burnSource() const
{
    control::BurnSource source;
    source.program = versionText().trimmed();
    source.port = portText(m_opened);
    source.adapter = control::BurnLog::adapterText(m_stack.portMap().target(m_opened));
    return source;
}

QString SessionPort::open()
{
    const int number = route();
    m_opened = number;
    if (!m_options.port && !port::PortMap::isPortNumber(number)) {
        return QStringLiteral("no port is chosen in the settings (port number %1): give "
                              "--port COMn, a device path or sim")
            .arg(number);
    }
    const port::PortSelection selection{qint16(number), m_stored.bitRate};
    port::PortManager &ports = m_stack.ports();
    ports.setSelection(selection);
    if (!ports.fncInitializeComPort(selection.bitRate, selection.portNumber)) {
        const port::OpenResult result = ports.lastOpenResult();
        QString reason = m_stack.portError();
        const QString ownName = port::PortMap::portName(number) + QStringLiteral(": ");
        if (reason.startsWith(ownName))
            reason.remove(0, ownName.size());
        QString message = QStringLiteral("%1 is not available (%2): %3")
                              .arg(portText(number), port::presenceWord(result), reason);
        if (result == port::OpenResult::NoPermission)
            message += u'\n' + dialoutHint();
        else if (result == port::OpenResult::Busy)
            message += QStringLiteral("\nAnother program holds the port; close it and try again.");
        return message;
    }
    ports.setComTimeouts(selection.bitRate);
    return {};
}

void SessionPort::list(Output &output)
{
    const int selected = route();
    port::PortManager &ports = m_stack.ports();
    ports.probeComPorts();
    const port::PortMap &map = m_stack.portMap();

    QJsonArray entries;
    bool forbidden = false;
    QString table = QStringLiteral("%1  %2  %3  %4\n")
                        .arg(QStringLiteral("Port"), -6)
                        .arg(QStringLiteral("Device"), -24)
                        .arg(QStringLiteral("State"), -13)
                        .arg(QStringLiteral("Description"));
    const QList<port::PortDescription> descriptions = map.describeAll();
    for (qsizetype i = 0; i < descriptions.size(); ++i) {
        const port::PortDescription &description = descriptions.at(i);
        const int number = int(i) + port::PortMap::firstPortNumber;
        const port::OpenResult result = ports.probeResult(number);
        forbidden = forbidden || result == port::OpenResult::NoPermission;
        const QString state = port::presenceWord(result);
        const QString device = map.target(number).kind == port::PortTarget::Kind::Simulated
                                   ? QStringLiteral("(simulated)")
                                   : description.location;
        entries.append(QJsonObject{{QStringLiteral("name"), description.name},
                                   {QStringLiteral("device"), device},
                                   {QStringLiteral("description"), description.description},
                                   {QStringLiteral("state"), state},
                                   {QStringLiteral("selected"), number == selected}});
        table += QStringLiteral("%1  %2  %3  %4")
                     .arg(description.name + (number == selected ? u'*' : u' '), -6)
                     .arg(device, -24)
                     .arg(state, -13)
                     .arg(description.description)
                     .trimmed() +
                 u'\n';
    }
    if (port::PortMap::isPortNumber(selected))
        table += QStringLiteral("* the port in use\n");
    if (forbidden)
        table += dialoutHint() + u'\n';
    output.result(
        {{QStringLiteral("command"), QStringLiteral("ports")}, {QStringLiteral("ports"), entries}},
        table);
}

QString SessionPort::portText(int number) const
{
    // A device path the user gave is named as given: its COM number is the program's own.
    if (m_options.port && m_options.port->portNumber == 0 && !m_options.port->devicePath.isEmpty())
        return m_options.port->devicePath;
    const port::PortTarget target = m_stack.portMap().target(number);
    if (m_options.port && m_options.port->virtualAdapter) {
        return QStringLiteral("%1 (simulated board, virtual FT232R)")
            .arg(port::PortMap::portName(number));
    }
    if (target.kind == port::PortTarget::Kind::Simulated)
        return QStringLiteral("%1 (simulated board)").arg(port::PortMap::portName(number));
    if (!target.ftdiSerial.isEmpty())
        return QStringLiteral("FT232R %1").arg(target.ftdiSerial);
    if (target.fastMode) {
        return QStringLiteral("%1 (%2, fast mode)")
            .arg(port::PortMap::portName(number), target.devicePath);
    }
    return QStringLiteral("%1 (%2)").arg(port::PortMap::portName(number), target.devicePath);
}

} // namespace cli
