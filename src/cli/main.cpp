#include "cli/clisession.h"
#include "device/settingsstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalventa-cli"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    QFile input;
    input.open(stdin, QIODevice::ReadOnly);

    device::SettingsStore settings;
    cli::CliSession session(settings, out, err);
    session.setInput(&input);
    return session.run(QCoreApplication::arguments());
}
