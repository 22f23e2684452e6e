#pragma once

#include "bus/lineengine.h"

#include <QString>

namespace bus {

// The chip's registers as bus transactions. Its 7-bit address is "111010" followed by the A0
// bit; reads build the read address themselves, writes take the write address from the caller.
// Registers are read by a pointer write and then, after a STOP and a new START, a word read.
// Every transaction says whether a chip answered each of its frames: one that does not answer
// reads as 65535 and takes no write.
class ChipBus
{
public:
    static constexpr int maxBankRegister = 0x3F;

    // What the wiring check found: DSR follows RTS through SDA (fine), never moves (no DSR on
    // the adapter, or SDA not wired back), follows inverted, or moves without following.
    enum class Wiring { Fine, NoEcho, Inverted, Unsteady };

    explicit ChipBus(LineEngine &engine) : m_engine(engine) {}

    LineEngine &engine() { return m_engine; }

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
    // As the DAC write, with "010" in the command bits: burns the open OTP bank's cell.
    void writeOtpRegister(const QString &lowBits, const QString &highBits,
                          const QString &addressBits, const QString &registerBits);
    // General call 0x00, then 0x06, every bit paced; reaches every chip on the bus.
    void generalCallReset();

    // Whether a chip acknowledged the address of every frame of the last transaction (for the
    // general call: any chip).
    bool chipAnswered() const { return m_answered; }
    // START, the chip's address with the write bit, STOP: no register is touched.
    bool probe(const QString &a0Pin);
    // Drives SDA through RTS with SCL released and watches DSR.
    Wiring checkWiring();

private:
    static QString readAddressBits(const QString &a0Pin);
    static QString writeAddressBits(const QString &a0Pin);

    LineEngine &m_engine;
    int m_registerWord = 0;
    bool m_answered = false;
};

} // namespace bus
