#include "device/paths.h"

#include <QDir>
#include <QFileInfo>

namespace device {

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
