// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

namespace device {
struct DeviceModel;
}
namespace port {
class PortManager;
class PortMap;
} // namespace port

namespace control {

enum class Hearing;
class UserPrompts;

// The main window's status bar: the open port and the device behind it, why the last port was
// lost, and the A0 state (which the window asks for whenever A0 changes). A port that fails in use
// is also reported once in a message box, after the handler that met the failure has finished, so
// the box never opens in the middle of a bus transaction.
class StatusLine : public QObject
{
    Q_OBJECT

public:
    // The map only names devices; it must outlive the status line.
    StatusLine(port::PortManager &ports, const port::PortMap &map, const device::DeviceModel &model,
               UserPrompts &prompts, QObject *parent = nullptr);

    QString portText() const { return m_portText; }
    // A lasting note on the settings, shown after the port: that they are kept only in memory.
    void setSettingsNote(const QString &note);
    QString settingsNote() const { return m_settingsNote; }
    QString a0Text() const;
    // Kept from the first operation a chip left unanswered (or that found SDA held low) until
    // one it answers.
    QString silenceText() const { return m_silence; }
    void chipHeard(control::Hearing hearing);

signals:
    void changed();

private:
    void updatePortText();
    void portFailed(const QString &reason);
    void reportFailure();

    port::PortManager &m_ports;
    const port::PortMap &m_map;
    const device::DeviceModel &m_model;
    UserPrompts &m_prompts;
    QString m_portText;
    QString m_settingsNote;
    QString m_failure; // why the last open port was lost; cleared when a port opens
    bool m_reportPending = false;
    QString m_silence;
};

} // namespace control
