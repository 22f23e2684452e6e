// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"

#include <QString>

namespace port {

// Asks the system about a serial device node without opening it (an open raises DTR and RTS):
// Opened for one that is there and may be opened, else why not, with *reason saying so under
// the port's name.
OpenResult inspectDeviceNode(const QString &name, const QString &path, QString *reason);

} // namespace port
