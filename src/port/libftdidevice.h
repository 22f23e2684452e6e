// SPDX-License-Identifier: MIT
#pragma once

#include "port/bitbangdevice.h"
#include "port/ftdilibrary.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace port {

// Which FT232R to claim, and what messages call it.
struct FtdiSelection
{
    QString serial; // empty: the first FT232R found
    // The USB device exactly, when both are non-zero; then the serial number is not looked at.
    int busNumber = 0;
    int deviceAddress = 0;
    QString name; // for example "COM5 (/dev/ttyUSB0)" or "FT232R A12345"
};

// An FT232R in synchronous bit-bang mode through libftdi1. While it is open the kernel's serial
// driver lets go of the chip, so its serial device is gone; closing gives the chip back.
class LibFtdiDevice : public BitBangDevice
{
public:
    // The FT232R takes 128 bytes from the host into its receive buffer and has 256 bytes of
    // transmit buffer back. In synchronous mode every byte written puts one sample into the
    // buffer going back, so the host writes no more than this before it reads all the samples:
    // then neither buffer can fill and stall the chip.
    static constexpr int transferLimit = 128;

    explicit LibFtdiDevice(FtdiSelection selection,
                           std::unique_ptr<FtdiLibrary> library = makeLibFtdi());
    ~LibFtdiDevice() override;
    LibFtdiDevice(const LibFtdiDevice &) = delete;
    LibFtdiDevice &operator=(const LibFtdiDevice &) = delete;

    OpenResult open(quint8 outputPins, quint8 initial, int stepsPerSecond, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    int maxTransferBytes() const override { return transferLimit; }
    QByteArray transfer(const QByteArray &states, QString *error) override;

private:
    // Finds and claims the chip; anything but Opened leaves it unclaimed.
    OpenResult claim(QString *error);
    // Writes at most transferLimit states and appends their samples; false, with what was read
    // so far appended, when they did not all come back.
    bool exchange(const char *states, int count, QByteArray *samples, QString *reason);

    FtdiSelection m_selection;
    std::unique_ptr<FtdiLibrary> m_library;
    bool m_open = false;
    int m_stepsPerSecond = 0;
};

} // namespace port
