#pragma once

#include <QString>

// The settings store of runs on the simulated board, kept apart from the user's real one.
namespace app {

// A file in the program's configuration folder, beside (never the same as) the user's store.
QString simulatedStorePath();

// Gives a store that does not exist yet the values of a ready demo: port 1, 9600 bit/s, A0 "0"
// and a "Vsup" of 10 for both devices. An existing store is left as it is. False, with the
// reason, when the store could not be written.
bool seedSimulatedStore(const QString &path, QString *error);

} // namespace app
