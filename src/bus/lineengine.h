#pragma once

#include "port/seriallines.h"

#include <QList>
#include <QStringView>
#include <array>
#include <vector>

namespace bus {

enum class ExtraPause { No, Yes };

// I2C made out of a serial port's modem-control lines:
//   SCL = DTR (asserted pulls SCL low), SDA = RTS (asserted pulls SDA low), SDA read back = DSR
//   (asserted while SDA is low).
// Bytes arrive as bit texts, most significant bit first; only the first eight characters count
// and only the character '1' is a 1. Of the acknowledges only that of the address byte is
// sampled (one DSR reading while SCL is high): it tells whether any chip answered the frame. The
// bus has no clock of its own; its speed is that of the port's line changes, plus the fixed
// pauses where they are listed. Lines that send whole frames get the same writes in the same
// order; their DSR readings are resolved when each frame ends, and a pause is a step of their
// clock.
class LineEngine
{
public:
    static constexpr int lineBitCount = 51;
    static constexpr int readBackBitCount = 18;

    explicit LineEngine(port::SerialLines &lines);

    // The RTS value for a data bit: asserted (SDA low) for anything but 1.
    static bool lineValueForBit(int bit) { return bit != 1; }

    // A fixed, short busy pause: 200 passes of a counted loop that the optimiser must keep.
    void busPause();

    // START, address byte, STOP: 64 line writes, 1 read. Nothing reaches a register.
    void addressFrame(QStringView addressBits);
    // START, address byte, one data byte, STOP: 118 line writes, 1 read.
    void writeShortFrame(QStringView addressBits, QStringView dataBits);
    // START, address byte, two bytes received into readBackBits 1..16, STOP: 172 writes, 17 reads.
    void readFrame(QStringView addressBits);
    // START, four bytes, [pause], paced STOP: 226 line writes, 1 read.
    void writeLongFrame(QStringView byte1, QStringView byte2, QStringView byte3, QStringView byte4,
                        ExtraPause extraPause);
    // Paced START, two bytes each followed by a released acknowledge slot, paced STOP, with a
    // pause after every second line write: 118 writes, 1 read, 59 pauses. lineBits stay as they
    // were.
    void writePacedFrame(QStringView byte1, QStringView byte2);

    // Whether a chip pulled SDA low in the address acknowledge of the last frame.
    bool addressAcknowledged() const { return m_addressAcknowledged; }

    // The wiring check: with SCL released, SDA is pulled low and released `rounds` times and
    // DSR read after each change (2 * rounds + 2 writes, 2 * rounds reads). SDA moving while SCL
    // is high is a START and then a STOP, which every chip ignores. Gives the readings in
    // order: low, released, low, released, ...
    QList<bool> echoSda(int rounds);

    // Positions 1..32 hold the bytes of the last frame; 0 and 33..50 are unused.
    const std::array<int, lineBitCount> &lineBits() const { return m_lineBits; }
    // Positions 1..16 hold the bits of the last read, 1 where SDA was high.
    const std::array<int, readBackBitCount> &readBackBits() const { return m_readBackBits; }

    quint64 pauseCount() const { return m_pauseCount; }

private:
    static int bitOfText(QStringView text, int k);
    void decodeByte(QStringView text, int firstPosition);

    // Reads DSR into `into` now, or when the frame ends on lines that send whole frames.
    void sampleDsr(bool &into);
    // Every frame ends here: the deferred samples are resolved, then turned into results.
    void endFrame();

    void startCondition();
    void sendBitCell(int bit);
    enum class Sample { No, Yes };
    void ackSlot(Sample sample);
    void readBitCell(int position);
    void masterAck();
    void nackAndStop();
    void stopCondition();

    void sendByte(int firstPosition);

    void pacedStart();
    void pacedBit(int bit, Sample sample = Sample::No);
    void pacedStop();

    void sclLow() { m_lines.setDtr(true); }
    void sclHigh() { m_lines.setDtr(false); }
    void sdaLow() { m_lines.setRts(true); }
    void sdaHigh() { m_lines.setRts(false); }
    void sdaBit(int bit) { m_lines.setRts(lineValueForBit(bit)); }

    port::SerialLines &m_lines;
    std::array<int, lineBitCount> m_lineBits{};
    std::array<int, readBackBitCount> m_readBackBits{};
    quint64 m_pauseCount = 0;
    bool m_addressAcknowledged = false;
    // DSR as read, true where asserted (SDA low); turned into the results at the frame's end.
    bool m_ackDsr = false;
    std::array<bool, readBackBitCount> m_readDsr{};
    std::vector<bool *> m_pendingSamples;
};

} // namespace bus
