// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"

#include <QList>
#include <QObject>
#include <QString>
#include <array>

namespace device {
struct RegisterSet;
}

namespace control {

class ChipOperations;
struct BurnResult;
struct ChipReading;

// The register grid behind the main window: the texts of the 24 voltage boxes, the 24
// hexadecimal boxes, "Vsup" and "Max Bank:", and what happens when they change. A voltage box
// is the hinge of the program: whenever its text changes, typed or written by the program, the
// channel is parsed from it and written to the chip. Windows mirror these texts and forward the
// user's events; they keep no state of their own. Channel indices run 1 to 24.
class RegisterGrid : public QObject
{
    Q_OBJECT

public:
    RegisterGrid(device::DeviceModel &model, ChipOperations &operations, QObject *parent = nullptr);

    QString voltageText(int index) const { return m_voltageText[index]; }
    QString hexText(int index) const { return m_hexText[index]; }
    QString vsupText() const { return m_vsupText; }
    QString maxBankText() const { return m_maxBankText; }

    // Program-side writes. A voltage box whose text changes runs its change handling.
    void setVoltageText(int index, const QString &text);
    void setHexText(int index, const QString &text);
    void setVsupText(const QString &text);
    void setMaxBankText(const QString &text);

    // Recomputes every voltage from its code and rewrites both boxes of every channel (each
    // changed voltage box writing its channel again), remembers vsup for the current device,
    // and refreshes the control panel while it is open.
    void refreshAllChannels();
    // The only way a code reaches the chip: one DAC register write of the selected channel's
    // code, with the model's A0 at the moment it runs. Asked for while a transaction is on the
    // bus (the user typed meanwhile), it is held, and the newest code of each channel is sent
    // when the bus is free.
    void writeSelectedChannel();
    bool writesHeld() const { return !m_heldWrites.isEmpty(); }
    // Turns the selected channel's voltage text into its code; writes nothing.
    void parseChannelVoltage();
    // Puts a register set into the model and the chip channel by channel in register order,
    // refreshing after each write (which writes again every channel whose shown voltage
    // changed) and once more at the end. The "Vsup" box shows the set's Vsup.
    void loadRegisterSet(const device::RegisterSet &set);
    // What a burn leaves: the max bank as last read (empty once a burn began and it was not read
    // again) and, once the reset went out, every register as read back after it (the reset
    // reloaded them all from OTP). Before the reset the DAC registers are as they were.
    void showBurn(const BurnResult &burned);
    // Shows what a read of the chip found: the codes and, when read, the max bank. Channels the
    // reading did not reach (a port failure, a cancel) become unknown.
    void showReading(const ChipReading &reading, bool withMaxBank = true);
    // The "Vsup" box shows the model's Vsup; called whenever the program changes it.
    void showVsup();
    // Nothing of the chip is known yet (before the first read): every box says so.
    void forgetAllCodes();
    // The spin control: one code step of the selected channel, from what the chip holds.
    void stepChannelCode(int step);

    // The user's events.
    void voltageBoxClicked(int index);
    void voltageBoxEdited(int index, const QString &text);
    void voltageBoxLeft(int index);
    void vsupBoxEdited(const QString &text);
    void vsupBoxLeft();
    void maxBankBoxEdited(const QString &text);

signals:
    void voltageTextChanged(int index, const QString &text);
    void hexTextChanged(int index, const QString &text);
    void vsupTextChanged(const QString &text);
    void maxBankTextChanged(const QString &text);
    // Ends every refresh of all channels while the control panel is open, so the panel follows.
    void controlPanelRefreshDue();
    // Why what the user did had no effect, for the status bar.
    void hint(const QString &text);

private:
    struct HeldWrite
    {
        int index = 0;
        QString a0Pin;
        double code = 0;
    };

    void voltageBoxChanged(int index);
    void panelFollows();
    // Reads an unknown channel into the model; false, with nothing changed, when it cannot.
    bool readUnknownChannel(int index);
    // Stores and shows a voltage box's text without its change handling; true when it changed.
    bool showVoltageText(int index, const QString &text);
    void sendHeldWrites();
    void write(int index, const QString &a0Pin, double code);
    // Empties both boxes of a channel whose code is unknown, without writing anything.
    void showUnknown(int index);

    device::DeviceModel &m_model;
    ChipOperations &m_operations;
    std::array<QString, 26> m_voltageText;
    std::array<QString, 26> m_hexText;
    QString m_vsupText;
    QString m_maxBankText;
    QList<HeldWrite> m_heldWrites; // in the order the channels were first touched
    bool m_refreshing = false;
};

} // namespace control
