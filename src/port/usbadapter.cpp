// SPDX-License-Identifier: MIT
#include "port/usbadapter.h"

#include "log/logging.h"

#ifdef Q_OS_LINUX
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace port {

#ifdef Q_OS_LINUX

namespace {

// Attributes are a line of text; anything longer is not what we look for.
constexpr qsizetype attributeLimit = 256;

// The text of a sysfs attribute, trimmed; empty when there is none. Only regular files are
// read, and opened without blocking, so that a FIFO or a device node where an attribute should
// be can neither stall the caller nor be disturbed by an open.
QString attribute(const QString &folder, const char *name)
{
    const QByteArray path = QFile::encodeName(folder + u'/' + QLatin1String(name));
    struct stat status = {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    char text[attributeLimit];
    ssize_t length = -1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        length = ::read(fd, text, sizeof text);
    ::close(fd);
    if (length <= 0)
        return {};
    return QString::fromUtf8(text, length).trimmed();
}

bool readHexId(const QString &folder, const char *name, quint16 *id)
{
    bool ok = false;
    *id = attribute(folder, name).toUShort(&ok, 16);
    return ok;
}

// The kernel knows the device by the name of its node, not by a link's name.
QString ttyNameOf(const QString &devicePath)
{
    const QString node = QFileInfo(devicePath).canonicalFilePath();
    const QString ttyName = QFileInfo(node.isEmpty() ? devicePath : node).fileName();
    if (ttyName == u"." || ttyName == u"..")
        return {};
    return ttyName;
}

UsbAdapter adapterBehind(const QString &devicePath, const QString &sysfsRoot)
{
    const QString ttyName = ttyNameOf(devicePath);
    const QString root = QFileInfo(sysfsRoot).canonicalFilePath();
    if (ttyName.isEmpty() || root.isEmpty())
        return {};

    // The tty's device is the serial port; the USB device is an ancestor of it, with the USB
    // interface in between.
    QString folder =
        QFileInfo(root + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device"))
            .canonicalFilePath();
    while (folder.startsWith(root + u'/')) {
        if (!QFileInfo::exists(folder + QStringLiteral("/idVendor"))) {
            folder = QFileInfo(folder).path();
            continue;
        }
        // Past a USB device with unreadable IDs lie only hubs: not the adapter.
        UsbAdapter adapter;
        if (!readHexId(folder, "idVendor", &adapter.vendorId) ||
            !readHexId(folder, "idProduct", &adapter.productId))
            return {};
        adapter.isUsb = true;
        adapter.serial = attribute(folder, "serial");
        adapter.product = attribute(folder, "product");
        adapter.busNumber = attribute(folder, "busnum").toInt();
        adapter.deviceAddress = attribute(folder, "devnum").toInt();
        return adapter;
    }
    return {};
}

} // namespace

UsbAdapter usbAdapterOf(const QString &devicePath, const QString &sysfsRoot)
{
    const UsbAdapter adapter = adapterBehind(devicePath, sysfsRoot);
    if (adapter.isUsb) {
        qCInfo(lcPort).noquote() << QStringLiteral("%1: USB adapter %2:%3 \"%4\", serial \"%5\"")
                                        .arg(devicePath)
                                        .arg(adapter.vendorId, 4, 16, QLatin1Char('0'))
                                        .arg(adapter.productId, 4, 16, QLatin1Char('0'))
                                        .arg(adapter.product, adapter.serial);
    } else {
        qCInfo(lcPort).noquote() << QStringLiteral("%1: no USB adapter behind it").arg(devicePath);
    }
    return adapter;
}

QString ttyDriverOf(const QString &devicePath, const QString &sysfsRoot)
{
    const QString ttyName = ttyNameOf(devicePath);
    const QString root = QFileInfo(sysfsRoot).canonicalFilePath();
    if (ttyName.isEmpty() || root.isEmpty())
        return {};
    const QString driver =
        QFileInfo(root + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device/driver"))
            .canonicalFilePath();
    return driver.isEmpty() ? QString() : QFileInfo(driver).fileName();
}

#else

UsbAdapter usbAdapterOf(const QString &, const QString &)
{
    return {};
}

QString ttyDriverOf(const QString &, const QString &)
{
    return {};
}

#endif

} // namespace port
