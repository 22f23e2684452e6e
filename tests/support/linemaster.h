// SPDX-License-Identifier: MIT
#pragma once

#include "port/seriallines.h"

#include <QList>
#include <string_view>

// A bit-banging master that puts on the lines the sequences of the program's bus engine. Unlike
// the engine it may sample the acknowledge, which adds DSR reads but no line writes.
class LineMaster
{
public:
    explicit LineMaster(port::SerialLines &lines) : m_lines(lines) {}

    // "D1" asserts DTR (SCL low), "R0" releases RTS (SDA high); "Rb" puts the bit on SDA.
    void play(std::string_view writes, bool bit = false)
    {
        for (std::size_t i = 0; i + 1 < writes.size(); i += 3) {
            const bool asserted = writes[i + 1] == 'b' ? !bit : writes[i + 1] == '1';
            if (writes[i] == 'D')
                m_lines.setDtr(asserted);
            else
                m_lines.setRts(asserted);
        }
    }

    void start() { play("R0 D0 R1 D0"); }
    void stop() { play("R1 D1 R1 D0 R0 D0"); }
    void sendBits(quint8 byte, int count)
    {
        for (int i = 7; i > 7 - count; --i)
            play("D1 Rb D0 Rb D1 Rb", (byte >> i) & 1);
    }
    // The ninth clock with SDA released; true if a chip held SDA low meanwhile.
    bool ackSlot()
    {
        play("R0 D1 R0 D0");
        const bool acknowledged = m_lines.dsr();
        play("R0 D1");
        return acknowledged;
    }
    bool sendByte(quint8 byte)
    {
        sendBits(byte, 8);
        return ackSlot();
    }
    quint8 readByte()
    {
        quint8 byte = 0;
        for (int i = 0; i < 8; ++i) {
            play("R0 D1 R0 D1 R0 D0");
            byte = quint8((byte << 1) | (m_lines.dsr() ? 0 : 1));
        }
        return byte;
    }
    void masterAck() { play("R0 D1 R1 D1 R1 D0 R1 D1"); }
    void nackAndStop() { play("R0 D1 R0 D0 R0 D1 R1 D0 R0 D0"); }

    // START, the bytes, STOP; the acknowledge of every byte, in order.
    QList<bool> write(int address7, const QList<quint8> &data)
    {
        start();
        QList<bool> acks{sendByte(quint8(address7 << 1))};
        for (quint8 byte : data)
            acks.append(sendByte(byte));
        stop();
        return acks;
    }
    // As the engine reads: ACK after the high byte, NACK after the low byte.
    quint16 readWord(int address7)
    {
        start();
        sendByte(quint8((address7 << 1) | 1));
        const quint8 high = readByte();
        masterAck();
        const quint8 low = readByte();
        nackAndStop();
        return quint16((high << 8) | low);
    }
    quint16 readRegister(int address7, int reg)
    {
        write(address7, {quint8(reg)});
        return readWord(address7);
    }
    void writeWord(int address7, int reg, quint8 command, int code)
    {
        write(address7, {quint8(reg), quint8(command | ((code >> 8) & 0x03)), quint8(code)});
    }
    // Clocked as the engine paces it: the acknowledge slots as released data bits.
    void generalCallReset()
    {
        start();
        for (quint8 byte : {0x00, 0x06}) {
            sendBits(byte, 8);
            sendBits(0xFF, 1);
        }
        stop();
    }

private:
    port::SerialLines &m_lines;
};
