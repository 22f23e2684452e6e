// SPDX-License-Identifier: MIT
// The real port's path, from the bus transaction down to its system calls, on a pseudo-terminal
// that stands in for the serial device. A pseudo-terminal has no modem lines, so the
// modem-control requests are counted here and answered as a serial driver would; every other
// request goes to the system.
//   PortCalls/...: system calls per transaction; the time is that of the program's own path,
//                  since the answered requests never enter the kernel.
//   PtyKernel/...: the same, but each modem request also makes one terminal request of the
//                  kernel on the same handle, so the time includes a kernel entry per line
//                  operation, as on a built-in UART.
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "device/bitstrings.h"
#include "port/mappedcomport.h"

#include <QCoreApplication>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::atomic<long> modemRequests{0};
std::atomic<bool> throughKernel{false};

bool isModemRequest(unsigned long request)
{
    return request == TIOCMBIS || request == TIOCMBIC || request == TIOCMGET || request == TIOCMSET;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto system = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    if (isModemRequest(request)) {
        ++modemRequests;
        if (throughKernel) {
            int queued = 0;
            system(fd, TIOCOUTQ, &queued);
        }
        if (request == TIOCMGET)
            *static_cast<int *>(argument) = 0;
        return 0;
    }
    return system(fd, request, argument);
}

namespace {

struct PseudoTerminalPort
{
    PseudoTerminalPort()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("pseudo-terminal");
            std::exit(EXIT_FAILURE);
        }
        port::PortMap map;
        map.mapToDevice(1, QString::fromLocal8Bit(ptsname(master)));
        com.setPortMap(map);
        if (com.open(1, port::LineSettings{}) != port::OpenResult::Opened) {
            std::fprintf(stderr, "open: %s\n", qPrintable(com.lastError()));
            std::exit(EXIT_FAILURE);
        }
    }
    ~PseudoTerminalPort() { ::close(master); }

    int master = -1;
    port::MappedComPort com; // the port as the program uses it
};

void countPerTransaction(benchmark::State &state, long before, int lineOperations)
{
    const double perIteration = double(modemRequests - before) / double(state.iterations());
    state.counters["syscalls"] = perIteration;
    state.counters["syscalls_per_line_op"] = perIteration / lineOperations;
}

void dacWrite(benchmark::State &state)
{
    throughKernel = state.range(0) != 0;
    PseudoTerminalPort port;
    bus::LineEngine engine(port.com);
    bus::ChipBus chip(engine);
    const device::DataBits data = device::codeToDataBits(682);
    const QString address = device::chipAddressBits(QStringLiteral("0"));
    const QString reg = device::decmal_to_binary8(4);
    const long before = modemRequests;
    for (auto _ : state)
        chip.writeDacRegister(data.low, data.high, address, reg);
    countPerTransaction(state, before, 226 + 5);
}

void registerRead(benchmark::State &state)
{
    throughKernel = state.range(0) != 0;
    PseudoTerminalPort port;
    bus::LineEngine engine(port.com);
    bus::ChipBus chip(engine);
    const QString reg = device::decmal_to_binary5(4);
    const long before = modemRequests;
    for (auto _ : state) {
        chip.readDacRegister(reg, QStringLiteral("0"));
        benchmark::DoNotOptimize(chip.registerWord());
    }
    countPerTransaction(state, before, 118 + 3 + 172 + 18);
}

} // namespace

BENCHMARK(dacWrite)->Name("PortCalls/DacWrite")->Arg(0);
BENCHMARK(registerRead)->Name("PortCalls/RegisterRead")->Arg(0);
BENCHMARK(dacWrite)->Name("PtyKernel/DacWrite")->Arg(1);
BENCHMARK(registerRead)->Name("PtyKernel/RegisterRead")->Arg(1);

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
