// SPDX-License-Identifier: MIT
#pragma once

#include "port/seriallines.h"

#include <QList>
#include <QStringView>
#include <array>
#include <vector>

namespace bus {

enum class ExtraPause { No, Yes };

// What one frame met on the bus.
struct FrameResult
{
    static constexpr int maxBytes = 4;

    // SDA was low with both lines released before the START and a bus clear did not free it:
    // the frame was not sent. On lines that send whole frames the START's reading comes back only
    // with the frame: the frame went out on a held bus and nothing in it counts.
    bool busHeld = false;
    // The START went out: false only when a held bus kept the frame back.
    bool sent = false;
    // Bytes the PC wrote (the address included), and for each whether a chip held SDA low in
    // its ninth clock.
    int bytesWritten = 0;
    std::array<bool, maxBytes> acknowledged{};

    bool addressAcknowledged() const { return !busHeld && acknowledged[0]; }
    bool everyByteAcknowledged() const
    {
        for (int b = 0; b < bytesWritten; ++b) {
            if (!acknowledged[std::size_t(b)])
                return false;
        }
        return !busHeld && bytesWritten > 0;
    }
};

// I2C made out of a serial port's modem-control lines:
//   SCL = DTR (asserted pulls SCL low), SDA = RTS (asserted pulls SDA low), SDA read back = DSR
//   (asserted while SDA is low).
// Bytes arrive as bit texts, most significant bit first; only the first eight characters count
// and only the character '1' is a 1. Every START reads DSR once with both lines released: a bus
// whose SDA is low is not free, and is cleared (up to nine clocks, then a STOP) before the frame
// goes out, or the frame is not sent. The acknowledge of every byte the PC writes is sampled (one
// DSR reading while SCL is high each). These readings are all the checking adds: the line writes
// of a frame on a free bus are the same with or without them. The bus has no clock of its own;
// its speed is that of the port's line changes, plus the fixed pauses where they are listed.
// Lines that send whole frames get the same writes in the same order; their DSR readings are
// resolved when each frame ends, and a pause is a step of their clock. There a frame cannot be
// held back by its START's reading, so the callers check the bus in a transfer of its own first
// (checkBus) where a frame on a held bus would do harm.
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

    // On a free bus (the counts below; a held one adds the clear's):
    // START, address byte, STOP: 64 line writes, 2 reads. Nothing reaches a register.
    void addressFrame(QStringView addressBits);
    // START, address byte, one data byte, STOP: 118 line writes, 3 reads.
    void writeShortFrame(QStringView addressBits, QStringView dataBits);
    // START, address byte, two bytes received into readBackBits 1..16, STOP: 172 writes, 18 reads.
    void readFrame(QStringView addressBits);
    // START, four bytes, [pause], paced STOP: 226 line writes, 5 reads.
    void writeLongFrame(QStringView byte1, QStringView byte2, QStringView byte3, QStringView byte4,
                        ExtraPause extraPause);
    // Paced START, two bytes each followed by a released acknowledge slot, paced STOP, with a
    // pause after every second line write: 118 writes, 3 reads, 59 pauses. lineBits stay as they
    // were.
    void writePacedFrame(QStringView byte1, QStringView byte2);

    const FrameResult &lastFrame() const { return m_frame; }
    // Whether a chip pulled SDA low in the address acknowledge of the last frame.
    bool addressAcknowledged() const { return m_frame.addressAcknowledged(); }

    // Releases both lines and reads SDA once, at once (on lines that send whole frames, in a
    // transfer of its own); a held bus is cleared. Whether the bus is free: 2 writes and 1 read
    // on a free bus.
    bool checkBus();
    bool sendsWholeFrames() const { return m_lines.sendsWholeFrames(); }
    // Bus clears run so far (each on a bus found held).
    quint64 busClearCount() const { return m_busClears; }

    // The wiring check: with SCL released, SDA is pulled low and released `rounds` times and
    // DSR read after each change (2 * rounds + 2 writes, 2 * rounds reads). SDA moving while SCL
    // is high is a START and then a STOP, which every chip ignores. Gives the readings in
    // order: low, released, low, released, ...
    QList<bool> echoSda(int rounds);

    // Positions 1..32 hold the bytes of the last frame; 0 and 33..50 are unused.
    // Positions 1..16 hold the bits of the last read, 1 where SDA was high.
    const std::array<int, readBackBitCount> &readBackBits() const { return m_readBackBits; }

    quint64 pauseCount() const { return m_pauseCount; }

private:
    static int bitOfText(QStringView text, int k);
    void decodeByte(QStringView text, int firstPosition);

    // Reads DSR into `into` now, or when the frame ends on lines that send whole frames.
    void sampleDsr(bool &into);
    void beginFrame();
    // Every frame ends here: the deferred samples are resolved, then turned into results.
    void endFrame();

    // The bus clear of a bus whose SDA reads low: SCL pulses with SDA released, each followed by
    // a reading with SCL high, until a chip lets go (at most nine: a chip stuck inside a byte
    // finishes it and meets a NACK by then); then a START and a STOP, after which every chip
    // waits for a new START. Whether SDA reads released at the end.
    bool clearBus();

    // The reading before a START, with both lines released; a held bus is cleared. False when it
    // stays held: then nothing more of the frame goes out.
    bool busFreeForStart();
    bool startCondition();
    void sendBitCell(int bit);
    // The ninth clock of a byte the PC wrote, sampled with SCL high.
    void ackSlot();
    void readBitCell(int position);
    void masterAck();
    void nackAndStop();
    void stopCondition();

    void sendByte(int firstPosition);

    bool pacedStart();
    void pacedBit(int bit, bool *sample = nullptr);
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
    quint64 m_busClears = 0;
    FrameResult m_frame;
    // DSR as read, true where asserted (SDA low); turned into the results at the frame's end.
    bool m_busFreeDsr = false;
    std::array<bool, FrameResult::maxBytes> m_ackDsr{};
    int m_bytesWritten = 0;
    bool m_frameSent = false;
    std::array<bool, readBackBitCount> m_readDsr{};
    std::vector<bool *> m_pendingSamples;
};

} // namespace bus
