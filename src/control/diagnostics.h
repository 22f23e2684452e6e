// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QString>

namespace device {
class SettingsStore;
}
namespace port {
class MappedComPort;
class PortManager;
} // namespace port

namespace control {

class ChipOperations;

// The text a user attaches to a problem report, the same from the window and from kalventa-cli:
// program, Qt and system, every COM port with its device and adapter and whether it could be
// opened (a probe that opens nothing: an open raises DTR and RTS on whatever hangs there), the
// chosen port and its modes, the bus checks when asked for, and the recent log.
class Diagnostics
{
    Q_DECLARE_TR_FUNCTIONS(Diagnostics)

public:
    struct Request
    {
        QString program;    // "kalventa-cli 1.0.5"
        int chosenPort = 0; // the COM number in use, 0 when none is chosen
        QString a0Pin = QStringLiteral("0");
        // The wiring self-test and the chip scan, on the chosen port only and only when it is
        // open. They move the lines, so they run only when the user asks.
        bool busChecks = false;
        // Why the chosen port is not open, when the caller tried and failed.
        QString openProblem;
    };

    // All must outlive the diagnostics.
    Diagnostics(port::PortManager &ports, port::MappedComPort &port,
                device::SettingsStore &settings, ChipOperations &operations);
    Q_DISABLE_COPY_MOVE(Diagnostics)

    QString text(const Request &request) const;

private:
    QString portsText(int chosenPort) const;
    QString chosenPortText(const Request &request) const;
    QString busChecksText(const Request &request) const;

    port::PortManager &m_ports;
    port::MappedComPort &m_port;
    device::SettingsStore &m_settings;
    ChipOperations &m_operations;
};

} // namespace control
