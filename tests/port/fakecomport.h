// SPDX-License-Identifier: MIT
#pragma once

#include "port/comport.h"

#include <QHash>
#include <QStringList>
#include <utility>

// A port whose open results a test scripts per COM number (NotPresent unless set); every call is
// logged. A held port looks present until it is opened.
class FakeComPort : public port::ComPort
{
public:
    QHash<int, port::OpenResult> results;
    mutable QStringList log;
    port::PortTimeouts record;
    int openNumber = 0;

    port::OpenResult presence(int n) const override
    {
        const port::OpenResult result = results.value(n, port::OpenResult::NotPresent);
        return result == port::OpenResult::Busy ? port::OpenResult::Opened : result;
    }
    port::OpenResult open(int n, const port::LineSettings &settings) override
    {
        close();
        log << QStringLiteral("open %1 %2").arg(n).arg(settings.text());
        const port::OpenResult result = results.value(n, port::OpenResult::NotPresent);
        openNumber = result == port::OpenResult::Opened ? n : 0;
        return result;
    }
    void close() override
    {
        if (openNumber != 0)
            log << QStringLiteral("close %1").arg(std::exchange(openNumber, 0));
    }
    int openPortNumber() const override { return openNumber; }
    port::PortTimeouts timeouts() const override
    {
        log << "read";
        return record;
    }
    void setTimeouts(const port::PortTimeouts &t) override
    {
        record = t;
        log << QString::asprintf("timeouts %u %u %u %u %u", t.readIntervalTimeout,
                                 t.readTotalTimeoutMultiplier, t.readTotalTimeoutConstant,
                                 t.writeTotalTimeoutMultiplier, t.writeTotalTimeoutConstant);
    }
    bool isOpen() const override { return openNumber != 0; }
    void setDtr(bool asserted) override { log << QStringLiteral("dtr %1").arg(asserted); }
    void setRts(bool asserted) override { log << QStringLiteral("rts %1").arg(asserted); }
    bool dsr() override
    {
        log << "dsr";
        return true;
    }
    void writeData(const QByteArray &bytes) override
    {
        log << "write " + QString::fromLatin1(bytes.toHex(' '));
    }
    void breakDown() { emit failed(std::exchange(openNumber, 0), QStringLiteral("unplugged")); }
};
