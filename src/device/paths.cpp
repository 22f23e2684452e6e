// SPDX-License-Identifier: MIT
#include "device/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

namespace device {

void ignoreRelativeXdgFolders()
{
    for (const char *name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString folder = qEnvironmentVariable(name);
        if (!folder.isEmpty() && QDir::isRelativePath(folder))
            qunsetenv(name);
    }
}

QString folderOfPath(const QString &path)
{
    // The text before the file name, as the caller wrote it, so the last separator stays.
    return path.left(path.size() - QFileInfo(path).fileName().size());
}

QString joinPath(const QString &folder, const QString &name)
{
    // QDir would make a bare name relative to "." instead.
    if (folder.isEmpty())
        return name;
    return QDir::toNativeSeparators(QDir(folder).filePath(name));
}

} // namespace device
