// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"

namespace bus {

QString ChipBus::readAddressBits(const QString &a0Pin)
{
    return QStringLiteral("111010") + a0Pin + QLatin1Char('1');
}

QString ChipBus::writeAddressBits(const QString &a0Pin)
{
    return QStringLiteral("111010") + a0Pin + QLatin1Char('0');
}

ChipBus::Outcome ChipBus::writeOutcome()
{
    const FrameResult &frame = m_engine.lastFrame();
    m_frameSent = frame.sent;
    if (frame.busHeld)
        return Outcome::BusHeld;
    return frame.everyByteAcknowledged() ? Outcome::Answered : Outcome::Unanswered;
}

void ChipBus::readPointed(const QString &pointerBits, const QString &a0Pin)
{
    m_engine.writeShortFrame(writeAddressBits(a0Pin), pointerBits);
    const Outcome pointer = writeOutcome();
    if (pointer == Outcome::BusHeld) {
        // The pointer did not move: a word read now would read some other register.
        m_registerWord = silentWord;
        m_outcome = pointer;
        return;
    }
    readRegisterWord(a0Pin);
    if (m_outcome == Outcome::Answered)
        m_outcome = pointer;
}

void ChipBus::readDacRegister(const QString &registerBits, const QString &a0Pin)
{
    readPointed(QStringLiteral("000") + registerBits, a0Pin);
}

void ChipBus::readExtRegister(const QString &registerBits, const QString &a0Pin)
{
    readPointed(QStringLiteral("00") + registerBits, a0Pin);
}

void ChipBus::readRegisterWord(const QString &a0Pin)
{
    m_engine.readFrame(readAddressBits(a0Pin));
    const FrameResult &frame = m_engine.lastFrame();
    m_frameSent = frame.sent;
    m_outcome = frame.busHeld                 ? Outcome::BusHeld
                : frame.addressAcknowledged() ? Outcome::Answered
                                              : Outcome::Unanswered;
    const auto &bits = m_engine.readBackBits();
    int word = 0;
    for (int k = 1; k <= 16; ++k)
        word = (word << 1) | bits[k];
    m_registerWord = frame.busHeld ? silentWord : word;
}

int ChipBus::readMaxBank(const QString &a0Pin)
{
    readExtRegister(QStringLiteral("111111"), a0Pin);
    return m_registerWord;
}

void ChipBus::writeDacRegister(const QString &lowBits, const QString &highBits,
                               const QString &addressBits, const QString &registerBits)
{
    m_engine.writeLongFrame(addressBits, registerBits, QStringLiteral("100") + highBits.right(5),
                            lowBits, ExtraPause::Yes);
    m_outcome = writeOutcome();
}

void ChipBus::writeOtpRegister(const QString &lowBits, const QString &highBits,
                               const QString &addressBits, const QString &registerBits)
{
    if (!prepareOperation()) {
        m_outcome = Outcome::BusHeld;
        m_frameSent = false;
        return;
    }
    m_engine.writeLongFrame(addressBits, registerBits, QStringLiteral("010") + highBits.right(5),
                            lowBits, ExtraPause::No);
    m_outcome = writeOutcome();
}

void ChipBus::generalCallReset()
{
    // Address 0x00 with the write bit, then 0x06: the reset command of the general call.
    m_engine.writePacedFrame(u"00000000", u"00000110");
    m_outcome = writeOutcome();
}

bool ChipBus::probe(const QString &a0Pin)
{
    m_engine.addressFrame(writeAddressBits(a0Pin));
    m_outcome = writeOutcome();
    return m_outcome == Outcome::Answered;
}

bool ChipBus::prepareOperation()
{
    return !m_engine.sendsWholeFrames() || m_engine.checkBus();
}

bool ChipBus::checkBus()
{
    return m_engine.checkBus();
}

ChipBus::Wiring ChipBus::checkWiring()
{
    // A chip stuck inside a transfer would hold SDA low through the whole check.
    m_engine.checkBus();
    // Three rounds: one stray reading cannot pass for a pattern.
    const QList<bool> readings = m_engine.echoSda(3);
    int following = 0;
    int inverted = 0;
    for (qsizetype k = 0; k < readings.size(); ++k) {
        const bool sdaPulledLow = k % 2 == 0;
        // DSR is asserted while SDA is low.
        if (readings[k] == sdaPulledLow)
            ++following;
        else
            ++inverted;
    }
    if (following == readings.size())
        return Wiring::Fine;
    if (inverted == readings.size())
        return Wiring::Inverted;
    if (!readings.contains(!readings.first()))
        return readings.first() ? Wiring::StuckLow : Wiring::NoEcho;
    return Wiring::Unsteady;
}

} // namespace bus
