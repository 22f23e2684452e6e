// SPDX-License-Identifier: MIT
#include "port/devicenode.h"

#include <QCoreApplication>
#include <QFile>

#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#include <algorithm>
#else
#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace port {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("port::SystemComPort", text);
}

} // namespace

// Asks the system about a device without opening it. The open's own errors mix up a missing
// node, a forbidden one and one held elsewhere; the node tells the first two apart.
OpenResult inspectDeviceNode(const QString &name, const QString &path, QString *reason)
{
#ifdef Q_OS_WIN
    // The system lists its ports from the registry; nothing is opened.
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const bool listed = std::any_of(ports.cbegin(), ports.cend(), [&path](const auto &info) {
        return info.portName() == path || info.systemLocation() == path;
    });
    if (listed)
        return OpenResult::Opened;
    *reason = tr("%1: %2 does not exist.").arg(name, path);
    return OpenResult::NotPresent;
#else
    const QByteArray node = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(node.constData(), &status) != 0) {
        const int error = errno;
        const QString text = qt_error_string(error);
        if (error == ENOENT || error == ENOTDIR) {
            *reason = tr("%1: %2 does not exist.").arg(name, path);
            return OpenResult::NotPresent;
        }
        *reason = error == EACCES ? tr("%1: %2 cannot be reached: %3").arg(name, path, text)
                                  : tr("%1: %2: %3").arg(name, path, text);
        return error == EACCES ? OpenResult::NoPermission : OpenResult::Failed;
    }
    if (!S_ISCHR(status.st_mode)) {
        *reason = tr("%1: %2 is not a serial device.").arg(name, path);
        return OpenResult::Failed;
    }
    if (::access(node.constData(), R_OK | W_OK) != 0) {
        const int error = errno;
        *reason = tr("%1: %2 may not be opened: %3").arg(name, path, qt_error_string(error));
        return error == EACCES ? OpenResult::NoPermission : OpenResult::Failed;
    }
#ifdef Q_OS_LINUX
    // The nodes of the built-in serial ports exist whether or not a UART sits behind them; the
    // kernel's type of the port says (0: none found).
    QFile type(QStringLiteral("/sys/dev/char/%1:%2/type")
                   .arg(major(status.st_rdev))
                   .arg(minor(status.st_rdev)));
    if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0") {
        *reason = tr("%1: there is no serial port behind %2.").arg(name, path);
        return OpenResult::NotPresent;
    }
#endif
    return OpenResult::Opened;
#endif
}

} // namespace port
