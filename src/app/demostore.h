// SPDX-License-Identifier: MIT
#pragma once

#include "device/settingsstore.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// The settings store of runs on the simulated board, kept apart from the user's real one.
namespace app {

// A file in the program's configuration folder, beside (never the same as) the user's store.
QString simulatedStorePath();

// Gives a store that does not exist yet the values of a ready demo: port 1, 9600 bit/s, A0 "0"
// and a "Vsup" of 10 for both devices. An existing store is left as it is. False, with the
// reason, when the store could not be written.
bool seedSimulatedStore(const QString &path, QString *error);

// The seeded store at path. When it cannot be written there, the simulated board must start all
// the same: then the store lives in a new temporary folder, kept in *fallback until exit, and
// *note says why the settings will not be kept.
std::unique_ptr<device::SettingsStore>
openSimulatedStore(const QString &path, std::unique_ptr<QTemporaryDir> *fallback, QString *note);

} // namespace app
