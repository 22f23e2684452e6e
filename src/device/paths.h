// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace device {

// The path up to its file name, so with its last separator, or "" for a bare name. Separators
// are the platform's: "/" everywhere, and "\" as well on Windows.
QString folderOfPath(const QString &path);

// A folder and a name joined by one separator, none doubled at a root such as "/" or "c:\".
QString joinPath(const QString &folder, const QString &name);

// The XDG rules say a relative XDG_CONFIG_HOME (or _DATA_, _CACHE_, _STATE_HOME) is to be
// ignored: settings and the burn log would otherwise land wherever the program was started.
// Called first thing in main(), before any folder is looked up.
void ignoreRelativeXdgFolders();

} // namespace device
