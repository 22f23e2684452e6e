// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace port {

// The libftdi calls an FT232R needs, one adapter at a time, so that the device's handling of
// what they return can be tried without the library and a chip.
class FtdiLibrary
{
public:
    // What libftdi's open functions return (libftdi 1.5).
    static constexpr int deviceNotFound = -3;
    static constexpr int libusbOpenFailed = -4;
    static constexpr int claimFailed = -5;
    static constexpr int detachNotPermitted = -8;

    virtual ~FtdiLibrary() = default;

    // A fresh context with USB calls of at most `usbCallTimeoutMs`; false when libftdi cannot
    // start (no USB support, no memory).
    virtual bool start(int usbCallTimeoutMs) = 0;
    // Claims the chip, taking it from the kernel's serial driver: 0, or libftdi's error code
    // with the errno that the USB open left in *openErrno.
    virtual int openByAddress(int bus, int address, int *openErrno) = 0;
    // The first FT232R, or the one with this serial number when it is not empty.
    virtual int openBySerial(const QByteArray &serial, int *openErrno) = 0;
    // Reset, latency, synchronous bit-bang with these output pins, the step rate, buffers
    // flushed; false at the first call that fails.
    virtual bool startBitBang(quint8 outputPins, int stepsPerSecond, int latencyMs) = 0;
    // Back to serial mode and the chip given back to the kernel's driver (when it was claimed),
    // then the context is gone.
    virtual void finish() = 0;

    // libftdi's own results: bytes written or read (0 while samples are on their way), or < 0.
    virtual int write(const unsigned char *bytes, int count) = 0;
    virtual int read(unsigned char *bytes, int count) = 0;
    // What the last failed call said.
    virtual QString errorText() const = 0;
};

// The real library.
std::unique_ptr<FtdiLibrary> makeLibFtdi();

} // namespace port
