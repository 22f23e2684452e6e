// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <chrono>
#include <optional>

class QSerialPortInfo;

namespace port {

class ComPort;

// What a COM number leads to: nothing, a device node of the system, or the simulated board.
struct PortTarget
{
    enum class Kind { None, Device, Simulated };

    Kind kind = Kind::None;
    QString devicePath;           // Device only; empty for an FT232R chosen by its serial number
    ComPort *simulated = nullptr; // Simulated only: the board's port, owned by whoever built it
    // Device only: the FT232R behind the device (or the one with this serial number) is driven in
    // synchronous bit-bang mode, a whole frame per USB transfer.
    bool fastMode = false;
    QString ftdiSerial;
    // Line writes that leave a line as it is are skipped: on, off, or nothing for the default
    // (on for USB adapters, where each write is a USB round trip; off for built-in UARTs).
    std::optional<bool> skipIdleWrites;
};

// One --port value, in the grammar both programs take: "[COMn=]TARGET" or a bare "COMn", where
// TARGET is a device path, sim[:WAIT], sim-ft232r[:WAIT], ftdi (COMn's FT232R in fast mode, only
// after COMn=) or ftdi:SERIAL.
struct PortOverride
{
    int portNumber = 0; // 0: the text named no COM number ("sim", a path, "ftdi:SERIAL")
    QString devicePath; // empty for the simulated board, ftdi and ftdi:SERIAL
    bool simulated = false;
    QString error; // why the text was refused; empty when it parsed
    // simulated only: the wait per line operation, or per USB transfer of the virtual FT232R
    std::chrono::microseconds lineDelay{0};
    bool virtualAdapter = false; // simulated only: the board behind a virtual FT232R
    bool fastMode = false;       // COMn=ftdi: the port's adapter in bit-bang mode
    QString ftdiSerial;          // ftdi:SERIAL: the FT232R with that serial, in fast mode

    bool isValid() const { return error.isEmpty(); }
    // A bare "COMn" names a port and leaves where it leads to the map.
    bool namesOnlyNumber() const
    {
        return isValid() && !simulated && !fastMode && devicePath.isEmpty() && ftdiSerial.isEmpty();
    }
};

// The device behind one COM number, for a person to read.
struct PortDescription
{
    QString name;        // "COM5"
    QString location;    // "/dev/ttyUSB0", or empty for the simulated board and unmapped numbers
    QString description; // what the system or the board says about it; may be empty

    // For example "COM5  /dev/ttyUSB0  FT232R USB UART (FTDI)".
    QString text() const;
};

// The program's port names are COM1 to COM16, whatever the system calls its devices. This table
// turns a COM number into the thing to open: the system's default device for that number, or an
// override given by the user.
class PortMap
{
public:
    static constexpr int firstPortNumber = 1;
    static constexpr int lastPortNumber = 16;

    static bool isPortNumber(int portNumber);
    // "COM" + the number, no leading zeros; empty outside 1..16.
    static QString portName(int portNumber);
    // "COM" + any number, as messages show a number that was stored or asked for: "COM0".
    static QString comName(int portNumber);
    // COMn on Windows; elsewhere COM1-4 are /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7 and COM13-16
    // /dev/ttyACM0-3. Empty outside 1..16.
    static QString defaultDevicePath(int portNumber);

    // Every form of a --port value.
    static PortOverride parsePort(const QString &text);
    // The window program's --port: a COM number and where it leads, "COMn=TARGET".
    static PortOverride parseOverride(const QString &text);
    // "sim", or "sim:" with a wait per line operation that makes the simulated board as slow
    // as a USB adapter: "sim:1ms", "sim:250us" (at most 1 s). Nothing when the text names no
    // simulated board; the wait, or the reason it was refused in *error, when it does.
    static std::optional<std::chrono::microseconds> parseSimulated(const QString &text,
                                                                   QString *error);
    // "sim-ft232r" or "sim-ft232r:1ms": the simulated board behind a virtual FT232R in bit-bang
    // mode, with a latency per USB transfer. As parseSimulated otherwise.
    static std::optional<std::chrono::microseconds> parseVirtualAdapter(const QString &text,
                                                                        QString *error);
    // A number for a device given without one: the number whose default device it is, else the
    // first number whose default device the system does not have, else the last number.
    static int numberForDevice(const QString &devicePath);

    // Numbers outside 1..16 are ignored: the program has no such port.
    void mapToDevice(int portNumber, const QString &devicePath);
    void mapToSimulated(int portNumber, ComPort *simulated);
    // The FT232R with this serial number, in bit-bang mode, whatever node the system gave it.
    void mapToFtdiSerial(int portNumber, const QString &serial);
    // The modes of a device's port, kept apart from where the number leads.
    void setFastMode(int portNumber, bool on);
    void setIdleWriteSkipping(int portNumber, std::optional<bool> skip);
    // Applies a parsed override; the simulated board's port is the caller's, as it outlives the
    // map. Returns false for an override that did not parse.
    bool apply(const PortOverride &entry, ComPort *simulated);
    void clearOverride(int portNumber);
    bool hasOverride(int portNumber) const { return m_overrides.contains(portNumber); }

    PortTarget target(int portNumber) const;

    // Asks the system for its list of serial devices once per call.
    PortDescription describe(int portNumber) const;
    QList<PortDescription> describeAll() const;

private:
    PortDescription describe(int portNumber, const QList<QSerialPortInfo> &systemPorts) const;

    struct Modes
    {
        bool fast = false;
        std::optional<bool> skipIdleWrites;
    };

    QHash<int, PortTarget> m_overrides;
    QHash<int, Modes> m_modes;
};

} // namespace port
