#pragma once

#include "control/chipoperations.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "device/settingsstore.h"
#include "missingdeviceports.h"
#include "stack/busstack.h"

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
        : stack({missingDevicePorts(dir), true, {}}),
          settings(dir.filePath(QStringLiteral("settings.ini")))
    {
        port::PortManager &ports = stack.ports();
        ports.setYieldFunction([] {});
        operations = std::make_unique<control::ChipOperations>(stack.chip(), ports);
        registerGrid = std::make_unique<control::RegisterGrid>(model, *operations);
        controller = std::make_unique<control::MainController>(model, *registerGrid, *operations,
                                                               ports, settings, prompts);
        if (openPort) {
            ports.setPortNumber(1);
            ports.setBitRate(9600);
            ports.probeComPorts();
            ports.openSelectedComPort();
        }
    }

    control::RegisterGrid &grid() { return *registerGrid; }
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
    stack::BusStack stack;
    sim::SimulatedBoard &board = stack.board();
    device::DeviceModel model;
    device::SettingsStore settings;
    ScriptedPrompts prompts;
    std::unique_ptr<control::ChipOperations> operations;
    std::unique_ptr<control::RegisterGrid> registerGrid;
    std::unique_ptr<control::MainController> controller;
};
