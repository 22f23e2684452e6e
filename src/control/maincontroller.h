#pragma once

#include "bus/chipbus.h"
#include "control/registergrid.h"
#include "device/channelglue.h"
#include "device/devicemodel.h"

#include <QObject>
#include <QString>

namespace device {
class SettingsStore;
}
namespace port {
class PortManager;
}

namespace control {

class UserPrompts;

struct Rgb
{
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb &, const Rgb &) = default;
};

// The main window's behaviour: start-up, the commands, the register-set files and the settings
// saved at exit. Bus transactions run synchronously here; only the short wait before every read
// of all registers lets other events in.
class MainController : public QObject
{
    Q_OBJECT

public:
    MainController(device::DeviceModel &model, port::PortManager &ports, bus::ChipBus &chip,
                   device::SettingsStore &settings, UserPrompts &prompts,
                   QObject *parent = nullptr);

    device::DeviceModel &model() { return m_model; }
    RegisterGrid &grid() { return m_grid; }
    device::ChannelGlue &glue() { return m_glue; }
    bus::ChipBus &chip() { return m_chip; }
    port::PortManager &ports() { return m_ports; }

    // Start values, the stored settings, the port, then a first read of the chip.
    void start();
    // Reloads every stored setting into the program (start-up and the batch window).
    void loadSettings();

    // "Read DAC": a short wait that serves events, the 24 channel registers, the max bank,
    // then a refresh of the grid.
    void readAllRegisters();
    void resetChip();
    // Burns all 24 codes after the user confirms; then the general-call reset and the max bank.
    void programOtpAllChannels();
    // Switches to the other chip on the bus (A0) and reads it.
    void changeAddress();
    void showAbout();

    // The register-set file commands, given the path the user chose ("" when cancelled).
    void saveToFile(const QString &path);
    void loadFromFile(const QString &path);

    void saveSettingsAtExit();

    QString changeAddressCaption() const;
    Rgb changeAddressColour() const;
    static QString aboutTitle();
    static QString aboutText();
    static QString fileFilters();

signals:
    void changeAddressLookChanged();

private:
    void rememberFolderOf(const QString &path);
    void reportError(const QString &text);

    device::DeviceModel &m_model;
    port::PortManager &m_ports;
    bus::ChipBus &m_chip;
    device::SettingsStore &m_settings;
    UserPrompts &m_prompts;
    device::ChannelGlue m_glue;
    RegisterGrid m_grid;
};

} // namespace control
