// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QtGlobal>
#include <array>
#include <optional>

namespace sim {

// Something the chip did in answer to bus traffic, in the order it happened.
struct ChipEvent
{
    enum class Kind {
        PointerWrite, // reg: the new pointer
        RegisterRead, // reg: the pointer, value: the word sent (latched when the read is addressed)
        DacWrite,     // reg, value: the code loaded
        OtpWrite,     // reg, value: the code burned into the open bank
        Reset         // value: the max bank after the reset
    };

    Kind kind = Kind::PointerWrite;
    int reg = 0;
    quint16 value = 0;

    friend bool operator==(const ChipEvent &, const ChipEvent &) = default;
};

// One KALVENTA on a line-level I2C bus. It hears only the bus levels, handed over by the board
// after every change, and answers by pulling SDA low or releasing it; it never sees what the
// master meant to send.
//
// Write frame:  address, pointer byte [, data word high byte, data word low byte]. The pointer
//               byte is acted on as soon as it is acknowledged, so every write moves the pointer.
//               Bytes after the data word are acknowledged and ignored.
// Read frame:   the word of the pointed register, high byte first; while the master keeps
//               acknowledging the word is sent again (re-read each time).
// General call: address 0x00 (write), then 0x06 resets; other commands are acknowledged and
//               ignored.
class SimulatedChip
{
public:
    static constexpr int baseAddress = 0x74; // 7-bit, OR'ed with A0
    static constexpr int generalCallAddress = 0x00;
    static constexpr quint8 generalCallReset = 0x06;
    static constexpr int channelRegisterCount = 24; // registers 0x00-0x17
    static constexpr int maxBankRegister = 0x3F;
    static constexpr int otpBankCount = 3;
    static constexpr quint16 codeMask = 0x03FF;

    explicit SimulatedChip(int a0);

    int a0() const { return m_a0; }
    int address() const { return baseAddress | m_a0; }

    // The bus levels after a change (true = high). Either SCL or SDA has changed since the
    // previous call; the chip may change its SDA drive in answer, but only when SCL falls.
    void observe(bool scl, bool sda);
    bool isDrivingSdaLow() const { return m_drivingSdaLow; }

    // Taken off the bus: releases SDA and abandons any transfer. Registers and OTP are kept.
    void leaveBus();
    // Put on a bus that stands at these levels; waits for the next START.
    void joinBus(bool scl, bool sda);

    // Registers 0x00-0x17 only.
    quint16 dacRegister(int reg) const;
    void setDacRegister(int reg, quint16 code);
    quint8 pointer() const { return m_pointer; }
    // The number of closed OTP banks, 0 to 3.
    int maxBank() const { return m_closedBanks; }
    // The code burned into one cell, bank 0 to 2; empty if never burned.
    std::optional<quint16> otpCell(int bank, int reg) const;

    // Faults, for tests and for trying the program: a cell that ignores every burn (in every
    // bank), a bank that a reset does not close (the burned codes never load), and a chip that
    // was cut off in the middle of a read (a master gone mid-transfer) and drives a 0 bit of the
    // pointed register's word with SCL high: it holds SDA low until it is clocked out or sees a
    // START or STOP.
    void setDeadOtpCell(int reg, bool dead);
    void setBankStaysOpen(bool staysOpen) { m_bankStaysOpen = staysOpen; }
    void freezeMidRead();

    // The most recent events, oldest first. The log is bounded (it drops its older half when full)
    // so that a simulated session left running does not grow without end.
    static constexpr qsizetype eventLogLimit = 1 << 16;
    const QList<ChipEvent> &events() const { return m_events; }
    void clearEvents() { m_events.clear(); }

private:
    // Where the chip stands within a frame; each phase names what the next SCL edge means.
    enum class Phase {
        Idle,             // not addressed: waits for a START
        Receiving,        // shifting in a byte on rising edges
        AckPending,       // 8 bits in and accepted: the falling edge starts the acknowledge
        Acknowledging,    // holding SDA low for the 9th clock
        Transmitting,     // driving read data; bits change on falling edges
        AwaitingMasterAck // SDA released for the master's 9th-clock ACK/NACK
    };
    enum class Frame { Address, Write, Read, GeneralCall };
    // Top three bits of a written data word.
    enum class Command : quint16 { LoadDac = 0b100, BurnOtp = 0b010 };

    void busStarted();
    void clockRose(bool sda);
    void clockFell();
    bool acceptsAddressByte() const;
    void byteAcknowledged();
    void dataByteReceived(quint8 byte);
    void latchReadWord();
    void driveNextReadBit();
    void driveSda(bool low);

    quint16 readRegister(int reg) const;
    void applyDataWord(int reg, quint16 word);
    void resetFromOtp();
    void log(ChipEvent::Kind kind, int reg, quint16 value);

    int m_a0 = 0;

    bool m_scl = true;
    bool m_sda = true;
    bool m_drivingSdaLow = false;
    Phase m_phase = Phase::Idle;
    Frame m_frame = Frame::Address;
    int m_bitCount = 0; // bits clocked in (or out) of the current byte
    quint8 m_shift = 0;
    int m_dataBytes = 0; // data bytes acknowledged in this write frame
    quint8 m_wordHigh = 0;
    quint16 m_readWord = 0;
    bool m_sendingLowByte = false;

    std::array<quint16, channelRegisterCount> m_dac{};
    quint8 m_pointer = 0;
    std::array<std::array<std::optional<quint16>, channelRegisterCount>, otpBankCount> m_otp{};
    int m_closedBanks = 0;
    bool m_openBankBurned = false;
    std::array<bool, channelRegisterCount> m_deadCells{};
    bool m_bankStaysOpen = false;

    QList<ChipEvent> m_events;
};

} // namespace sim
