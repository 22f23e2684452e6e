// SPDX-License-Identifier: MIT
#pragma once

#include "app/commandline.h"
#include "control/batchrunner.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/diagnostics.h"
#include "control/maincontroller.h"
#include "control/portmodes.h"
#include "control/registergrid.h"
#include "control/statusline.h"
#include "device/devicemodel.h"
#include "device/settingsstore.h"
#include "stack/busstack.h"
#include "ui/main/mainwindow.h"
#include "ui/widgets/messageboxprompts.h"

#include <QTemporaryDir>
#include <atomic>
#include <memory>

namespace app {

// The whole program, wired once: the bus stack, the device model, the settings store, the
// long-lived behaviour objects and the main window. Members are built in this order and torn down
// in reverse, so the window goes first and the port last.
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
    std::unique_ptr<device::SettingsStore> storeFor(const LaunchOptions &options);

    stack::BusStack m_stack;
    QString m_tracePath;
    QString m_offeredFile;
    // Set from the bus thread when any port opens: without one nothing went over the bus.
    std::atomic<bool> m_portOpened{false};
    // With --simulate and no writable configuration folder, the settings live here until exit.
    std::unique_ptr<QTemporaryDir> m_volatileFolder;
    QString m_settingsNote;
    device::DeviceModel m_model;
    std::unique_ptr<device::SettingsStore> m_settings;
    // Writes the remembered port modes into the map the stack routed.
    control::PortModes m_portModes;
    ui::MessageBoxPrompts m_prompts;
    control::BusThread m_busThread;
    control::ChipOperations m_operations;
    control::RegisterGrid m_grid;
    control::MainController m_controller;
    control::StatusLine m_status;
    control::BatchRunner m_batchRunner;
    control::Diagnostics m_diagnostics;
    ui::MainWindow m_window;
};

} // namespace app
