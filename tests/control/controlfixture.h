// SPDX-License-Identifier: MIT
#pragma once

#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "device/settingsstore.h"
#include "missingdeviceports.h"
#include "stack/busstack.h"

#include <QFile>
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
    // With a bus thread, the chip operations run on it as in the program.
    explicit ControlFixture(bool open = true, control::BusThread *bus = nullptr)
        : stack({missingDevicePorts(dir), true, {}}),
          settings(dir.filePath(QStringLiteral("settings.ini")))
    {
        port::PortManager &ports = stack.ports();
        ports.setYieldFunction([] {});
        operations = std::make_unique<control::ChipOperations>(stack.chip(), ports, bus);
        registerGrid = std::make_unique<control::RegisterGrid>(model, *operations);
        controller = std::make_unique<control::MainController>(model, *registerGrid, *operations,
                                                               ports, settings, prompts);
        if (open)
            openPort();
    }
    // As the port settings dialog leaves it.
    void openPort()
    {
        stack.ports().setSelection({1, 9600});
        stack.ports().probeComPorts();
        stack.ports().openSelectedComPort();
    }

    control::RegisterGrid &grid() { return *registerGrid; }
    sim::SimulatedChip &chip0() { return board.chip(0); }

    // What a chip was sent or asked, in order.
    QList<sim::ChipEvent> events(sim::ChipEvent::Kind kind, int a0 = 0) const
    {
        QList<sim::ChipEvent> found = board.chip(a0).events();
        found.removeIf([kind](const sim::ChipEvent &e) { return e.kind != kind; });
        return found;
    }
    // DAC writes to chip 0: as register and code, or only the codes (to one register if given).
    QList<QPair<int, int>> dacWritesWithRegister() const
    {
        QList<QPair<int, int>> writes;
        for (const sim::ChipEvent &e : events(sim::ChipEvent::Kind::DacWrite))
            writes.append({e.reg, e.value});
        return writes;
    }
    QList<int> dacWrites(int reg = -1) const
    {
        QList<int> codes;
        for (const sim::ChipEvent &e : events(sim::ChipEvent::Kind::DacWrite)) {
            if (reg < 0 || e.reg == reg)
                codes.append(e.value);
        }
        return codes;
    }
    // Channel i at code + step * i, shown in the grid as a read of the chip would leave it; the
    // chip's record starts after it.
    void showCodes(double vsup, double code, double step = 0)
    {
        model.vsup = vsup;
        model.dacCode.fill(code);
        for (int i = 1; i <= device::channelCount; ++i)
            model.dacCode[i] += step * i;
        grid().refreshAllChannels();
        clearEvents();
    }
    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write the test file %s", qPrintable(path));
        return path;
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
