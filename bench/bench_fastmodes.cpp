// SPDX-License-Identifier: MIT
// What the fast modes for USB adapters buy: reading all registers, writing one channel and
// burning all channels on
//   - the serial path at a USB adapter's pace (the simulated board at 1 ms per line operation),
//   - the same with idle writes skipped (writes that leave a line as it is),
//   - a virtual FT232R in synchronous bit-bang mode at 1 ms per USB transfer, whose clock runs
//     at the step rate the program asks of a real one.
// Prints a table; the serial rows take about a minute (--quick leaves out the serial burns).
//   kalventa_bench_fastmodes [--quick]
#include "control/chipoperations.h"
#include "stack/busstack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

using namespace std::chrono_literals;

enum class Mode { Serial, SkippingIdleWrites, VirtualFt232r };

const char *modeName(Mode mode)
{
    switch (mode) {
    case Mode::Serial:
        return "serial, 1 ms per line call";
    case Mode::SkippingIdleWrites:
        return "serial, idle writes skipped";
    case Mode::VirtualFt232r:
        return "FT232R bit-bang, 1 ms per USB transfer";
    }
    return "";
}

// A fresh board for every run, so that each burn meets open OTP cells.
struct Rig
{
    explicit Rig(Mode mode) : stack(routing(mode))
    {
        stack.ports().setYieldFunction([] {});
        stack.ports().setSelection({1, 9600});
        stack.ports().probeComPorts();
        stack.ports().openSelectedComPort();
        if (!stack.mappedPort().isOpen())
            qFatal("the simulated board did not open");
    }
    stack::PortRouting routing(Mode mode) const
    {
        stack::PortRouting r;
        for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
            r.base.mapToDevice(n, dir.filePath(QStringLiteral("none%1").arg(n)));
        if (mode == Mode::VirtualFt232r) {
            r.overrides.append(port::PortMap::parseOverride(QStringLiteral("COM1=sim-ft232r:1ms")));
        } else {
            r.simulate = true;
            r.simulatedDelay = 1ms;
            r.base.setIdleWriteSkipping(1, mode == Mode::SkippingIdleWrites);
        }
        return r;
    }

    QTemporaryDir dir;
    stack::BusStack stack;
    control::ChipOperations operations{stack.chip(), stack.ports()};
};

template<typename Operation> double timeMs(Operation operation)
{
    QElapsedTimer timer;
    timer.start();
    operation();
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Row
{
    double readAllMs = 0;
    double writeMs = 0;
    double burnAllMs = -1;
    qint64 transfers = 0; // of the read, on the virtual FT232R
};

Row measure(Mode mode, bool burn)
{
    const QString a0 = QStringLiteral("0");
    Row row;
    {
        Rig rig(mode);
        row.readAllMs = timeMs([&] {
            if (!rig.operations.readAll(a0).portHeld())
                qFatal("the read failed");
        });
        row.transfers = rig.stack.virtualAdapterPort().transferCount();
        row.writeMs = timeMs([&] { rig.operations.writeChannel(a0, 5, 341); });
    }
    if (burn) {
        Rig rig(mode);
        control::ChannelCodes codes;
        codes.fill(512);
        row.burnAllMs =
            timeMs([&] { rig.operations.burn(a0, control::ChipOperations::allChannels(), codes); });
    }
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
#ifdef Q_OS_LINUX
    // The simulated waits are sleeps; without this the kernel lets each run 50 us long, and
    // 1 ms per line call would become 1.05 ms or more.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    std::printf("%-40s %12s %12s %14s %10s\n", "path", "read all ms", "write 1 ms", "burn all ms",
                "transfers");
    double serialRead = 0;
    for (const Mode mode : {Mode::Serial, Mode::SkippingIdleWrites, Mode::VirtualFt232r}) {
        const Row row = measure(mode, !quick || mode == Mode::VirtualFt232r);
        if (mode == Mode::Serial)
            serialRead = row.readAllMs;
        std::printf("%-40s %12.1f %12.1f %14.1f %10lld\n", modeName(mode), row.readAllMs,
                    row.writeMs, row.burnAllMs, static_cast<long long>(row.transfers));
        if (mode == Mode::VirtualFt232r)
            std::printf("read all, serial / FT232R: %.0f times faster\n",
                        serialRead / row.readAllMs);
    }
    std::printf("(a read of all registers is its 50 frames, as kalventa-cli read sends them; "
                "the program's Read DAC waits 0.1 s more before them)\n");
    return 0;
}
