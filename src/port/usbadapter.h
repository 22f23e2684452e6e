// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

namespace port {

// What the system tells about the USB adapter behind a serial device: enough to recognise an
// FT232R and to find that same chip again through libusb.
struct UsbAdapter
{
    bool isUsb = false; // the serial device hangs on a USB device
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serial;  // may be empty
    QString product; // the adapter's own name for itself, may be empty
    int busNumber = 0;
    int deviceAddress = 0; // 0 with the bus number when the system does not tell

    bool isFt232r() const { return isUsb && vendorId == 0x0403 && productId == 0x6001; }
};

// The adapter behind `devicePath` ("/dev/ttyUSB0", or a link to it such as one under
// /dev/serial/by-id), as sysfs below `sysfsRoot` describes it. Only the vendor and product IDs
// are needed for isUsb; anything missing or unreadable before them gives a default UsbAdapter.
// Other systems than Linux always get the default.
UsbAdapter usbAdapterOf(const QString &devicePath,
                        const QString &sysfsRoot = QStringLiteral("/sys"));

// The kernel driver of the serial device at `devicePath` ("ftdi_sio", "serial8250"), as sysfs
// below `sysfsRoot` names it; empty when it does not tell, and on other systems than Linux.
QString ttyDriverOf(const QString &devicePath, const QString &sysfsRoot = QStringLiteral("/sys"));

// How a port finds the adapter behind a device path; usbAdapterOf on the system's sysfs unless
// a test presents adapters of its own.
using AdapterLookup = std::function<UsbAdapter(const QString &devicePath)>;

} // namespace port
