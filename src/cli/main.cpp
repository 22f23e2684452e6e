// SPDX-License-Identifier: MIT
#include "cli/clisession.h"
#include "cli/stopsignals.h"
#include "device/filenames.h"
#include "device/paths.h"
#include "device/settingsstore.h"
#include "log/logging.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A script on standard input is read to its end. Left non-blocking, a pipe would give only what
// the writer had sent at the first read.
void makeInputBlocking()
{
#ifdef Q_OS_UNIX
    const int flags = fcntl(STDIN_FILENO, F_GETFL);
    if (flags != -1 && (flags & O_NONBLOCK))
        fcntl(STDIN_FILENO, F_SETFL, flags & ~O_NONBLOCK);
#endif
}

// Arguments keep every byte: a file name that is not valid UTF-8 still names its file.
QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(device::decodeFileName(QByteArray(argv[i])));
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    device::ignoreRelativeXdgFolders();
    // Before anything logs: the ring keeps every line, the terminal gets them with --verbose.
    logging::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalventa-cli"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    makeInputBlocking();
    QFile input;
    input.open(stdin, QIODevice::ReadOnly);

    // From here on a signal asks the run to stop; the session's end closes the port (and hands
    // an FT232R back to its serial driver) and writes the trace, as on every other way out.
    const cli::StopSignals stopSignals;
    device::SettingsStore settings;
    cli::CliSession session(settings, out, err);
    session.setStopSignal(&cli::StopSignals::received);
    session.setBurningNotice(&cli::StopSignals::setBurning);
    session.setInput(&input);
#ifdef Q_OS_UNIX
    session.setErrorsOnTerminal(isatty(STDERR_FILENO) == 1);
#endif
    return session.run(argumentsOf(argc, argv));
}
