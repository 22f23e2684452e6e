// SPDX-License-Identifier: MIT
#include "app/demostore.h"

#include "device/devicemodel.h"
#include "device/settingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {

QString simulatedStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/simulated.ini");
}

bool seedSimulatedStore(const QString &path, QString *error)
{
    const QFileInfo file(path);
    if (file.exists())
        return true;
    if (!QDir().mkpath(file.absolutePath())) {
        *error = QStringLiteral("Cannot create the folder %1").arg(file.absolutePath());
        return false;
    }
    device::DeviceModel demo;
    demo.vrefHigh = {10, 10};
    demo.a0Pin = QStringLiteral("0");
    device::SettingsStore store(path);
    if (!store.saveAtExit(demo, {1, 9600})) {
        *error = store.lastError();
        return false;
    }
    return true;
}

std::unique_ptr<device::SettingsStore>
openSimulatedStore(const QString &path, std::unique_ptr<QTemporaryDir> *fallback, QString *note)
{
    QString error;
    if (seedSimulatedStore(path, &error))
        return std::make_unique<device::SettingsStore>(path);
    *fallback = std::make_unique<QTemporaryDir>();
    const QString volatilePath = (*fallback)->filePath(QStringLiteral("simulated.ini"));
    QString ignored;
    if ((*fallback)->isValid() && seedSimulatedStore(volatilePath, &ignored)) {
        *note = QObject::tr("Settings will not be kept: %1").arg(error);
        return std::make_unique<device::SettingsStore>(volatilePath);
    }
    *note = error;
    return std::make_unique<device::SettingsStore>(path);
}

} // namespace app
