#pragma once

#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "control/maincontroller.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "device/settingsstore.h"
#include "port/mappedcomport.h"
#include "port/portmanager.h"
#include "port/portmap.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"

#include <QTemporaryDir>
#include <memory>

// Answers the program's questions as a test tells it to, and keeps what it was shown.
class ScriptedPrompts : public control::UserPrompts
{
public:
    void showMessage(const QString &title, const QString &text) override
    {
        messages.append(title + QLatin1Char('|') + text);
    }
    void showError(const QString &, const QString &text) override { errors.append(text); }
    bool confirm(const QString &, const QString &text) override
    {
        questions.append(text);
        return answerYes;
    }

    QStringList messages;
    QStringList errors;
    QStringList questions;
    bool answerYes = false;
};

// The whole program without windows, on the simulated board at COM1 (no other port exists), with
// a settings store in a temporary folder.
struct ControlFixture
{
    explicit ControlFixture(bool openPort = true)
        : settings(dir.filePath(QStringLiteral("settings.ini")))
    {
        // Every other number leads to a path that does not exist: a probe never reaches a real
        // serial device.
        port::PortMap map;
        for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
            map.mapToDevice(n, dir.filePath(QStringLiteral("missing-tty%1").arg(n)));
        map.mapToSimulated(1, &boardPort);
        comPort = std::make_unique<port::MappedComPort>(map);
        ports = std::make_unique<port::PortManager>(*comPort);
        ports->setYieldFunction([] {});
        engine = std::make_unique<bus::LineEngine>(*comPort);
        chip = std::make_unique<bus::ChipBus>(*engine);
        controller = std::make_unique<control::MainController>(model, *ports, *chip, settings,
                                                                prompts);
        if (openPort) {
            ports->setPortNumber(1);
            ports->setBitRate(9600);
            ports->probeComPorts();
            ports->openSelectedComPort();
        }
    }

    control::RegisterGrid &grid() { return controller->grid(); }
    sim::SimulatedChip &chip0() { return board.chip(0); }

    // DAC codes the chip received, in order.
    QList<int> dacWrites(int a0 = 0) const
    {
        QList<int> codes;
        for (const sim::ChipEvent &e : board.chip(a0).events()) {
            if (e.kind == sim::ChipEvent::Kind::DacWrite)
                codes.append(e.value);
        }
        return codes;
    }
    QList<QPair<int, int>> dacWritesWithRegister(int a0 = 0) const
    {
        QList<QPair<int, int>> writes;
        for (const sim::ChipEvent &e : board.chip(a0).events()) {
            if (e.kind == sim::ChipEvent::Kind::DacWrite)
                writes.append({e.reg, e.value});
        }
        return writes;
    }
    void clearEvents()
    {
        board.chip(0).clearEvents();
        board.chip(1).clearEvents();
    }

    QTemporaryDir dir;
    sim::SimulatedBoard board;
    sim::SimulatedComPort boardPort{board};
    device::DeviceModel model;
    device::SettingsStore settings;
    ScriptedPrompts prompts;
    std::unique_ptr<port::MappedComPort> comPort;
    std::unique_ptr<port::PortManager> ports;
    std::unique_ptr<bus::LineEngine> engine;
    std::unique_ptr<bus::ChipBus> chip;
    std::unique_ptr<control::MainController> controller;
};
