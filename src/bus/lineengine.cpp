#include "bus/lineengine.h"

namespace bus {

LineEngine::LineEngine(port::SerialLines &lines) : m_lines(lines) {}

void LineEngine::busPause()
{
    // Each pass stores to a volatile, so the optimiser must keep all 200 of them.
    [[maybe_unused]] volatile int pass = 0;
    for (int i = 1; i <= 200; ++i)
        pass = i;
    ++m_pauseCount;
}

void LineEngine::decodeByte(QStringView text, int firstPosition)
{
    for (int k = 0; k < 8; ++k)
        m_lineBits[firstPosition + k] = (k < text.size() && text[k] == u'1') ? 1 : 0;
}

// Every sequence starts from whatever the previous one left and spells out each line write,
// repeated writes included: on a real port each write takes time and so paces the bus.

void LineEngine::startCondition()
{
    sdaHigh();
    sclHigh();
    sdaLow(); // SDA falls while SCL is high: START
    sclHigh();
}

void LineEngine::sendBitCell(int bit)
{
    sclLow();
    sdaBit(bit);
    sclHigh(); // the chip samples here
    sdaBit(bit);
    sclLow();
    sdaBit(bit);
}

void LineEngine::ackSlot()
{
    // SDA released for the ninth clock; whatever the chip answers is not looked at.
    sdaHigh();
    sclLow();
    sdaHigh();
    sclHigh();
    sdaHigh();
    sclLow();
}

void LineEngine::readBitCell(int position)
{
    sdaHigh();
    sclLow(); // the chip puts out its next bit while SCL is low
    sdaHigh();
    sclLow();
    sdaHigh();
    sclHigh();
    m_readBackBits[position] = m_lines.dsr() ? 0 : 1;
}

void LineEngine::masterAck()
{
    sdaHigh();
    sclLow();
    sdaLow();
    sclLow();
    sdaLow();
    sclHigh(); // the chip sees the acknowledge and goes on with the next byte
    sdaLow();
    sclLow();
}

void LineEngine::nackAndStop()
{
    sdaHigh();
    sclLow();
    sdaHigh();
    sclHigh(); // ninth clock with SDA high: no acknowledge, the chip stops sending
    sdaHigh();
    sclLow();
    sdaLow();
    sclHigh();
    sdaHigh(); // SDA rises while SCL is high: STOP
    sclHigh();
}

void LineEngine::stopCondition()
{
    sdaLow();
    sclLow();
    sdaLow();
    sclHigh();
    sdaHigh(); // SDA rises while SCL is high: STOP
    sclHigh();
}

void LineEngine::pacedStart()
{
    sdaHigh();
    sclHigh();
    busPause();
    sdaLow();
    sclHigh();
    busPause();
}

void LineEngine::pacedBit(int bit)
{
    sclLow();
    sdaBit(bit);
    busPause();
    sclHigh();
    sdaBit(bit);
    busPause();
    sclLow();
    sdaBit(bit);
    busPause();
}

void LineEngine::pacedStop()
{
    sdaLow();
    sclLow();
    busPause();
    sdaLow();
    sclHigh();
    busPause();
    sdaHigh();
    sclHigh();
    busPause();
}

void LineEngine::sendByte(int firstPosition)
{
    for (int k = 0; k < 8; ++k)
        sendBitCell(m_lineBits[firstPosition + k]);
    ackSlot();
}

void LineEngine::writeShortFrame(QStringView addressBits, QStringView dataBits)
{
    decodeByte(addressBits, 1);
    decodeByte(dataBits, 9);
    startCondition();
    sendByte(1);
    sendByte(9);
    stopCondition();
}

void LineEngine::readFrame(QStringView addressBits)
{
    decodeByte(addressBits, 1);
    startCondition();
    sendByte(1);
    for (int position = 1; position <= 8; ++position)
        readBitCell(position);
    masterAck();
    for (int position = 9; position <= 16; ++position)
        readBitCell(position);
    nackAndStop();
}

void LineEngine::writeLongFrame(QStringView byte1, QStringView byte2, QStringView byte3,
                                QStringView byte4, ExtraPause extraPause)
{
    decodeByte(byte1, 1);
    decodeByte(byte2, 9);
    decodeByte(byte3, 17);
    decodeByte(byte4, 25);
    startCondition();
    for (int first = 1; first <= 25; first += 8)
        sendByte(first);
    if (extraPause == ExtraPause::Yes)
        busPause();
    pacedStop();
}

} // namespace bus
