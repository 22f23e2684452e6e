#include "missingdeviceports.h"

#include <QTemporaryDir>

port::PortMap missingDevicePorts(const QTemporaryDir &dir)
{
    port::PortMap map;
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
        map.mapToDevice(n, dir.filePath(QStringLiteral("no-tty%1").arg(n)));
    return map;
}
