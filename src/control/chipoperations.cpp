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
        reading.words[std::size_t(index - 1)] = m_chip.registerWord();
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

void ChipOperations::writeOtp(const QString &a0Pin, int index, double code)
{
    const device::DataBits data = device::codeToDataBits(code);
    m_chip.writeOtpRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                            device::decmal_to_binary8(device::registerOfChannel(index)));
}

BurnResult ChipOperations::closeBurn(const QString &a0Pin)
{
    m_chip.generalCallReset();
    BurnResult result;
    result.maxBank = m_chip.readMaxBank(a0Pin);
    readChannelsInto(a0Pin, result.readBack, channelCount);
    result.portFailure = m_portFailure;
    result.readBack.portFailure = m_portFailure;
    return result;
}

BurnResult ChipOperations::burnChannel(const QString &a0Pin, int index, double code)
{
    begin();
    writeOtp(a0Pin, index, code);
    return closeBurn(a0Pin);
}

BurnResult ChipOperations::burnAll(const QString &a0Pin, const ChannelCodes &codes)
{
    begin();
    for (int index = 1; index <= channelCount; ++index) {
        writeOtp(a0Pin, index, codes[std::size_t(index - 1)]);
        emit progressed(index, channelCount);
    }
    return closeBurn(a0Pin);
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
