// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

namespace port {

// The port the user chose and the bit rate to open it at, carried as one value from the
// settings to the port and back. Shown as "COMn" only where a person reads it.
struct PortSelection
{
    qint16 portNumber = 0; // 1..16; 0 while nothing has been chosen
    qint32 bitRate = 0;    // bit/s; 0 while nothing has been chosen

    friend bool operator==(const PortSelection &, const PortSelection &) = default;
};

} // namespace port
