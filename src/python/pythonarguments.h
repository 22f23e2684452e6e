// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clicommand.h"
#include "python/pybind.h"

#include <QString>

// Python's arguments checked and turned into the command-line tool's: a refusal is the tool's
// UsageError (a ValueError), a value of the wrong type Python's TypeError.
namespace python {

[[noreturn]] void refuseArgument(const QString &message);
// A label ("c1"), a register ("0x12") or an index from 1 to 24: the index.
int channelIndexOf(const pybind11::handle &channel);
// A code from 0 to 1024 (1024 = full scale).
int codeOf(const pybind11::handle &code);
double voltsOf(double volts);
// What burn() was given: None for all channels, one channel, or several in burning order.
void setBurnTarget(cli::Command &command, const pybind11::handle &channels);

} // namespace python
