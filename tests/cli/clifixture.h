#pragma once

#include "cli/clisession.h"
#include "device/settingsstore.h"
#include "missingdeviceports.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

// One run of the tool's session with captured output, a settings store of its own and every
// COM number pointed at a device node that does not exist: nothing real is ever opened.
struct CliFixture
{
    CliFixture()
        : settings(dir.filePath(QStringLiteral("settings.ini"))), outStream(&out), errStream(&err),
          session(settings, outStream, errStream)
    {
        session.setPortMap(missingDevicePorts(dir));
    }

    int run(const QStringList &arguments)
    {
        return session.run(QStringList{QStringLiteral("kalventa-cli")} + arguments);
    }

    // Runs a script of the given lines on the simulated board.
    int runScript(const QStringList &lines, const QStringList &options = {})
    {
        const QString path = writeFile(QStringLiteral("script.txt"), lines.join(u'\n').toUtf8());
        return run(QStringList{QStringLiteral("--port"), QStringLiteral("sim")} + options +
                   QStringList{QStringLiteral("script"), path});
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    void store(const QString &key, const QString &value)
    {
        QSettings stored(settings.location(), QSettings::IniFormat);
        stored.setValue(key, value);
    }

    // The JSON objects written, one per line.
    QList<QJsonObject> jsonLines() const
    {
        QList<QJsonObject> objects;
        for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts))
            objects.append(QJsonDocument::fromJson(line.toUtf8()).object());
        return objects;
    }

    sim::SimulatedChip &chip(int a0 = 0) { return session.simulatedBoard().chip(a0); }

    QTemporaryDir dir;
    device::SettingsStore settings;
    QString out;
    QString err;
    QTextStream outStream;
    QTextStream errStream;
    cli::CliSession session;
};
