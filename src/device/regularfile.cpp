// SPDX-License-Identifier: MIT
#include "device/regularfile.h"

#include "device/filenames.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {
namespace {

QString sizeText(qint64 bytes)
{
    if (bytes > 0 && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    if (bytes > 0 && bytes % (1 << 10) == 0)
        return QStringLiteral("%1 KiB").arg(bytes >> 10);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString tooLarge(qint64 maxSize)
{
    return QStringLiteral("it is larger than %1").arg(sizeText(maxSize));
}

const QString notRegular = QStringLiteral("it is not a regular file");

FileCheck checkStat(const struct stat &info, qint64 maxSize)
{
    if (S_ISREG(info.st_mode)) {
        if (info.st_size > maxSize)
            return {FileKind::Oversized, tooLarge(maxSize)};
        return {FileKind::Regular, {}};
    }
    if (S_ISCHR(info.st_mode))
        return {FileKind::CharacterDevice, notRegular};
    return {FileKind::Other, notRegular};
}

void setError(QString *error, const QString &path, const QString &problem)
{
    if (error)
        *error = QStringLiteral("Cannot read %1: %2").arg(shownFileName(path), problem);
}

// Reads to the end, one byte past the limit at most, so a file that grew is caught.
bool readAll(int fd, qint64 maxSize, QByteArray &bytes, QString &problem)
{
    constexpr qint64 block = 64 * 1024;
    for (;;) {
        const qint64 room = std::min(block, maxSize - bytes.size()) + 1;
        const qsizetype used = bytes.size();
        bytes.resize(used + room);
        const ssize_t count = ::read(fd, bytes.data() + used, size_t(room));
        if (count < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        if (count < 0) {
            problem = qt_error_string(errno);
            return false;
        }
        bytes.resize(used + count);
        if (bytes.size() > maxSize) {
            problem = tooLarge(maxSize);
            return false;
        }
        if (count == 0)
            return true;
    }
}

} // namespace

FileCheck checkFile(const QString &path, qint64 maxSize)
{
    const QByteArray name = encodeFileName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) == 0)
        return checkStat(info, maxSize);
    const int reason = errno;
    if (reason == ENOENT) {
        // A link whose chain ends nowhere is there, but leads to no file.
        if (::lstat(name.constData(), &info) == 0)
            return {FileKind::Other, QStringLiteral("it is a link to a file that does not exist")};
        return {FileKind::Missing, qt_error_string(reason)};
    }
    if (reason == ELOOP)
        return {FileKind::Other, QStringLiteral("it is a loop of symbolic links")};
    return {FileKind::Unreachable, qt_error_string(reason)};
}

QString untrustedLink(const QString &path)
{
    QByteArray name = encodeFileName(path);
    // The kernel gives up on longer chains (ELOOP), and so does checkFile().
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link = {};
        if (::lstat(name.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return {};
        const qsizetype slash = name.lastIndexOf('/');
        const QByteArray folder =
            slash < 0 ? QByteArray(".") : name.left(qMax<qsizetype>(slash, 1));
        struct stat shared = {};
        if (::stat(folder.constData(), &shared) == 0 && (shared.st_mode & S_ISVTX) != 0 &&
            (shared.st_mode & S_IWOTH) != 0 && link.st_uid != ::geteuid() &&
            link.st_uid != shared.st_uid) {
            return QStringLiteral("it is a link that another user made in the shared folder %1, "
                                  "and it is not followed")
                .arg(QDir::toNativeSeparators(QFile::decodeName(folder)));
        }
        QByteArray target(qsizetype(link.st_size > 0 ? link.st_size : 4095) + 1, '\0');
        const ssize_t length = ::readlink(name.constData(), target.data(), size_t(target.size()));
        if (length <= 0 || length >= target.size())
            return {}; // changed meanwhile: the open that follows judges what is there now
        target.truncate(length);
        name = target.startsWith('/') || slash < 0 ? target : name.left(slash + 1) + target;
    }
    return {};
}

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize, QString *error)
{
    const FileCheck check = checkFile(path, maxSize);
    if (check.kind != FileKind::Regular) {
        setError(error, path, check.problem);
        return std::nullopt;
    }
    const int fd =
        ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        setError(error, path, qt_error_string(errno));
        return std::nullopt;
    }
    struct stat info = {};
    FileCheck opened = {FileKind::Other, notRegular};
    if (::fstat(fd, &info) == 0)
        opened = checkStat(info, maxSize);
    else
        opened.problem = qt_error_string(errno);
    QByteArray bytes;
    QString problem = opened.problem;
    bool read = false;
    if (opened.kind == FileKind::Regular) {
        bytes.reserve(qsizetype(info.st_size) + 1);
        // A regular file is read with plain blocking reads; O_NONBLOCK only kept open() from
        // waiting.
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            problem = qt_error_string(errno);
        else
            read = readAll(fd, maxSize, bytes, problem);
    }
    ::close(fd);
    if (!read) {
        setError(error, path, problem);
        return std::nullopt;
    }
    return bytes;
}

} // namespace device
