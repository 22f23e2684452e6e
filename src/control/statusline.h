#pragma once

#include <QObject>
#include <QString>

namespace port {
class PortMap;
}

namespace control {

class MainController;
class UserPrompts;

// The main window's status bar: the open port and the device behind it, why the last port was
// lost, and the A0 state. A port that fails in use is also reported once in a message box, after
// the handler that met the failure has finished, so the box never opens in the middle of a
// bus transaction.
class StatusLine : public QObject
{
    Q_OBJECT

public:
    // The map only names devices; it must outlive the status line.
    StatusLine(MainController &controller, const port::PortMap &map, UserPrompts &prompts,
               QObject *parent = nullptr);

    QString portText() const { return m_portText; }
    QString a0Text() const;

signals:
    void changed();

private:
    void updatePortText();
    void portFailed(const QString &reason);
    void reportFailure();

    MainController &m_controller;
    const port::PortMap &m_map;
    UserPrompts &m_prompts;
    QString m_portText;
    QString m_failure; // why the last open port was lost; cleared when a port opens
    bool m_reportPending = false;
};

} // namespace control
