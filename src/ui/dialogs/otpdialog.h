// SPDX-License-Identifier: MIT
#pragma once

#include "control/otpregisterdialog.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace control {
class ChipOperations;
class RegisterGrid;
class UserPrompts;
} // namespace control

namespace ui {

class SpinArrows;

// "Write OTP Reg": chooses one register with the spin arrows and burns its channel's code into
// OTP. Modeless, one instance; it stays open after a burn. What it is given must outlive it.
class OtpDialog : public QDialog
{
    Q_OBJECT

public:
    OtpDialog(device::DeviceModel &model, control::RegisterGrid &grid,
              control::ChipOperations &operations, control::UserPrompts &prompts,
              QWidget *parent = nullptr);

    // Loads the dialog (at "1") unless it is showing already, then brings it forward.
    void showDialog();

private:
    void mirror();

    control::OtpRegisterDialog m_logic;
    QLabel *m_name = nullptr;
    SpinArrows *m_spin = nullptr;
    QLineEdit *m_voltage = nullptr;
    QLineEdit *m_hex = nullptr;
    QPushButton *m_burn = nullptr;
    QPushButton *m_burnLog = nullptr;
    control::ChipOperations &m_operations;
};

} // namespace ui
