// SPDX-License-Identifier: MIT
#include "port/libftdidevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace port {

namespace {

// A transfer's samples are back within a few milliseconds plus the steps' own time; a second
// more without them means the adapter is gone or wedged. No single USB call waits longer than a
// fraction of that.
constexpr int answerTimeoutMs = 1000;
constexpr int usbCallTimeoutMs = 250;

// The chip sends what it has every latency period even when that is only its status; at the
// smallest, 1 ms, a short frame's samples do not wait the default 16 ms.
constexpr unsigned char latencyMs = 1;

QString tr(const char *text)
{
    return QCoreApplication::translate("port::LibFtdiDevice", text);
}

// Whether the system refused us the USB device node: libusb leaves errno as its open left it.
bool accessDenied(int openErrno, const QString &node)
{
    if (openErrno == EACCES || openErrno == EPERM)
        return true;
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(node);
    return !node.isEmpty() && ::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES;
#else
    return false;
#endif
}

} // namespace

LibFtdiDevice::LibFtdiDevice(FtdiSelection selection, std::unique_ptr<FtdiLibrary> library)
    : m_selection(std::move(selection)), m_library(std::move(library))
{}

LibFtdiDevice::~LibFtdiDevice()
{
    close();
}

OpenResult LibFtdiDevice::open(quint8 outputPins, quint8 initial, int stepsPerSecond,
                               QString *error)
{
    close();
    if (!m_library->start(usbCallTimeoutMs)) {
        *error = tr("%1: libftdi could not start (no USB support or out of memory).")
                     .arg(m_selection.name);
        return OpenResult::Failed;
    }
    const OpenResult claimed = claim(error);
    if (claimed != OpenResult::Opened) {
        m_library->finish();
        return claimed;
    }
    m_open = true;
    m_stepsPerSecond = stepsPerSecond;

    // FTDI's notes tie the bit-bang clock to the baud rate by other factors for some chips, so
    // the FT232R's real step is as exact as libftdi's factor: not yet measured on a chip.
    if (!m_library->startBitBang(outputPins, stepsPerSecond, latencyMs)) {
        *error = tr("%1: the FT232R would not start synchronous bit-bang mode: %2")
                     .arg(m_selection.name, m_library->errorText());
        close();
        return OpenResult::Failed;
    }

    // One step sets the pins as the caller wants them; its sample only shows the chip answers.
    const char state = char(initial);
    QByteArray sample;
    QString reason;
    if (!exchange(&state, 1, &sample, &reason)) {
        *error =
            tr("%1: the FT232R did not answer in bit-bang mode: %2").arg(m_selection.name, reason);
        close();
        return OpenResult::Failed;
    }
    return OpenResult::Opened;
}

OpenResult LibFtdiDevice::claim(QString *error)
{
    const int bus = m_selection.busNumber;
    const int address = m_selection.deviceAddress;
    const bool byAddress = bus > 0 && bus <= 255 && address > 0 && address <= 255;
    const QByteArray serial = m_selection.serial.toUtf8();
    const QString &name = m_selection.name;

    int openErrno = 0;
    const int result = byAddress ? m_library->openByAddress(bus, address, &openErrno)
                                 : m_library->openBySerial(serial, &openErrno);
    if (result == 0)
        return OpenResult::Opened;

    const QString node = byAddress ? QStringLiteral("/dev/bus/usb/%1/%2")
                                         .arg(bus, 3, 10, QChar(u'0'))
                                         .arg(address, 3, 10, QChar(u'0'))
                                   : QString();
    if (result == FtdiLibrary::deviceNotFound) {
        if (byAddress)
            *error = tr("%1: no FT232R at USB bus %2, device %3. Plug the adapter in again and "
                        "choose its port anew.")
                         .arg(name)
                         .arg(bus)
                         .arg(address);
        else if (!serial.isEmpty())
            *error = tr("%1: no FT232R with serial number %2 is plugged in.")
                         .arg(name, m_selection.serial);
        else
            *error = tr("%1: no FT232R is plugged in.").arg(name);
        return OpenResult::NotPresent;
    }
    if (result == FtdiLibrary::detachNotPermitted ||
        (result == FtdiLibrary::libusbOpenFailed && accessDenied(openErrno, node))) {
        *error = tr("%1: no permission to use the FT232R's USB device%2. The package's udev rule "
                    "gives it to the user at the computer once the adapter is plugged in again "
                    "after installing; otherwise run as a user with access to it.")
                     .arg(name, node.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(node));
        return OpenResult::NoPermission;
    }
    if (result == FtdiLibrary::claimFailed) {
        *error =
            tr("%1: another program holds the FT232R. Close that program and try again.").arg(name);
        return OpenResult::Busy;
    }
    *error = tr("%1: the FT232R could not be opened: %2").arg(name, m_library->errorText());
    return OpenResult::Failed;
}

void LibFtdiDevice::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_library->finish();
}

QByteArray LibFtdiDevice::transfer(const QByteArray &states, QString *error)
{
    QByteArray samples;
    if (!m_open) {
        *error = tr("%1: the FT232R is not open.").arg(m_selection.name);
        return samples;
    }
    samples.reserve(states.size());
    for (qsizetype done = 0; done < states.size(); done += transferLimit) {
        const int count = int(std::min<qsizetype>(transferLimit, states.size() - done));
        QString reason;
        if (!exchange(states.constData() + done, count, &samples, &reason)) {
            close();
            *error = tr("%1: the adapter stopped answering: %2").arg(m_selection.name, reason);
            break;
        }
    }
    return samples;
}

bool LibFtdiDevice::exchange(const char *states, int count, QByteArray *samples, QString *reason)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(states);
    const int written = m_library->write(bytes, count);
    if (written != count) {
        *reason = written < 0 ? m_library->errorText()
                              : tr("it took %1 of %2 bytes").arg(written).arg(count);
        return false;
    }

    // The steps themselves take count / stepsPerSecond; the answer may take a second more.
    const qint64 stepsMs = m_stepsPerSecond > 0 ? qint64(count) * 1000 / m_stepsPerSecond : 0;
    const qint64 waitMs = answerTimeoutMs + stepsMs;
    const QDeadlineTimer deadline(waitMs);
    unsigned char received[transferLimit];
    int length = 0;
    bool complete = true;
    // ftdi_read_data() returns 0 while the samples are still on their way; each call waits for
    // at most one USB packet, which the chip sends every latency period.
    while (length < count) {
        const int got = m_library->read(received + length, count - length);
        if (got < 0) {
            *reason = m_library->errorText();
            complete = false;
            break;
        }
        length += got;
        if (length < count && deadline.hasExpired()) {
            *reason =
                tr("%1 of %2 samples came back within %3 ms").arg(length).arg(count).arg(waitMs);
            complete = false;
            break;
        }
    }
    samples->append(reinterpret_cast<const char *>(received), length);
    return complete;
}

} // namespace port
