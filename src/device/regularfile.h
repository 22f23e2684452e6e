// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <limits>
#include <optional>

// The program reads and replaces regular files only. A FIFO blocks a reader until someone writes
// to it, a device never ends or is not ours to touch (a serial port changes its lines when it
// is opened), and a folder is no file at all. What a path names is found with stat(), which never
// blocks and opens nothing.
namespace device {

enum class FileKind {
    Missing,         // nothing there (ENOENT)
    Regular,         // a regular file, or a chain of links ending at one, within the size limit
    Oversized,       // a regular file above the size limit
    CharacterDevice, // /dev/null and its kin; a link to /dev/null is how some users keep nothing
    Other,           // FIFO, socket, block device, folder, dangling link, link loop
    Unreachable,     // the path cannot be looked at (no permission, a file where a folder must be)
};

struct FileCheck
{
    FileKind kind = FileKind::Missing;
    // Why the path cannot be read as a regular file, to follow "Cannot read NAME: ":
    // "it is not a regular file", "it is larger than 1 MiB", or the system's reason.
    QString problem;
};

constexpr qint64 noSizeLimit = std::numeric_limits<qint64>::max();

// Looks at path without opening it. Links are followed.
FileCheck checkFile(const QString &path, qint64 maxSize = noSizeLimit);

// The whole content of a regular file of at most maxSize bytes, read without ever blocking on a
// FIFO or a device: checked first, then opened non-blocking and checked again on the open file
// (it may have been swapped meanwhile). Nothing when it cannot be read, with
// "Cannot read NAME: reason" in *error.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize, QString *error);

// Why following the link at path (or a link it leads to) would be unsafe, or "" when it is not
// a link or is safe. A link in a sticky, world-writable folder (such as /tmp) that neither this
// user nor the folder's owner made may point anywhere, at a file of root's say: the kernel's
// protected_symlinks rule, applied also where it is turned off.
QString untrustedLink(const QString &path);

} // namespace device
