// SPDX-License-Identifier: MIT
#pragma once

#include "port/portmap.h"

#include <QTemporaryDir>

// A port map in which every COM number leads to a device path in `dir` that does not exist, so a
// probe or an open never reaches a real serial port.
inline port::PortMap missingDevicePorts(const QTemporaryDir &dir)
{
    port::PortMap map;
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
        map.mapToDevice(n, dir.filePath(QStringLiteral("no-tty%1").arg(n)));
    return map;
}
