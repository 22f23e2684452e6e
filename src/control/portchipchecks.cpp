// SPDX-License-Identifier: MIT
#include "control/portchipchecks.h"

#include "control/chiptexts.h"
#include "control/userprompts.h"
#include "port/portmanager.h"
#include "port/portmap.h"

namespace control {

PortChipChecks::PortChipChecks(port::PortManager &ports, ChipOperations &operations,
                               const QString &a0Pin, UserPrompts &prompts, QObject *parent)
    : QObject(parent), m_ports(ports), m_operations(operations), m_a0Pin(a0Pin), m_prompts(prompts)
{}

// With SCL released, RTS moves SDA and DSR must follow: a START and a STOP, ignored by chips.
void PortChipChecks::checkWiring()
{
    const port::ComPort &com = m_ports.comPort();
    m_wiringText.clear();
    if (com.isOpen()) {
        const QString name = port::PortMap::portName(com.openPortNumber());
        const WiringCheck check = m_operations.checkWiring();
        // A port that fails under the check says nothing of the wiring.
        m_wiringText = name + QStringLiteral(": ") +
                       (check.portHeld()
                            ? ChipTexts::wiring(check.wiring)
                            : tr("the port failed during the check (%1).").arg(check.portFailure));
    }
    m_chipsText.clear();
    emit changed();
}

void PortChipChecks::findChips()
{
    if (!m_ports.comPort().isOpen()) {
        m_chipsText = tr("Open a port first.");
        emit changed();
        return;
    }
    const ChipScan scan = m_operations.findChips();
    if (!scan.portHeld() || scan.busHeld) {
        // Nothing was learnt of the chips: no answer here is no chip's silence.
        m_chipsText = scan.portHeld()
                          ? tr("No chip can answer: SDA is held low, and a bus clear did not free "
                               "it. Is the board powered? See the wiring check.")
                          : tr("The port failed during the search (%1).").arg(scan.portFailure);
        emit changed();
        return;
    }
    const std::array<bool, 2> &found = scan.found;
    QStringList lines;
    for (int a0 = 0; a0 <= 1; ++a0) {
        lines << (found[std::size_t(a0)] ? tr("A0 = %1: a chip answered.").arg(a0)
                                         : tr("A0 = %1: no answer.").arg(a0));
    }
    if (!found[0] && !found[1])
        lines << tr("No chip answered: is the board powered, and is the cable in this port?");
    m_chipsText = lines.join(u' ');
    emit changed();

    const int inUse = m_a0Pin == QLatin1String("1") ? 1 : 0;
    const int other = 1 - inUse;
    if (found[std::size_t(inUse)] || !found[std::size_t(other)])
        return;
    m_switchA0 = m_prompts.confirm(
        tr("Find chips"), tr("Only the chip at A0 = %1 answered; A0 = %2 is in use.\n\nSwitch "
                             "to A0 = %1 when this window closes?")
                              .arg(other)
                              .arg(inUse));
}

} // namespace control
