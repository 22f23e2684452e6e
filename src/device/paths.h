#pragma once

#include <QString>

namespace device {

// The path up to its file name, so with its last separator, or "" for a bare name. Separators
// are the platform's: "/" everywhere, and "\" as well on Windows.
QString folderOfPath(const QString &path);

// A folder and a name joined by one separator, none doubled at a root such as "/" or "c:\".
QString joinPath(const QString &folder, const QString &name);

} // namespace device
