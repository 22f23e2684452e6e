#pragma once

#include "port/portmap.h"

#include <QList>
#include <QTemporaryDir>

// A port map in which the given numbers lead to the simulated board and every other number to
// a device path that does not exist, so a probe never reaches a real port.
inline port::PortMap simulatedPorts(const QTemporaryDir &dir, port::ComPort *board,
                                    const QList<int> &present)
{
    port::PortMap map;
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n) {
        if (present.contains(n))
            map.mapToSimulated(n, board);
        else
            map.mapToDevice(n, dir.filePath(QStringLiteral("missing-tty%1").arg(n)));
    }
    return map;
}
