// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// Saving that cannot lose a file. The new bytes go to a temporary file beside the target; every
// write is checked, the data is synced to disk, and only then does a rename put the new file in
// the old one's place. On any failure the temporary is removed and the old file stays as it was.
// (QSaveFile::commit() of Qt 6.4 reports success although its buffered flush failed, and renames
// an empty file over the old one on a full disk.)
namespace device {

// The system call that puts bytes into the temporary file: ::write, or in a test one that fails.
using WriteCall = qint64 (*)(int fd, const char *data, qint64 size);

// Replaces the file at path with bytes, or creates it. An existing path must be a regular file or
// a chain of links ending at one: then the file at the end of the chain is replaced, the links
// stay links, and the new file keeps the old one's permissions (a new file gets the umask's).
// Anything else (FIFO, device, socket, folder, dangling link, link loop) is refused and left
// untouched. On failure: false, nothing changed on disk, "Cannot write NAME: reason" in *error,
// the reason being the system's where it has one ("No space left on device").
bool writeFileSafely(const QString &path, const QByteArray &bytes, QString *error);
bool writeFileSafely(const QString &path, const QByteArray &bytes, QString *error, WriteCall write);

} // namespace device
