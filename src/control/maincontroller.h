// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"
#include "device/registersetfile.h"

#include <QObject>
#include <QString>
#include <optional>

namespace device {
class SettingsStore;
}
namespace port {
class PortManager;
}

namespace control {

class ChipOperations;
class RegisterGrid;
class UserPrompts;

struct Rgb
{
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};

// The main window's behaviour: start-up, the commands, the register-set files and the settings
// saved at exit. Each command runs as one command of the bus thread when there is one, so the
// window stays alive and shows its progress.
class MainController : public QObject
{
    Q_OBJECT

public:
    MainController(device::DeviceModel &model, RegisterGrid &grid, ChipOperations &operations,
                   port::PortManager &ports, device::SettingsStore &settings, UserPrompts &prompts,
                   QObject *parent = nullptr);

    // Start values, the stored settings, the port, then a first read of the chip.
    void start();
    // Reloads every stored setting into the program (start-up and the batch window).
    void loadSettings();
    // Before the batch window opens: what is in use is stored first, so that the window's reload
    // of the stored settings keeps the chip and the Vsup the user works with.
    void openingBatchWindow();
    // After the port settings dialog: a port opened there is read at once (reading never writes).
    void portSettingsClosed(int portBefore);

    // "Read DAC": a short wait that serves events, the 24 channel registers, the max bank,
    // then a refresh of the grid.
    void readAllRegisters();
    void resetChip();
    // Burns all 24 codes after the user confirms, unless every OTP bank is used already; then the
    // general-call reset, the max bank and a read of every register, and a report of the burn.
    void programOtpAllChannels();
    // Switches to the other chip on the bus (A0) and reads it.
    void changeAddress();
    void showAbout();

    // The register-set file commands, given the path the user chose ("" when cancelled).
    void saveToFile(const QString &path);
    void loadFromFile(const QString &path);

    // `kalventa FILE.csv`: once the first read is done, asks whether to write the file's codes
    // to the chip, and loads it if the user agrees. A file that cannot be read says so.
    void offerFile(const QString &path);

    // The register-set files saved or loaded last, newest first.
    QStringList recentFiles() const;

    void saveSettingsAtExit();

    QString changeAddressCaption() const;
    Rgb changeAddressColour() const;
    static QString aboutTitle();
    static QString aboutText();
    static QString fileFilters();

signals:
    void changeAddressLookChanged();

private:
    void startNow();
    void burnAllChannels();
    void switchChip();
    void rememberFolderOf(const QString &path);
    void rememberRecentFile(const QString &path);
    // A register-set file read whole, or nothing after telling the user why.
    std::optional<device::RegisterSet> readSetOrSay(const QString &path);
    void sendSet(const QString &path, const device::RegisterSet &set);
    void reportError(const QString &text);
    QString unknownCodesText() const;
    // Burning a code that was never read would burn a guess: refused with a message.
    bool refuseUnknownBurn(const QString &title);

    device::DeviceModel &m_model;
    RegisterGrid &m_grid;
    ChipOperations &m_operations;
    port::PortManager &m_ports;
    device::SettingsStore &m_settings;
    UserPrompts &m_prompts;
};

} // namespace control
