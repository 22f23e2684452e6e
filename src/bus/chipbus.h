// SPDX-License-Identifier: MIT
#pragma once

#include "bus/lineengine.h"

#include <QString>

namespace bus {

// The chip's registers as bus transactions. Its 7-bit address is "111010" followed by the A0
// bit; reads build the read address themselves, writes take the write address from the caller.
// Registers are read by a pointer write and then, after a STOP and a new START, a word read.
// Every transaction says how the bus answered it: a chip that does not acknowledge every byte
// written to it took no write (and one that does not answer reads as 65535), and a bus whose SDA
// stays low sends nothing at all.
class ChipBus
{
public:
    static constexpr int maxBankRegister = 0x3F;
    // What a register reads when nothing answers: every bit released.
    static constexpr int silentWord = 0xFFFF;

    // What the wiring check found: DSR follows RTS through SDA (fine), never moves and reads SDA
    // low (stuck low: SDA held or shorted, or DSR stuck), never moves and reads SDA high (no DSR
    // on the adapter, or SDA not wired back), follows inverted, or moves without following.
    enum class Wiring { Fine, StuckLow, NoEcho, Inverted, Unsteady };

    // How the last transaction went on the bus.
    enum class Outcome {
        Answered,   // every frame's bytes acknowledged (the general call's by any chip)
        Unanswered, // an address or a written byte was not acknowledged
        BusHeld     // SDA stayed low through a bus clear: the transaction stopped there
    };

    explicit ChipBus(LineEngine &engine) : m_engine(engine) {}

    // Pointer write with "000" + the five-character register text, then a word read.
    void readDacRegister(const QString &registerBits, const QString &a0Pin);
    // Pointer write with "00" + the six-character register text, then a word read.
    void readExtRegister(const QString &registerBits, const QString &a0Pin);
    void readRegisterWord(const QString &a0Pin);
    // The word of the last read, high byte first on the wire.
    int registerWord() const { return m_registerWord; }
    // Reads register 0x3F and gives its word.
    int readMaxBank(const QString &a0Pin);

    // Four bytes: address, register, "100" + the last five characters of highBits, lowBits.
    void writeDacRegister(const QString &lowBits, const QString &highBits,
                          const QString &addressBits, const QString &registerBits);
    // As the DAC write, with "010" in the command bits: burns the open OTP bank's cell. On lines
    // that send whole frames the bus is checked in a transfer of its own first, so that no burn
    // goes out on a held bus.
    void writeOtpRegister(const QString &lowBits, const QString &highBits,
                          const QString &addressBits, const QString &registerBits);
    // General call 0x00, then 0x06, every bit paced; reaches every chip on the bus.
    void generalCallReset();

    Outcome outcome() const { return m_outcome; }
    // Whether a chip acknowledged every byte of every frame of the last transaction (for the
    // general call: any chip).
    bool chipAnswered() const { return m_outcome == Outcome::Answered; }
    bool busHeld() const { return m_outcome == Outcome::BusHeld; }
    // Whether the last frame went out at all: a held bus keeps it back, except on lines that send
    // whole frames, where it goes out and counts for nothing.
    bool frameSent() const { return m_frameSent; }
    // START, the chip's address with the write bit, STOP: no register is touched.
    bool probe(const QString &a0Pin);
    // Before the first frame of an operation: on lines that send whole frames a frame cannot be
    // held back by its own START's reading, so the bus is checked (and cleared) in a transfer of
    // its own. Elsewhere every START checks it anyway, and nothing is sent here. Whether the bus
    // is free.
    bool prepareOperation();
    // Releases both lines, reads SDA and clears a held bus, on every kind of line.
    bool checkBus();
    // Drives SDA through RTS with SCL released and watches DSR; a held bus is cleared first.
    Wiring checkWiring();

private:
    static QString readAddressBits(const QString &a0Pin);
    static QString writeAddressBits(const QString &a0Pin);
    void readPointed(const QString &pointerBits, const QString &a0Pin);
    // The outcome of the frame just sent, for a write (every byte acknowledged); notes whether it
    // went out.
    Outcome writeOutcome();

    LineEngine &m_engine;
    int m_registerWord = 0;
    Outcome m_outcome = Outcome::Unanswered;
    bool m_frameSent = false;
};

} // namespace bus
