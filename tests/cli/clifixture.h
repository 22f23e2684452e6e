// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clisession.h"
#include "control/chipoperations.h"
#include "control/registergrid.h"
#include "device/settingsstore.h"
#include "missingdeviceports.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <csignal>
#include <sys/stat.h>

using cli::exitCode;
using cli::ExitStatus;
using sim::ChipEvent;

// One run of the tool's session with captured output, a settings store of its own and every
// COM number pointed at a device node that does not exist: nothing real is ever opened.
struct CliFixture
{
    CliFixture()
        : settings(dir.filePath(QStringLiteral("settings.ini"))), outStream(&out), errStream(&err),
          session(settings, outStream, errStream)
    {
        session.setPortMap(missingDevicePorts(dir));
        session.setBurnLogPath(dir.filePath(QStringLiteral("burns.log")));
    }

    int run(const QStringList &arguments)
    {
        return session.run(QStringList{QStringLiteral("kalventa-cli")} + arguments);
    }

    int onSim(const QStringList &arguments)
    {
        return run(QStringList{"--port", "sim"} + arguments);
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

    void store(const QList<std::pair<QString, QString>> &entries)
    {
        QSettings stored(settings.location(), QSettings::IniFormat);
        for (const auto &[key, value] : entries)
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

// The DAC writes the chip saw.
inline QList<ChipEvent> eventsOf(const sim::SimulatedChip &chip)
{
    QList<ChipEvent> found;
    for (const ChipEvent &e : chip.events()) {
        if (e.kind == ChipEvent::Kind::DacWrite)
            found.append(e);
    }
    return found;
}

// A JSON object as the tool writes it: compact, keys in order.
inline QByteArray compact(const QJsonValue &value)
{
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

// vsup, then the 24 codes, CR LF after each.
inline QByteArray registerSet(const QByteArray &vsup, const QList<int> &codes)
{
    QByteArray bytes = vsup + "\r\n";
    for (const int code : codes)
        bytes += QByteArray::number(code) + "\r\n";
    return bytes;
}
