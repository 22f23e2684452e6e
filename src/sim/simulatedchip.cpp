// SPDX-License-Identifier: MIT
#include "sim/simulatedchip.h"

namespace sim {

SimulatedChip::SimulatedChip(int a0) : m_a0(a0 & 1) {}

void SimulatedChip::observe(bool scl, bool sda)
{
    const bool sclWasHigh = m_scl;
    const bool sdaWasHigh = m_sda;
    m_scl = scl;
    m_sda = sda;

    if (scl && sclWasHigh) {
        // SDA moved while SCL stayed high: a bus condition, never data.
        if (sdaWasHigh && !sda)
            busStarted();
        else if (!sdaWasHigh && sda)
            m_phase = Phase::Idle; // STOP; a frame cut short here is simply abandoned
        return;
    }
    if (scl && !sclWasHigh)
        clockRose(sda);
    else if (!scl && sclWasHigh)
        clockFell();
}

void SimulatedChip::leaveBus()
{
    m_drivingSdaLow = false;
    m_phase = Phase::Idle;
}

void SimulatedChip::joinBus(bool scl, bool sda)
{
    m_scl = scl;
    m_sda = sda;
    m_drivingSdaLow = false;
    m_phase = Phase::Idle;
}

quint16 SimulatedChip::dacRegister(int reg) const
{
    Q_ASSERT(reg >= 0 && reg < channelRegisterCount);
    return reg >= 0 && reg < channelRegisterCount ? m_dac[reg] : 0;
}

void SimulatedChip::setDacRegister(int reg, quint16 code)
{
    Q_ASSERT(reg >= 0 && reg < channelRegisterCount);
    if (reg >= 0 && reg < channelRegisterCount)
        m_dac[reg] = code & codeMask;
}

std::optional<quint16> SimulatedChip::otpCell(int bank, int reg) const
{
    if (bank < 0 || bank >= otpBankCount || reg < 0 || reg >= channelRegisterCount)
        return std::nullopt;
    return m_otp[bank][reg];
}

void SimulatedChip::setDeadOtpCell(int reg, bool dead)
{
    if (reg >= 0 && reg < channelRegisterCount)
        m_deadCells[std::size_t(reg)] = dead;
}

void SimulatedChip::freezeMidRead()
{
    m_frame = Frame::Read;
    m_phase = Phase::Transmitting;
    m_sendingLowByte = false;
    m_readWord = readRegister(m_pointer);
    // The high byte of a 10-bit code starts with six 0 bits; the chip stopped on the first 0 it
    // drives, just after the master's rising edge (so that bit counts as sent).
    int bit = 0;
    while (bit < 7 && ((m_readWord >> (15 - bit)) & 1))
        ++bit;
    m_bitCount = bit + 1;
    m_drivingSdaLow = !((m_readWord >> (15 - bit)) & 1);
    // It has been driving all along: the level it sees is its own.
    m_scl = true;
    m_sda = !m_drivingSdaLow;
}

/* START or repeated START: whatever was going on is over, an address byte follows. */
void SimulatedChip::busStarted()
{
    /* assert: not driving SDA, or SDA could not have fallen */
    m_phase = Phase::Receiving;
    m_frame = Frame::Address;
    m_bitCount = 0;
    m_shift = 0;
}

void SimulatedChip::clockRose(bool sda)
{
    switch (m_phase) {
    case Phase::Idle:
    case Phase::AckPending:
        return;
    case Phase::Receiving:
        m_shift = quint8((m_shift << 1) | (sda ? 1 : 0));
        if (++m_bitCount < 8)
            return;
        // Decide now; the acknowledge itself starts when SCL falls.
        m_phase =
            m_frame != Frame::Address || acceptsAddressByte() ? Phase::AckPending : Phase::Idle;
        return;
    case Phase::Acknowledging:
        // The 9th clock: the master has seen the acknowledge, so the byte counts from here.
        byteAcknowledged();
        return;
    case Phase::Transmitting:
        ++m_bitCount; // the master samples the bit held since the falling edge
        return;
    case Phase::AwaitingMasterAck:
        if (sda) {
            // NACK: the master wants no more; SDA is already released.
            m_phase = Phase::Idle;
            return;
        }
        m_sendingLowByte = !m_sendingLowByte;
        if (!m_sendingLowByte)
            latchReadWord();
        m_bitCount = 0;
        m_phase = Phase::Transmitting;
        return;
    }
}

void SimulatedChip::clockFell()
{
    /* assert: scl is low from here on, so the chip may change its SDA drive */
    switch (m_phase) {
    case Phase::Idle:
    case Phase::Receiving:
    case Phase::AwaitingMasterAck:
        return;
    case Phase::AckPending:
        driveSda(true);
        m_phase = Phase::Acknowledging;
        return;
    case Phase::Acknowledging:
        driveSda(false);
        m_bitCount = 0;
        if (m_frame == Frame::Read) {
            // The first data bit goes out on the very edge that ends the address acknowledge.
            m_phase = Phase::Transmitting;
            driveNextReadBit();
        } else {
            m_phase = Phase::Receiving;
            m_shift = 0;
        }
        return;
    case Phase::Transmitting:
        if (m_bitCount < 8) {
            driveNextReadBit();
        } else {
            driveSda(false); // the 9th clock belongs to the master
            m_phase = Phase::AwaitingMasterAck;
        }
        return;
    }
}

bool SimulatedChip::acceptsAddressByte() const
{
    const int address7 = m_shift >> 1;
    const bool read = m_shift & 1;
    return address7 == address() || (address7 == generalCallAddress && !read);
}

void SimulatedChip::byteAcknowledged()
{
    switch (m_frame) {
    case Frame::Address:
        m_dataBytes = 0;
        if (m_shift & 1) {
            m_frame = Frame::Read;
            m_sendingLowByte = false;
            latchReadWord();
        } else {
            m_frame = (m_shift >> 1) == generalCallAddress ? Frame::GeneralCall : Frame::Write;
        }
        return;
    case Frame::Write:
        dataByteReceived(m_shift);
        return;
    case Frame::GeneralCall:
        // Only the first byte after the general-call address is a command.
        if (m_dataBytes++ == 0 && m_shift == generalCallReset)
            resetFromOtp();
        return;
    case Frame::Read:
        return;
    }
}

void SimulatedChip::dataByteReceived(quint8 byte)
{
    switch (m_dataBytes) {
    case 0:
        m_pointer = byte;
        log(ChipEvent::Kind::PointerWrite, byte, 0);
        break;
    case 1:
        m_wordHigh = byte;
        break;
    case 2:
        applyDataWord(m_pointer, quint16((m_wordHigh << 8) | byte));
        break;
    default:
        return; // trailing bytes: acknowledged, ignored
    }
    ++m_dataBytes;
}

void SimulatedChip::latchReadWord()
{
    m_readWord = readRegister(m_pointer);
    log(ChipEvent::Kind::RegisterRead, m_pointer, m_readWord);
}

void SimulatedChip::driveNextReadBit()
{
    const quint8 byte = m_sendingLowByte ? quint8(m_readWord) : quint8(m_readWord >> 8);
    const bool bit = (byte >> (7 - m_bitCount)) & 1;
    driveSda(!bit);
}

void SimulatedChip::driveSda(bool low)
{
    Q_ASSERT(!m_scl);
    m_drivingSdaLow = low;
}

quint16 SimulatedChip::readRegister(int reg) const
{
    if (reg < channelRegisterCount)
        return m_dac[reg];
    if (reg == maxBankRegister)
        return quint16(m_closedBanks);
    return 0;
}

void SimulatedChip::applyDataWord(int reg, quint16 word)
{
    if (reg >= channelRegisterCount)
        return;
    const quint16 code = word & codeMask;
    switch (Command(word >> 13)) {
    case Command::LoadDac:
        m_dac[reg] = code;
        log(ChipEvent::Kind::DacWrite, reg, code);
        return;
    case Command::BurnOtp:
        if (m_closedBanks == otpBankCount)
            return; // every bank closed: nothing left to burn
        m_openBankBurned = true;
        if (m_deadCells[std::size_t(reg)])
            return; // acknowledged, but the cell does not program
        // The open bank is not yet closed, so burning a cell twice keeps the later code.
        m_otp[m_closedBanks][reg] = code;
        log(ChipEvent::Kind::OtpWrite, reg, code);
        return;
    }
    // Any other command bits: the word is acknowledged and ignored.
}

/* General-call reset: close the open bank if anything went into it, then reload every DAC
 * register from the newest closed bank that burned it. */
void SimulatedChip::resetFromOtp()
{
    if (m_openBankBurned && !m_bankStaysOpen) {
        ++m_closedBanks;
        m_openBankBurned = false;
    }
    for (int reg = 0; reg < channelRegisterCount; ++reg) {
        m_dac[reg] = 0;
        for (int bank = m_closedBanks - 1; bank >= 0; --bank) {
            if (m_otp[bank][reg]) {
                m_dac[reg] = *m_otp[bank][reg];
                break;
            }
        }
    }
    log(ChipEvent::Kind::Reset, 0, quint16(m_closedBanks));
}

void SimulatedChip::log(ChipEvent::Kind kind, int reg, quint16 value)
{
    if (m_events.size() >= eventLogLimit)
        m_events.remove(0, eventLogLimit / 2);
    m_events.append({kind, reg, value});
}

} // namespace sim
