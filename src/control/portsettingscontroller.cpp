// SPDX-License-Identifier: MIT
#include "control/portsettingscontroller.h"

#include "control/portchipchecks.h"
#include "control/portmodes.h"
#include "port/portmanager.h"
#include "port/portmap.h"

#include <iterator>

namespace control {

namespace {

constexpr qint32 bitRates[] = {4800, 9600, 19200, 28800, 38400};

QString withLocation(const port::PortDescription &port)
{
    if (port.location.isEmpty())
        return port.name;
    return QStringLiteral("%1 (%2)").arg(port.name, port.location);
}

} // namespace

PortSettingsController::PortSettingsController(port::PortManager &ports, const port::PortMap &map,
                                               QObject *parent)
    : QObject(parent), m_ports(ports), m_map(map)
{}

QStringList PortSettingsController::bitRateEntries()
{
    QStringList entries;
    for (qint32 rate : bitRates)
        entries.append(QString::number(rate));
    return entries;
}

QString PortSettingsController::accessHint()
{
    return tr("Your user needs access to serial devices: on Debian, add it to the \"dialout\" "
              "group (sudo adduser $USER dialout), then log in again.");
}

void PortSettingsController::load()
{
    if (m_ports.bitRate() == 0)
        m_ports.setBitRate(9600);
    fillPortList();
    fillBitRateList();
    refreshModes();
}

void PortSettingsController::fillPortList()
{
    const QList<port::PortDescription> described = m_map.describeAll();
    m_portEntries.clear();
    m_selectedPortRow = noSelection;
    bool portFound = false;
    for (int portNumber : m_ports.portList()) {
        PortEntry entry;
        entry.portNumber = portNumber;
        entry.name = port::PortMap::portName(portNumber);
        entry.text = described[portNumber - port::PortMap::firstPortNumber].text();
        if (portNumber == m_ports.portNumber()) {
            portFound = true;
            m_selectedPortRow = int(m_portEntries.size());
        }
        m_portEntries.append(entry);
    }

    QStringList status;
    if (m_ports.portList().isEmpty()) {
        // Nothing to select: say so, and what to try.
        status.append(tr("No serial port was found. Plug the adapter in; if it is, your user may "
                         "lack access to it. \"kalventa --simulate\" runs the program on a "
                         "simulated board."));
    } else if (m_ports.portNumber() < 1) {
        m_selectedPortRow = noSelection;
        status.append(tr("Please select a COM port."));
    } else if (!portFound) {
        m_selectedPortRow = noSelection;
        status.append(port::PortMap::comName(m_ports.portNumber()) +
                      tr(" is unavailable. Please select a different port."));
    }

    // Ports the probe was refused by never reach the list; say why, or a user whose adapter
    // is plugged in sees nothing and cannot tell the reason.
    QStringList forbidden;
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n) {
        if (m_ports.probeResult(n) == port::OpenResult::NoPermission)
            forbidden.append(withLocation(described[n - port::PortMap::firstPortNumber]));
    }
    if (!forbidden.isEmpty()) {
        status.append(tr("You may not open %1. ").arg(forbidden.join(QStringLiteral(", "))) +
                      accessHint());
    }

    m_loadStatusText = status.join(QLatin1Char('\n'));
    setStatusText(m_loadStatusText);
}

void PortSettingsController::fillBitRateList()
{
    m_selectedBitRateRow = noSelection;
    for (int row = 0; row < int(std::size(bitRates)); ++row) {
        if (bitRates[row] == m_ports.bitRate())
            m_selectedBitRateRow = row;
    }
}

void PortSettingsController::choosePort(int row)
{
    if (row < 0 || row >= m_portEntries.size())
        return;
    m_selectedPortRow = row;
    m_ports.setPortNumber(qint16(m_portEntries[row].portNumber));
    reopenPort();
    refreshModes();
}

void PortSettingsController::chooseBitRate(int row)
{
    if (row < 0 || row >= int(std::size(bitRates)))
        return;
    m_selectedBitRateRow = row;
    m_ports.setBitRate(bitRates[row]);
    reopenPort();
}

void PortSettingsController::attachChecks(PortChipChecks &checks)
{
    m_checks = &checks;
    checks.checkWiring();
}

void PortSettingsController::reopenPort()
{
    const int portNumber = m_ports.portNumber();
    // An available port is tried; a listed one that is not was found busy by an earlier open
    // and is given up after the bounded wait.
    const bool tried = m_ports.portAvailable(portNumber);
    m_ports.openSelectedComPort();

    // A port that is not listed at all already has its message from the load.
    if (!m_ports.portList().contains(portNumber))
        return;
    const port::ComPort &com = m_ports.comPort();
    if (com.isOpen() && com.openPortNumber() == portNumber)
        setStatusText(m_loadStatusText);
    else if (tried && m_modes && m_modes->fastMode(portNumber))
        setStatusText(fastModeFailure(portNumber));
    else
        setStatusText(openFailure(portNumber, tried));
    if (m_checks)
        m_checks->checkWiring();
}

QString PortSettingsController::openFailure(int portNumber, bool tried) const
{
    const QString name = port::PortMap::comName(portNumber);
    const port::OpenResult result = tried ? m_ports.lastOpenResult() : port::OpenResult::Busy;
    switch (result) {
    case port::OpenResult::Busy:
        return tr("%1 could not be opened: another program is using it.").arg(name);
    case port::OpenResult::NoPermission:
        return tr("You may not open %1. ").arg(withLocation(m_map.describe(portNumber))) +
               accessHint();
    case port::OpenResult::NotPresent:
        return tr("%1 could not be opened: the device is gone.").arg(name);
    case port::OpenResult::Opened:
    case port::OpenResult::Failed:
        break;
    }
    return tr("%1 could not be opened.").arg(name);
}

QString PortSettingsController::fastModeFailure(int portNumber) const
{
    QStringList lines{
        tr("%1 could not be opened in fast mode.").arg(port::PortMap::comName(portNumber))};
    const QString reason = m_modes->portError();
    if (!reason.isEmpty())
        lines.append(reason);
    lines.append(tr("Untick \"Fast mode\" to use the port as a serial port again."));
    return lines.join(u' ');
}

void PortSettingsController::attachModes(PortModes &modes)
{
    m_modes = &modes;
    refreshModes();
}

int PortSettingsController::selectedPortNumber() const
{
    if (m_selectedPortRow < 0 || m_selectedPortRow >= m_portEntries.size())
        return 0;
    return m_portEntries[m_selectedPortRow].portNumber;
}

void PortSettingsController::refreshModes()
{
    if (!m_modes)
        return;
    m_modesPortNumber = selectedPortNumber();
    m_modeState = m_modesPortNumber != 0 ? m_modes->stateOf(m_modesPortNumber) : PortModes::State();
    emit modesChanged();
}

void PortSettingsController::setFastMode(bool on)
{
    if (!m_modes || on == fastMode() || (on && !fastModeAvailable())) {
        refreshModes(); // a box that was refused shows the state again
        return;
    }
    const bool remembered = m_modes->setFastMode(m_modesPortNumber, on);
    // The port now opens another way: a busy verdict of the old way no longer holds.
    m_ports.markAvailablePorts();
    modeChosen(remembered);
}

void PortSettingsController::setSkipIdleWrites(bool on)
{
    if (!m_modes || on == skipIdleWrites() || !skipIdleWritesEditable()) {
        refreshModes();
        return;
    }
    modeChosen(m_modes->setSkipIdleWrites(m_modesPortNumber, on));
}

void PortSettingsController::modeChosen(bool remembered)
{
    reopenPort();
    if (!remembered) {
        const QString note = m_modes->lastError();
        setStatusText(m_statusText.isEmpty() ? note : m_statusText + u'\n' + note);
    }
    refreshModes();
}

void PortSettingsController::setStatusText(const QString &text)
{
    if (m_statusText == text)
        return;
    m_statusText = text;
    emit statusTextChanged(text);
}

} // namespace control
