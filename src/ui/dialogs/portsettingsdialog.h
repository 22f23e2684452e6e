// SPDX-License-Identifier: MIT
#pragma once

#include "control/portchipchecks.h"
#include "control/portsettingscontroller.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QVBoxLayout;

namespace port {
class PortManager;
class PortMap;
} // namespace port

namespace ui {

// "COM Port Setup": port and bit rate, each choice taking effect at once. Built afresh for every
// opening; OK and Cancel only close it.
class PortSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // The map only names the devices behind the port numbers; it must outlive the dialog.
    PortSettingsDialog(port::PortManager &ports, const port::PortMap &map,
                       QWidget *parent = nullptr);

    // Adds the wiring check and "Find chips" (see the controller).
    void attachChip(control::ChipOperations &operations, const QString &a0Pin,
                    control::UserPrompts &prompts);
    bool switchA0Chosen() const { return m_checks && m_checks->switchA0Chosen(); }
    // Adds the selected port's fast mode and idle-write skipping below the port list.
    void attachModes(control::PortModes &modes);

private:
    void showModes();

    port::PortManager &m_ports;
    control::PortSettingsController m_controller;
    control::PortChipChecks *m_checks = nullptr;
    QComboBox *m_portCombo = nullptr;
    QComboBox *m_bitRateCombo = nullptr;
    QLabel *m_status = nullptr;
    QGridLayout *m_rows = nullptr;
    QVBoxLayout *m_modeRows = nullptr;
    QLabel *m_fastModeAvailable = nullptr;
    QCheckBox *m_fastMode = nullptr;
    QCheckBox *m_skipIdleWrites = nullptr;
    QLabel *m_wiring = nullptr;
    QLabel *m_chips = nullptr;
};

} // namespace ui
