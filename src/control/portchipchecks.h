// SPDX-License-Identifier: MIT
#pragma once

#include "control/chipoperations.h"

#include <QObject>
#include <QString>

namespace port {
class PortManager;
}

namespace control {

class UserPrompts;

// The port settings dialog's checks of what hangs on the open port: whether DSR follows SDA
// (the wiring check, run whenever a port opens there), which chips answer their address, and
// the offer to switch A0 when only the other chip does.
class PortChipChecks : public QObject
{
    Q_OBJECT

public:
    // a0Pin is the chip in use; prompts ask whether to switch to the other one. All must
    // outlive the checks.
    PortChipChecks(port::PortManager &ports, ChipOperations &operations, const QString &a0Pin,
                   UserPrompts &prompts, QObject *parent = nullptr);

    // With SCL released, RTS moves SDA and DSR must follow; clears the scan's text.
    void checkWiring();
    QString wiringText() const { return m_wiringText; }
    // "Find chips": probes both addresses, says which answered, and offers to switch A0 when
    // only the other chip did.
    void findChips();
    QString chipsText() const { return m_chipsText; }
    bool switchA0Chosen() const { return m_switchA0; }

signals:
    void changed();

private:
    port::PortManager &m_ports;
    ChipOperations &m_operations;
    QString m_a0Pin;
    UserPrompts &m_prompts;
    QString m_wiringText;
    QString m_chipsText;
    bool m_switchA0 = false;
};

} // namespace control
