// SPDX-License-Identifier: MIT
#include "app/closesignals.h"
#include "app/commandline.h"
#include "app/program.h"
#include "device/bitstrings.h"
#include "device/paths.h"
#include "log/logging.h"
#include "version.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace {

QStringList rawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Help and version go to the terminal; answered before any window system is needed.
int answer(const app::CommandLine &commandLine, app::CommandLine::Result result)
{
    if (result == app::CommandLine::Result::ShowHelp) {
        std::fputs(qPrintable(commandLine.helpText()), stdout);
        return EXIT_SUCCESS;
    }
    if (result == app::CommandLine::Result::ShowVersion) {
        // The program's file name: the application name, "KALVENTA", names its settings folder.
        std::printf("kalventa %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return EXIT_SUCCESS;
    }
    std::fprintf(stderr, "kalventa: %s\nTry \"kalventa --help\".\n",
                 qPrintable(commandLine.errorText()));
    return 2;
}

// A register number that does not fit a byte is a fault of the program itself: say so and end
// at once, without the settings save of a normal exit.
void endOnFatal(const QString &message)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), message,
                    QMessageBox::Ok);
    box.exec();
    std::_Exit(EXIT_FAILURE);
}

// PNG, not the SVG: the SVG image plug-in is a package of its own and may be missing.
QIcon builtInIcon()
{
    QIcon icon;
    for (const int size : {48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/kalventa-%1.png").arg(size), QSize(size, size));
    return icon;
}

// Qt without a window system aborts with advice to reinstall; say what is missing instead.
// QT_QPA_PLATFORM, or a Qt option such as -platform, names a platform: Qt judges that itself.
bool lacksDisplay(const app::CommandLine &commandLine)
{
    return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
           qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !commandLine.sawUnknownOptions();
}

} // namespace

int main(int argc, char *argv[])
{
    device::ignoreRelativeXdgFolders();
    logging::install();
    QCoreApplication::setApplicationName(QStringLiteral("KALVENTA"));
    QCoreApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(version::major).arg(version::minor).arg(version::revision));

    app::CommandLine commandLine;
    const app::CommandLine::Result early = commandLine.parse(rawArguments(argc, argv));
    if (early != app::CommandLine::Result::Run && !commandLine.sawUnknownOptions()) {
        const QCoreApplication core(argc, argv);
        return answer(commandLine, early);
    }

    if (lacksDisplay(commandLine)) {
        std::fputs("kalventa: no display found (DISPLAY and WAYLAND_DISPLAY are unset); use "
                   "kalventa-cli for the command line\n",
                   stderr);
        return EXIT_FAILURE;
    }

    QApplication application(argc, argv);
    // The desktop ties the windows to kalventa.desktop by their class, whose instance part is the
    // program's file name, or on Wayland by this name. An icon theme's "kalventa" wins over the
    // built-in one.
    QGuiApplication::setDesktopFileName(QStringLiteral("kalventa"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kalventa"), builtInIcon()));
    const app::CommandLine::Result result = commandLine.parse(QApplication::arguments());
    if (result != app::CommandLine::Result::Run)
        return answer(commandLine, result);
    logging::setVerbose(commandLine.options().verbose);

    device::setFatalHandler(endOnFatal);
    app::Program program(commandLine.options());
    QObject::connect(
        &program.window(), &ui::MainWindow::closed, &application,
        [] {
            QApplication::closeAllWindows();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    // A signal closes the window as the user would: what runs ends whole, then settings and trace
    // are written.
    const app::CloseSignals closeSignals;
    QObject::connect(&closeSignals, &app::CloseSignals::received, &program.window(),
                     &QWidget::close);
    program.show();
    const int status = QApplication::exec();
    return program.writeTrace() ? status : EXIT_FAILURE;
}
