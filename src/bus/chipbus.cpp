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

void ChipBus::readDacRegister(const QString &registerBits, const QString &a0Pin)
{
    m_engine.writeShortFrame(writeAddressBits(a0Pin), QStringLiteral("000") + registerBits);
    const bool pointerTaken = m_engine.addressAcknowledged();
    readRegisterWord(a0Pin);
    m_answered = m_answered && pointerTaken;
}

void ChipBus::readExtRegister(const QString &registerBits, const QString &a0Pin)
{
    m_engine.writeShortFrame(writeAddressBits(a0Pin), QStringLiteral("00") + registerBits);
    const bool pointerTaken = m_engine.addressAcknowledged();
    readRegisterWord(a0Pin);
    m_answered = m_answered && pointerTaken;
}

void ChipBus::readRegisterWord(const QString &a0Pin)
{
    m_engine.readFrame(readAddressBits(a0Pin));
    m_answered = m_engine.addressAcknowledged();
    const auto &bits = m_engine.readBackBits();
    int word = 0;
    for (int k = 1; k <= 16; ++k)
        word = (word << 1) | bits[k];
    m_registerWord = word;
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
    m_answered = m_engine.addressAcknowledged();
}

void ChipBus::writeOtpRegister(const QString &lowBits, const QString &highBits,
                               const QString &addressBits, const QString &registerBits)
{
    m_engine.writeLongFrame(addressBits, registerBits, QStringLiteral("010") + highBits.right(5),
                            lowBits, ExtraPause::No);
    m_answered = m_engine.addressAcknowledged();
}

void ChipBus::generalCallReset()
{
    // Address 0x00 with the write bit, then 0x06: the reset command of the general call.
    m_engine.writePacedFrame(u"00000000", u"00000110");
    m_answered = m_engine.addressAcknowledged();
}

bool ChipBus::probe(const QString &a0Pin)
{
    m_engine.addressFrame(writeAddressBits(a0Pin));
    m_answered = m_engine.addressAcknowledged();
    return m_answered;
}

ChipBus::Wiring ChipBus::checkWiring()
{
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
        return Wiring::NoEcho;
    return Wiring::Unsteady;
}

} // namespace bus
