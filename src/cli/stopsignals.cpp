// SPDX-License-Identifier: MIT
#include "cli/stopsignals.h"

#include "cli/exitstatus.h"

#include <QtGlobal>
#include <atomic>
#include <csignal>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cli {

namespace {

std::atomic<int> firstSignal{0};
std::atomic<bool> burning{false};

#ifdef Q_OS_UNIX
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];
struct sigaction previousPipe;

// Only async-signal-safe calls here: an atomic store and write(2).
void onSignal(int signalNumber)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, signalNumber);
    if (burning.load()) {
        static const char notice[] =
            "\nkalventa-cli: the burn is finishing and cannot be stopped; its report follows\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, notice, sizeof notice - 1);
    }
}
#endif

} // namespace

ExitStatus statusForSignal(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return ExitStatus::Interrupted;
    case SIGTERM:
        return ExitStatus::Terminated;
#ifdef SIGHUP
    case SIGHUP:
        return ExitStatus::Hangup;
#endif
    default:
        return ExitStatus::Ok;
    }
}

const char *signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
        return "SIGHUP";
#endif
    default:
        return "a signal";
    }
}

StopSignals::StopSignals()
{
    firstSignal = 0;
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume: a line operation is never cut by the signal itself.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(stopSignals[i], &action, &previous[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    for (int i = 0; i < 3; ++i)
        sigaction(stopSignals[i], &previous[i], nullptr);
    sigaction(SIGPIPE, &previousPipe, nullptr);
#endif
}

int StopSignals::received()
{
    return firstSignal.load();
}

void StopSignals::setBurning(bool on)
{
    burning = on;
}

} // namespace cli
