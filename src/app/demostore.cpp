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

} // namespace app
