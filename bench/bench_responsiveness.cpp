// SPDX-License-Identifier: MIT
// How the program serves window events while chip commands run on a USB adapter's pace (the
// simulated board at 1 ms per line operation), with the bus thread and without it; what the
// thread costs at full speed; and the processor time while idle and while waiting on a slow
// command. Prints a table; the slow part takes a few minutes.
//   kalventa_bench_responsiveness [--quick]
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "device/registersetfile.h"
#include "device/settingsstore.h"
#include "stack/busstack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

using namespace std::chrono_literals;

class YesPrompts : public control::UserPrompts
{
public:
    void showMessage(const QString &, const QString &) override {}
    void showError(const QString &, const QString &) override {}
    bool confirm(const QString &, const QString &) override { return true; }
};

// The program's behaviour objects on the simulated board at COM1; every other COM number leads
// to a path that does not exist, so no real port is touched.
struct Rig
{
    explicit Rig(bool threaded) : stack(routing()), settings(dir.filePath(QStringLiteral("s.ini")))
    {
        if (threaded)
            bus = std::make_unique<control::BusThread>();
        operations =
            std::make_unique<control::ChipOperations>(stack.chip(), stack.ports(), bus.get());
        grid = std::make_unique<control::RegisterGrid>(model, *operations);
        controller = std::make_unique<control::MainController>(model, *grid, *operations,
                                                               stack.ports(), settings, prompts);
        // As a user leaves the program: COM1 at 9600 bit/s.
        device::DeviceModel stored;
        stored.vrefHigh = {10, 10};
        settings.saveAtExit(stored, {1, 9600});
        stack.ports().setYieldFunction([] {});
        controller->start();
        if (!stack.ports().comPort().isOpen())
            qFatal("the simulated board did not open");
    }
    stack::PortRouting routing() const
    {
        stack::PortRouting r;
        for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
            r.base.mapToDevice(n, dir.filePath(QStringLiteral("none%1").arg(n)));
        r.simulate = true;
        return r;
    }
    void setLineDelay(std::chrono::microseconds delay)
    {
        stack.simulatedPort().setLineDelay(delay);
    }
    QString writeSet(int code)
    {
        device::RegisterSet set;
        set.vsup = 10;
        set.codes.fill(code);
        const QString path = dir.filePath(QStringLiteral("set%1.csv").arg(code));
        QString error;
        if (!device::writeRegisterSetFile(path, set, &error))
            qFatal("%s", qPrintable(error));
        return path;
    }

    QTemporaryDir dir;
    stack::BusStack stack;
    device::DeviceModel model;
    device::SettingsStore settings;
    YesPrompts prompts;
    std::unique_ptr<control::BusThread> bus;
    std::unique_ptr<control::ChipOperations> operations;
    std::unique_ptr<control::RegisterGrid> grid;
    std::unique_ptr<control::MainController> controller;
};

double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage = {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Served
{
    double wallSeconds = 0;
    double longestGapMs = 0;
    double cpuPercent = 0;       // the whole process, of one core
    double windowCpuPercent = 0; // the thread that serves the window
};

// Runs a command while a 2 ms timer stands in for the window: its longest wait between two
// timeouts is the longest time the window could not repaint or take a click.
Served serve(const std::function<void()> &command)
{
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    tick.start();
    sinceTick.start();
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    const double windowCpuBefore = cpuSeconds(RUSAGE_THREAD);
    command();
    Served served;
    served.wallSeconds = wall.nsecsElapsed() / 1e9;
    served.cpuPercent = 100 * (cpuSeconds() - cpuBefore) / served.wallSeconds;
    served.windowCpuPercent =
        100 * (cpuSeconds(RUSAGE_THREAD) - windowCpuBefore) / served.wallSeconds;
    longest = std::max(longest, sinceTick.nsecsElapsed());
    served.longestGapMs = longest / 1e6;
    return served;
}

void report(const char *mode, const char *command, const Served &s)
{
    std::printf("%s  %-24s %7.2f s   longest gap %8.1f ms   cpu %5.1f %% (window %4.1f %%)\n", mode,
                command, s.wallSeconds, s.longestGapMs, s.cpuPercent, s.windowCpuPercent);
    std::fflush(stdout);
}

void slowCommands(bool threaded)
{
    const char *mode = threaded ? "bus thread" : "no thread ";
    Rig rig(threaded);
    rig.setLineDelay(1ms);
    report(mode, "Read DAC", serve([&] { rig.controller->readAllRegisters(); }));
    const QString path = rig.writeSet(700);
    report(mode, "Load From File", serve([&] { rig.controller->loadFromFile(path); }));
    report(mode, "Program OTP All Channels",
           serve([&] { rig.controller->programOtpAllChannels(); }));
}

// Mean wall time of an operation at full speed.
double meanMs(int runs, const std::function<void()> &operation)
{
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < runs; ++i)
        operation();
    return wall.nsecsElapsed() / 1e6 / runs;
}

void fastCosts(int runs)
{
    std::printf("\nfull speed, mean of %d runs       no thread   bus thread\n", runs);
    Rig direct(false);
    Rig threaded(true);
    const QString path = direct.writeSet(700);
    const QString back = direct.writeSet(300);
    struct Row
    {
        const char *name;
        std::function<void(Rig &)> run;
    };
    const QList<Row> rows = {
        {"Read DAC (with its 0.1 s wait)", [](Rig &r) { r.controller->readAllRegisters(); }},
        {"read all registers", [](Rig &r) { r.operations->readAll(QStringLiteral("0")); }},
        {"Load From File",
         [&](Rig &r) {
             r.controller->loadFromFile(path);
             r.controller->loadFromFile(back);
         }},
        {"burn all channels (sequence)",
         [](Rig &r) {
             r.operations->burn(QStringLiteral("0"), control::ChipOperations::allChannels(), {});
         }},
    };
    for (const Row &row : rows) {
        const int n = QByteArray(row.name).startsWith("Read DAC") ? std::max(1, runs / 10) : runs;
        const double a = meanMs(n, [&] { row.run(direct); });
        const double b = meanMs(n, [&] { row.run(threaded); });
        std::printf("%-32s %9.3f ms %9.3f ms  %+6.1f %%\n", row.name, a, b, 100 * (b - a) / a);
    }
    std::fflush(stdout);
}

void idleCpu()
{
    Rig rig(true);
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    QTimer::singleShot(2000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::printf("\nidle with the port open: cpu %.2f %% of one core over %.1f s\n",
                100 * (cpuSeconds() - before) / (wall.nsecsElapsed() / 1e9),
                wall.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const bool quick = application.arguments().contains(QStringLiteral("--quick"));
    std::printf("1 ms per line operation (a USB adapter)\n");
    if (!quick)
        slowCommands(false);
    slowCommands(true);
    fastCosts(quick ? 20 : 200);
    idleCpu();
    return 0;
}
