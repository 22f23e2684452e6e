// SPDX-License-Identifier: MIT
#pragma once

#include "cli/exitstatus.h"
#include "python/pybind.h"

#include <QJsonObject>
#include <QString>

// The module's exceptions: one class per cause the command-line tool tells apart by its exit
// status, all below kalventa.Error, each with the tool's message, the status (.status) and what
// the command got as far as (.details).
namespace python {

// Where the port failed: at the open (NoPort) or in use (PortFailed); both are PortUnavailable.
enum class PortStage { Opening, InUse };

void addExceptions(pybind11::module_ &module);

// Raises the class of `status` (KeyboardInterrupt for a stop by SIGINT).
[[noreturn]] void raiseFailure(cli::ExitStatus status, const QString &message,
                               const QJsonObject &details, PortStage stage = PortStage::InUse);
// The class of `status`, for the stubs' and tests' sake: kalventa.Error for Ok.
pybind11::object exceptionClass(cli::ExitStatus status, PortStage stage = PortStage::InUse);

} // namespace python
