// SPDX-License-Identifier: MIT
#include "cli/playlist.h"

#include "device/paths.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace cli {

std::optional<QStringList> playListOf(const QStringList &paths, QString *error)
{
    const bool oneFolder = paths.size() == 1 && QFileInfo(paths.first()).isDir();
    if (!oneFolder) {
        for (const QString &path : paths) {
            if (QFileInfo(path).isDir()) {
                *error = QStringLiteral("%1 is a folder: play takes files, or one folder alone")
                             .arg(QDir::toNativeSeparators(path));
                return std::nullopt;
            }
        }
        return paths;
    }
    const QString &folder = paths.first();
    // Files and links to files only, hidden ones left out, as the batch window lists them.
    QStringList names = QDir(folder).entryList(QDir::Files);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        const int order = collator.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    if (names.isEmpty()) {
        *error = QStringLiteral("%1 holds no file to play").arg(QDir::toNativeSeparators(folder));
        return std::nullopt;
    }
    QStringList files;
    for (const QString &name : std::as_const(names))
        files.append(device::joinPath(folder, name));
    return files;
}

} // namespace cli
