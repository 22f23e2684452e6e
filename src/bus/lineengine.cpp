// SPDX-License-Identifier: MIT
#include "bus/lineengine.h"

#include "log/logging.h"

#include <algorithm>
#include <memory>

namespace bus {

LineEngine::LineEngine(port::SerialLines &lines) : m_lines(lines) {}

void LineEngine::busPause()
{
    if (m_lines.sendsWholeFrames()) {
        // The adapter's step (see BitBangComPort) is far longer than the loop below.
        m_lines.holdStep();
        ++m_pauseCount;
        return;
    }
    // Each pass stores to a volatile, so the optimiser must keep all 200 of them.
    [[maybe_unused]] volatile int pass = 0;
    for (int i = 1; i <= 200; ++i)
        pass = i;
    ++m_pauseCount;
}

void LineEngine::sampleDsr(bool &into)
{
    if (!m_lines.sendsWholeFrames()) {
        into = m_lines.dsr();
        return;
    }
    m_lines.markDsrSample();
    m_pendingSamples.push_back(&into);
}

void LineEngine::beginFrame()
{
    m_busFreeDsr = false;
    m_ackDsr.fill(false);
    m_bytesWritten = 0;
    m_frameSent = true;
}

void LineEngine::endFrame()
{
    if (m_lines.sendsWholeFrames() || !m_pendingSamples.empty()) {
        const QList<bool> samples = m_lines.endFrame();
        for (std::size_t i = 0; i < m_pendingSamples.size(); ++i)
            *m_pendingSamples[i] = qsizetype(i) < samples.size() && samples[qsizetype(i)];
        m_pendingSamples.clear();
    }
    m_frame = {};
    m_frame.busHeld = m_busFreeDsr;
    m_frame.sent = m_frameSent;
    m_frame.bytesWritten = m_bytesWritten;
    m_frame.acknowledged = m_ackDsr;
    for (int position = 1; position <= 16; ++position)
        m_readBackBits[position] = m_readDsr[position] ? 0 : 1;
    // Sent whole on a held bus: it counts for nothing, and the bus is cleared for the next one.
    if (m_frame.busHeld && m_lines.sendsWholeFrames())
        clearBus();
}

bool LineEngine::clearBus()
{
    // assert: scl and sda released, and sda reads low
    ++m_busClears;
    bool released = false;
    for (int pulse = 0; pulse < 9 && !released; ++pulse) {
        sclLow();
        sclHigh();
        released = !m_lines.dsr();
    }
    // SDA falls and rises while SCL is high: START, then STOP. On a held line neither moves.
    sdaLow();
    sdaHigh();
    // leaves: scl and sda released
    const bool freed = released && !m_lines.dsr();
    // An event, not a line operation: a healthy bus never gets here.
    if (freed)
        qCInfo(lcBus) << "bus clear: SDA was held low, clocking freed it";
    else
        qCWarning(lcBus) << "bus clear: SDA is held low and nine clock pulses did not free it";
    return freed;
}

bool LineEngine::checkBus()
{
    sdaHigh();
    sclHigh();
    return !m_lines.dsr() || clearBus();
}

int LineEngine::bitOfText(QStringView text, int k)
{
    return (k < text.size() && text[k] == u'1') ? 1 : 0;
}

void LineEngine::decodeByte(QStringView text, int firstPosition)
{
    for (int k = 0; k < 8; ++k)
        m_lineBits[firstPosition + k] = bitOfText(text, k);
}

// Every sequence starts from whatever the previous one left and spells out each line write,
// repeated writes included: on a real port each write takes time and so paces the bus.
// The levels below are those the PC drives; "released" means the PC does not pull the line.
// SDA may change only while SCL is low, except in START and STOP.

bool LineEngine::busFreeForStart()
{
    // assert: scl and sda released
    // SDA low now means a chip is stuck inside a transfer (or SDA is held), and a START would
    // not be seen. Lines that send whole frames tell only at the frame's end.
    sampleDsr(m_busFreeDsr);
    if (m_lines.sendsWholeFrames() || !m_busFreeDsr)
        return true;
    m_busFreeDsr = !clearBus();
    m_frameSent = !m_busFreeDsr;
    return m_frameSent;
}

bool LineEngine::startCondition()
{
    // assert: the bus is idle (scl and sda released); the first two writes say so again
    sdaHigh();
    sclHigh();
    if (!busFreeForStart())
        return false;
    sdaLow(); // SDA falls while SCL is high: START
    sclHigh();
    return true;
    // leaves: scl high, sda low
}

void LineEngine::sendBitCell(int bit)
{
    // assert: scl is low, or high with sda low just after START; scl falls before sda changes
    sclLow();
    sdaBit(bit);
    sclHigh(); // the chip samples here
    sdaBit(bit);
    sclLow();
    sdaBit(bit);
    // leaves: scl low, sda holding the bit
}

void LineEngine::ackSlot()
{
    // assert: scl is low
    // SDA released for the ninth clock; a chip that answers holds it low while SCL is high.
    sdaHigh();
    sclLow();
    sdaHigh();
    sclHigh();
    sampleDsr(m_ackDsr[std::size_t(m_bytesWritten++)]);
    sdaHigh();
    sclLow();
    // leaves: scl low, sda released
}

void LineEngine::readBitCell(int position)
{
    // assert: scl is low, or sda is already released (after the previous sample with scl high)
    sdaHigh();
    sclLow(); // the chip puts out its next bit while SCL is low
    sdaHigh();
    sclLow();
    sdaHigh();
    sclHigh();
    sampleDsr(m_readDsr[position]);
    // leaves: scl high, sda released (the chip drives the bit just sampled)
}

void LineEngine::masterAck()
{
    // assert: scl is high, sda released (after the eighth sample)
    sdaHigh();
    sclLow();
    sdaLow();
    sclLow();
    sdaLow();
    sclHigh(); // the chip sees the acknowledge and goes on with the next byte
    sdaLow();
    sclLow();
    // leaves: scl low, sda low
}

void LineEngine::nackAndStop()
{
    // assert: scl is high, sda released (after the sixteenth sample)
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
    // leaves: the bus idle, scl and sda released
}

void LineEngine::stopCondition()
{
    // assert: scl is low
    sdaLow();
    sclLow();
    sdaLow();
    sclHigh();
    sdaHigh(); // SDA rises while SCL is high: STOP
    sclHigh();
    // leaves: the bus idle, scl and sda released
}

// The paced sequences are the plain ones with a pause after every second write; they serve the
// STOP that ends a 4-byte write and the whole general call.

bool LineEngine::pacedStart()
{
    // assert: the bus is idle (scl and sda released); the first two writes say so again
    sdaHigh();
    sclHigh();
    busPause();
    if (!busFreeForStart())
        return false;
    sdaLow();
    sclHigh();
    busPause();
    return true;
    // leaves: scl high, sda low
}

void LineEngine::pacedBit(int bit, bool *sample)
{
    // assert: scl is low, or high with sda low just after START; scl falls before sda changes
    sclLow();
    sdaBit(bit);
    busPause();
    sclHigh();
    if (sample)
        sampleDsr(*sample);
    sdaBit(bit);
    busPause();
    sclLow();
    sdaBit(bit);
    busPause();
    // leaves: scl low, sda holding the bit
}

void LineEngine::pacedStop()
{
    // assert: scl is low
    sdaLow();
    sclLow();
    busPause();
    sdaLow();
    sclHigh();
    busPause();
    sdaHigh();
    sclHigh();
    busPause();
    // leaves: the bus idle, scl and sda released
}

void LineEngine::sendByte(int firstPosition)
{
    // assert: as for sendBitCell; leaves: scl low, sda released by the acknowledge slot
    for (int k = 0; k < 8; ++k)
        sendBitCell(m_lineBits[firstPosition + k]);
    ackSlot();
}

void LineEngine::addressFrame(QStringView addressBits)
{
    beginFrame();
    decodeByte(addressBits, 1);
    if (startCondition()) {
        sendByte(1);
        stopCondition();
    }
    endFrame();
}

QList<bool> LineEngine::echoSda(int rounds)
{
    // assert: the bus is idle; leaves it idle
    // Filled in place (perhaps at the frame's end), so it must not move meanwhile.
    const std::size_t count = std::size_t(std::max(rounds, 0)) * 2;
    const auto raw = std::make_unique<bool[]>(count);
    beginFrame();
    sclHigh();
    sdaHigh();
    for (int round = 0; round < rounds; ++round) {
        sdaLow(); // START
        sampleDsr(raw[std::size_t(round) * 2]);
        sdaHigh(); // STOP
        sampleDsr(raw[std::size_t(round) * 2 + 1]);
    }
    endFrame();
    return QList<bool>(raw.get(), raw.get() + count);
}

void LineEngine::writeShortFrame(QStringView addressBits, QStringView dataBits)
{
    beginFrame();
    decodeByte(addressBits, 1);
    decodeByte(dataBits, 9);
    if (startCondition()) {
        sendByte(1);
        sendByte(9);
        stopCondition();
    }
    endFrame();
}

void LineEngine::readFrame(QStringView addressBits)
{
    beginFrame();
    m_readDsr.fill(false);
    decodeByte(addressBits, 1);
    if (startCondition()) {
        sendByte(1);
        for (int position = 1; position <= 8; ++position)
            readBitCell(position);
        masterAck();
        for (int position = 9; position <= 16; ++position)
            readBitCell(position);
        nackAndStop();
    }
    endFrame();
}

void LineEngine::writeLongFrame(QStringView byte1, QStringView byte2, QStringView byte3,
                                QStringView byte4, ExtraPause extraPause)
{
    beginFrame();
    decodeByte(byte1, 1);
    decodeByte(byte2, 9);
    decodeByte(byte3, 17);
    decodeByte(byte4, 25);
    if (startCondition()) {
        for (int first = 1; first <= 25; first += 8)
            sendByte(first);
        if (extraPause == ExtraPause::Yes)
            busPause();
        pacedStop();
    }
    endFrame();
}

void LineEngine::writePacedFrame(QStringView byte1, QStringView byte2)
{
    beginFrame();
    if (pacedStart()) {
        const std::array<QStringView, 2> bytes{byte1, byte2};
        for (const QStringView byte : bytes) {
            for (int k = 0; k < 8; ++k)
                pacedBit(bitOfText(byte, k));
            // The acknowledge slot: SDA released, and sampled.
            pacedBit(1, &m_ackDsr[std::size_t(m_bytesWritten++)]);
        }
        pacedStop();
    }
    endFrame();
}

} // namespace bus
