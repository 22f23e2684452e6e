// SPDX-License-Identifier: MIT
#include "device/safefilewriter.h"

#include "device/filenames.h"
#include "device/regularfile.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {
namespace {

qint64 systemWrite(int fd, const char *data, qint64 size)
{
    return ::write(fd, data, size_t(size));
}

// Room for the dot, the separator and the random part within the 255 bytes of a file name.
constexpr qsizetype maxTemporaryBase = 200;

// A new file beside the target, created as any new file is, so the umask applies.
int createTemporary(const QByteArray &folder, const QByteArray &base, QByteArray &temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + '.' + base.left(maxTemporaryBase) + '.' +
                    QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd =
            ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Makes the rename itself survive a crash. Some file systems cannot sync a folder; the file's
// own data is on disk already, so that is no failure.
void syncFolder(const QByteArray &folder)
{
    const int fd =
        ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, const QByteArray &bytes, WriteCall write)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 count = write(fd, bytes.constData() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO;
            return false;
        }
        done += count;
    }
    return true;
}

// The temporary takes the old file's permissions and, where the system allows, its owner: when
// root saves over a user's file, the file stays the user's.
bool copyOwnership(int fd, const struct stat &old)
{
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return false;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        [[maybe_unused]] const int given = ::fchown(fd, old.st_uid, old.st_gid);
    }
    return true;
}

} // namespace

bool writeFileSafely(const QString &path, const QByteArray &bytes, QString *error)
{
    return writeFileSafely(path, bytes, error, systemWrite);
}

bool writeFileSafely(const QString &path, const QByteArray &bytes, QString *error, WriteCall write)
{
    const auto fail = [&](const QString &problem) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(shownFileName(path), problem);
        return false;
    };
    const FileCheck check = checkFile(path);
    if (check.kind != FileKind::Missing && check.kind != FileKind::Regular)
        return fail(check.problem);
    if (const QString problem = untrustedLink(path); !problem.isEmpty())
        return fail(problem);

    QByteArray target = encodeFileName(path);
    struct stat old = {};
    const bool replacing = check.kind == FileKind::Regular;
    if (replacing) {
        // The file at the end of a chain of links is replaced; the links stay links.
        char *resolved = ::realpath(target.constData(), nullptr);
        if (!resolved || ::stat(resolved, &old) != 0) {
            const int reason = errno;
            std::free(resolved);
            return fail(qt_error_string(reason));
        }
        target = resolved;
        std::free(resolved);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = target.left(slash + 1);
    QByteArray temporary;
    const int fd = createTemporary(folder, target.mid(slash + 1), temporary);
    if (fd < 0)
        return fail(qt_error_string(errno));

    bool written =
        (!replacing || copyOwnership(fd, old)) && writeAll(fd, bytes, write) && ::fsync(fd) == 0;
    int reason = errno;
    // close() can report a write that failed late (NFS, quotas).
    if (::close(fd) != 0 && written) {
        written = false;
        reason = errno;
    }
    if (written && ::rename(temporary.constData(), target.constData()) != 0) {
        written = false;
        reason = errno;
    }
    if (!written) {
        ::unlink(temporary.constData());
        return fail(qt_error_string(reason));
    }
    syncFolder(folder);
    return true;
}

} // namespace device
