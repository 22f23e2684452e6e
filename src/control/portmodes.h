// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QString>

namespace device {
class SettingsStore;
}
namespace port {
class MappedComPort;
}

namespace control {

// What each port does beyond where its number leads: fast mode (an FT232R driven in synchronous
// bit-bang mode, a whole frame per USB transfer) and skipping idle writes (line writes that leave
// a line as it is: they change nothing on the bus but cost a USB round trip each). The user's
// choices are remembered per port in the settings store and written into the port's map, where
// they take effect at the next open. A port without a choice keeps the default: no fast mode,
// idle writes skipped on USB adapters only.
class PortModes
{
    Q_DECLARE_TR_FUNCTIONS(PortModes)

public:
    // Both must outlive the modes.
    PortModes(port::MappedComPort &port, device::SettingsStore &settings);
    Q_DISABLE_COPY_MOVE(PortModes)

    // Puts the remembered choices of COM1 to COM16 into the port's map. Routing replaces the map,
    // so this runs after it. A port the command line put in fast mode keeps it for this run.
    void apply();

    // What a port does and may do. Asks the system about its adapter once per call.
    struct State
    {
        bool usbAdapter = false;
        bool fastModeAvailable = false; // the port's adapter is an FT232R
        // An adapter that knows no other mode (the simulated board's virtual FT232R): fast mode
        // is on and cannot be turned off.
        bool onlyFastMode = false;
        bool fastMode = false;
        bool skipIdleWrites = false; // the choice, else the default for the port's device
    };
    State stateOf(int portNumber) const;
    bool fastMode(int portNumber) const { return stateOf(portNumber).fastMode; }
    bool skipIdleWrites(int portNumber) const { return stateOf(portNumber).skipIdleWrites; }

    // Each choice takes effect at the next open, for this run even when it cannot be remembered:
    // then the result is false and lastError says why.
    bool setFastMode(int portNumber, bool on);
    bool setSkipIdleWrites(int portNumber, bool on);
    QString lastError() const { return m_lastError; }

    // Why the port's last open went wrong, in the port layer's words; empty after a clean open.
    QString portError() const;

private:
    bool remember(const QString &section, int portNumber, bool on);

    port::MappedComPort &m_port;
    device::SettingsStore &m_settings;
    QString m_lastError;
};

} // namespace control
