// SPDX-License-Identifier: MIT
#pragma once

#include "control/portmodes.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace port {
class PortManager;
class PortMap;
} // namespace port

namespace control {

class PortChipChecks;

// The port settings dialog behind its window: the port and bit-rate lists, which entries are
// selected, the selected port's modes, and the status text (the checks of the chips on the port
// are PortChipChecks). A choice takes effect at once (the port
// is re-opened with it); nothing is undone when the window closes. The lists are built afresh by
// every load from the port list of the start-up probe.
class PortSettingsController : public QObject
{
    Q_OBJECT

public:
    struct PortEntry
    {
        int portNumber = 0;
        QString name; // "COM5"
        QString text; // the name, the device behind it and its description
    };

    static constexpr int noSelection = -1;

    // The map only names the devices behind the port numbers; it must outlive the controller.
    PortSettingsController(port::PortManager &ports, const port::PortMap &map,
                           QObject *parent = nullptr);

    // Fills both lists and selects the current port and bit rate; the only place the
    // unavailable-port messages are written.
    void load();

    const QList<PortEntry> &portEntries() const { return m_portEntries; }
    int selectedPortRow() const { return m_selectedPortRow; }
    static QStringList bitRateEntries();
    int selectedBitRateRow() const { return m_selectedBitRateRow; }
    QString statusText() const { return m_statusText; }

    // The user's choices. Each sets its value and re-opens the selected port.
    void choosePort(int row);
    void chooseBitRate(int row);

    // How a user gets access to serial devices they may not open.
    static QString accessHint();

    // The checks of what hangs on the port run whenever a choice opens one, and now.
    void attachChecks(PortChipChecks &checks);

    // With the port modes, the selected port's fast mode and idle-write skipping are shown and
    // can be chosen; each choice is remembered and re-opens the port. What is shown is looked up
    // once per port choice.
    void attachModes(PortModes &modes);
    bool fastModeAvailable() const { return m_modeState.fastModeAvailable; }
    bool fastMode() const { return m_modeState.fastMode; }
    bool skipIdleWrites() const { return m_modeState.skipIdleWrites; }
    bool isUsbAdapter() const { return m_modeState.usbAdapter; }
    // Fast mode can be turned on where it is available, and off always: a port whose adapter
    // was swapped for another kind gets its serial path back.
    bool fastModeEditable() const
    {
        return !m_modeState.onlyFastMode && (m_modeState.fastModeAvailable || m_modeState.fastMode);
    }
    // In fast mode every write is a step of the adapter's clock, so none is skipped.
    bool skipIdleWritesEditable() const { return m_modesPortNumber != 0 && !fastMode(); }
    void setFastMode(bool on);
    void setSkipIdleWrites(bool on);

signals:
    void statusTextChanged(const QString &text);
    void modesChanged();

private:
    void fillPortList();
    void fillBitRateList();
    void reopenPort();
    QString openFailure(int portNumber, bool tried) const;
    void setStatusText(const QString &text);
    int selectedPortNumber() const;
    void refreshModes();
    // After a mode choice: re-opens the port, and adds why the choice was not remembered.
    void modeChosen(bool remembered);
    QString fastModeFailure(int portNumber) const;

    port::PortManager &m_ports;
    const port::PortMap &m_map;
    QList<PortEntry> m_portEntries;
    int m_selectedPortRow = noSelection;
    int m_selectedBitRateRow = noSelection;
    QString m_statusText;
    // What load wrote; it comes back once a failed choice is followed by one that works.
    QString m_loadStatusText;
    PortChipChecks *m_checks = nullptr;

    PortModes *m_modes = nullptr;
    // The selected port's modes, as last looked up; port 0: none selected, or no modes attached.
    int m_modesPortNumber = 0;
    PortModes::State m_modeState;
};

} // namespace control
