// SPDX-License-Identifier: MIT
#pragma once

#include "port/seriallines.h"

#include <QObject>
#include <QString>

namespace port {

// How an open attempt ended. Busy is the case of a port that exists but that another program
// holds; the program treats it like the classic "port already open" error.
enum class OpenResult { Opened, Busy, NoPermission, NotPresent, Failed };

// What a probe found, as port listings say it: "present", "busy", "no permission", "absent".
inline QString presenceWord(OpenResult result)
{
    switch (result) {
    case OpenResult::Opened:
        return QStringLiteral("present");
    case OpenResult::Busy:
        return QStringLiteral("busy");
    case OpenResult::NoPermission:
        return QStringLiteral("no permission");
    case OpenResult::NotPresent:
        return QStringLiteral("absent");
    case OpenResult::Failed:
        break;
    }
    return QStringLiteral("unusable");
}

// Framing of the data line. The bus does not use the data line's bit rate; it only shapes the
// marker bytes and the write time-outs.
struct LineSettings
{
    qint32 bitRate = 9600;

    // The classic settings text, for example "9600,N,8,1".
    QString text() const { return QString::number(bitRate) + QStringLiteral(",N,8,1"); }
};

// The five fields of the classic communications time-out record, in milliseconds.
struct PortTimeouts
{
    quint32 readIntervalTimeout = 0;
    quint32 readTotalTimeoutMultiplier = 0;
    quint32 readTotalTimeoutConstant = 0;
    quint32 writeTotalTimeoutMultiplier = 0;
    quint32 writeTotalTimeoutConstant = 0;

    friend bool operator==(const PortTimeouts &, const PortTimeouts &) = default;
};

// The program's one serial port, addressed by COM number (1 to 16). Its lines are the bus.
class ComPort : public QObject, public SerialLines
{
    Q_OBJECT

public:
    using QObject::QObject;

    // What an open would meet, as far as the system tells without opening: opening a serial
    // device raises DTR and RTS, which resets or hangs up whatever hangs on another adapter.
    // Opened stands for a port that is there and may be opened; whether another program holds
    // it (Busy) shows only when it is opened.
    virtual OpenResult presence(int portNumber) const = 0;
    // Closes first if open. On success both modem-control outputs are released.
    virtual OpenResult open(int portNumber, const LineSettings &settings) = 0;
    virtual void close() = 0;
    // The COM number of the open port, 0 when closed.
    virtual int openPortNumber() const = 0;

    virtual PortTimeouts timeouts() const = 0;
    virtual void setTimeouts(const PortTimeouts &timeouts) = 0;

signals:
    // The open port failed during use (unplugged adapter, I/O error) and has been closed.
    void failed(int portNumber, const QString &reason);
};

} // namespace port
