#include "control/chipoperations.h"

#include "bus/chipbus.h"
#include "device/bitstrings.h"
#include "port/portmanager.h"

namespace control {

using device::channelCount;

ChipOperations::ChipOperations(bus::ChipBus &chip, port::PortManager &ports, QObject *parent)
    : QObject(parent), m_chip(chip), m_ports(ports)
{
    connect(&m_ports, &port::PortManager::portFailed, this, [this](int, const QString &reason) {
        if (m_portFailure.isEmpty())
            m_portFailure = reason;
    });
}

void ChipOperations::begin()
{
    m_portFailure.clear();
}

OperationResult ChipOperations::finish() const
{
    return {m_portFailure};
}

ChannelReading ChipOperations::readChannel(const QString &a0Pin, int index)
{
    begin();
    m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)), a0Pin);
    ChannelReading reading{finish()};
    reading.word = m_chip.registerWord();
    return reading;
}

void ChipOperations::readChannelsInto(const QString &a0Pin, ChipReading &reading, int total)
{
    for (int index = 1; index <= channelCount; ++index) {
        m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)), a0Pin);
        // A frame the failure cut is no reading, and the rest would read no chip.
        if (!m_portFailure.isEmpty())
            return;
        reading.words[std::size_t(index - 1)] = m_chip.registerWord();
        reading.registersRead = index;
        emit progressed(index, total);
    }
}

ChipReading ChipOperations::readChannels(const QString &a0Pin)
{
    begin();
    ChipReading reading;
    readChannelsInto(a0Pin, reading, channelCount);
    reading.portFailure = m_portFailure;
    return reading;
}

ChipReading ChipOperations::readAll(const QString &a0Pin)
{
    begin();
    ChipReading reading;
    const int total = channelCount + 1;
    readChannelsInto(a0Pin, reading, total);
    reading.maxBank = m_chip.readMaxBank(a0Pin);
    emit progressed(total, total);
    reading.portFailure = m_portFailure;
    return reading;
}

ChannelReading ChipOperations::readMaxBank(const QString &a0Pin)
{
    begin();
    const int word = m_chip.readMaxBank(a0Pin);
    ChannelReading reading{finish()};
    reading.word = word;
    return reading;
}

OperationResult ChipOperations::writeChannel(const QString &a0Pin, int index, double code)
{
    begin();
    const device::DataBits data = device::codeToDataBits(code);
    m_chip.writeDacRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                            device::decmal_to_binary8(device::registerOfChannel(index)));
    return finish();
}

OperationResult ChipOperations::loadCodes(const QString &a0Pin, const ChannelCodes &codes,
                                          const std::function<void(int)> &afterEach)
{
    QString failure;
    for (int index = 1; index <= channelCount; ++index) {
        const OperationResult written = writeChannel(a0Pin, index, codes[std::size_t(index - 1)]);
        if (failure.isEmpty())
            failure = written.portFailure;
        emit progressed(index, channelCount);
        if (afterEach)
            afterEach(index);
    }
    // Writes made by afterEach report on their own; this result is the load's.
    return {failure};
}

BurnResult ChipOperations::burn(const QString &a0Pin, const QList<int> &indices,
                                const ChannelCodes &codes)
{
    begin();
    BurnResult result;
    for (qsizetype k = 0; k < indices.size(); ++k) {
        const int index = indices[k];
        const device::DataBits data = device::codeToDataBits(codes[std::size_t(index - 1)]);
        m_chip.writeOtpRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                                device::decmal_to_binary8(device::registerOfChannel(index)));
        if (!m_portFailure.isEmpty()) {
            result.interruptedIndex = index;
            break;
        }
        result.writesCompleted = int(k + 1);
        if (indices.size() > 1)
            emit progressed(int(k + 1), int(indices.size()));
    }
    // With the port gone the rest would only pretend: nothing of it reaches the chip.
    if (m_portFailure.isEmpty()) {
        m_chip.generalCallReset();
        result.maxBank = m_chip.readMaxBank(a0Pin);
        readChannelsInto(a0Pin, result.readBack, channelCount);
    }
    result.portFailure = m_portFailure;
    result.readBack.portFailure = m_portFailure;
    return result;
}

BurnResult ChipOperations::burnChannel(const QString &a0Pin, int index, double code)
{
    ChannelCodes codes{};
    codes[std::size_t(index - 1)] = code;
    return burn(a0Pin, {index}, codes);
}

BurnResult ChipOperations::burnAll(const QString &a0Pin, const ChannelCodes &codes)
{
    QList<int> indices;
    for (int index = 1; index <= channelCount; ++index)
        indices.append(index);
    return burn(a0Pin, indices, codes);
}

OperationResult ChipOperations::reset()
{
    begin();
    m_chip.generalCallReset();
    return finish();
}

void ChipOperations::sendMarkerBlock()
{
    m_ports.setOutputBytes(1, 1);
    m_ports.sendOutputBytes(1);
}

} // namespace control
