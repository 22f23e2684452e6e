#pragma once

#include "app/commandline.h"
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "control/buslevelprobe.h"
#include "control/maincontroller.h"
#include "device/devicemodel.h"
#include "device/settingsstore.h"
#include "port/bustrace.h"
#include "port/portmanager.h"
#include "port/systemcomport.h"
#include "sim/simulatedboard.h"
#include "ui/main/mainwindow.h"
#include "ui/widgets/messageboxprompts.h"

#include <memory>

namespace app {

// The whole program, wired once: the simulated board, the port, the bus, the device model, the
// settings store, the behaviour and the main window. Members are built in this order and torn
// down in reverse, so the window goes first and the port last.
class Program
{
public:
    explicit Program(const LaunchOptions &options);

    ui::MainWindow &window() { return m_window; }

    // Shows the main window, then starts: settings, port and the first read of the chip run once
    // the event loop is up, with the window already on screen.
    void show();

    // Writes the bus trace asked for with --trace, if any; reports a failure on stderr.
    bool writeTrace() const;

private:
    static port::PortMap portMapFor(const LaunchOptions &options, sim::SimulatedBoard *board);
    static std::unique_ptr<device::SettingsStore> storeFor(const LaunchOptions &options);

    sim::SimulatedBoard m_board;
    port::SystemComPort m_comPort;
    port::PortManager m_ports;
    QString m_tracePath;
    std::unique_ptr<port::BusTrace> m_trace;
    bus::LineEngine m_engine;
    bus::ChipBus m_chip;
    device::DeviceModel m_model;
    std::unique_ptr<device::SettingsStore> m_settings;
    ui::MessageBoxPrompts m_prompts;
    control::MainController m_controller;
    ui::MainWindow m_window;
};

} // namespace app
