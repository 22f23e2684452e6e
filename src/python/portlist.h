// SPDX-License-Identifier: MIT
#pragma once

#include "python/pybind.h"

#include <QString>

namespace python {

// The tool's `ports`: COM1 to COM16, where each leads and how it answered. With a folder, the
// ports lead to its tty1 to tty16 instead of the machine's devices (the tests' way).
pybind11::list listPorts(const QString &deviceFolder = {});

} // namespace python
