// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"

#include <QObject>
#include <QString>

namespace control {

class ChipOperations;
class RegisterGrid;
class UserPrompts;

// The single-register OTP dialog behind its window: the user steps through the 24 registers in
// name order ("1" to "22", then "c1", "c2"), sees the chosen channel's texts as the main
// window's grid showed them at that moment, and burns that channel's code into OTP.
class OtpRegisterDialog : public QObject
{
    Q_OBJECT

public:
    static constexpr int registerCount = 24;

    OtpRegisterDialog(device::DeviceModel &model, RegisterGrid &grid, ChipOperations &operations,
                      UserPrompts &prompts, QObject *parent = nullptr);

    // The name offered at a position 0 to 23, and the channel index behind it.
    static QString registerName(int position);
    static int channelOfPosition(int position);

    // Every time the dialog loads it starts again at "1".
    void open();
    // The spin control: down moves to the next name, up to the previous; both stop at the ends.
    void nextRegister();
    void previousRegister();

    int position() const { return m_position; }
    int channel() const { return channelOfPosition(m_position); }
    QString name() const { return registerName(m_position); }
    // Copies of the grid's texts, taken when the position was last shown.
    QString voltageText() const { return m_voltageText; }
    QString hexText() const { return m_hexText; }

    // Burns the model's current code of the shown channel after the user confirms, then sends
    // the general-call reset and shows the max bank in the grid. Returns whether it burned.
    bool burnShownRegister();

signals:
    void registerShown();

private:
    bool burnNow();
    void showPosition();

    device::DeviceModel &m_model;
    RegisterGrid &m_grid;
    ChipOperations &m_operations;
    UserPrompts &m_prompts;
    int m_position = 0;
    QString m_voltageText;
    QString m_hexText;
};

} // namespace control
