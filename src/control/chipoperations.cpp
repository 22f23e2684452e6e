#include "control/chipoperations.h"

#include "bus/chipbus.h"
#include "control/busthread.h"
#include "device/bitstrings.h"
#include "port/portmanager.h"

namespace control {

using device::channelCount;

ChipOperations::ChipOperations(bus::ChipBus &chip, port::PortManager &ports, BusThread *busThread,
                               QObject *parent)
    : QObject(parent), m_chip(chip), m_ports(ports), m_busThread(busThread)
{
    // Direct: the failure is heard on the bus thread, in the middle of the transaction it cuts.
    connect(
        &m_ports, &port::PortManager::portFailed, this,
        [this](int, const QString &reason) {
            if (m_portFailure.isEmpty())
                m_portFailure = reason;
        },
        Qt::DirectConnection);
}

template<typename Work> auto ChipOperations::onBus(Work work, Heard heard)
{
    auto result = m_busThread ? m_busThread->run(work) : work();
    // A closed or failed port says so itself; silence is news only on a port that works.
    if (heard == Heard::Report && m_portFailure.isEmpty() && portOpen())
        emit chipHeard(m_allAnswered);
    return result;
}

bool ChipOperations::transactionUnderWay() const
{
    return m_busThread && m_busThread->inFlight();
}

bool ChipOperations::portOpen() const
{
    return m_ports.comPort().isOpen();
}

bool ChipOperations::stopRequested() const
{
    return m_busThread && m_busThread->cancelRequested();
}

void ChipOperations::begin()
{
    m_portFailure.clear();
    m_allAnswered = true;
}

bool ChipOperations::heard()
{
    const bool answered = m_chip.chipAnswered();
    m_allAnswered = m_allAnswered && answered;
    return answered;
}

OperationResult ChipOperations::finish() const
{
    OperationResult result;
    result.portFailure = m_portFailure;
    result.chipAnswered = m_allAnswered;
    return result;
}

ChannelReading ChipOperations::readChannel(const QString &a0Pin, int index)
{
    return onBus([&] {
        begin();
        m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)), a0Pin);
        heard();
        ChannelReading reading{finish()};
        reading.word = m_chip.registerWord();
        return reading;
    });
}

// Runs on the bus thread. A cancel stops it between two frames, never inside one.
void ChipOperations::readChannelsInto(const QString &a0Pin, ChipReading &reading, int total,
                                      const QString &what)
{
    for (int index = 1; index <= channelCount; ++index) {
        if (stopRequested()) {
            reading.cancelled = true;
            return;
        }
        m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)), a0Pin);
        // A frame the failure cut is no reading, and the rest would read no chip.
        if (!m_portFailure.isEmpty())
            return;
        reading.words[std::size_t(index - 1)] = m_chip.registerWord();
        reading.answered[std::size_t(index - 1)] = heard();
        reading.registersRead = index;
        emit progressed(index, total, what);
    }
}

ChipReading ChipOperations::readChannels(const QString &a0Pin)
{
    return onBus([&] {
        begin();
        ChipReading reading;
        readChannelsInto(a0Pin, reading, channelCount, tr("registers read"));
        reading.portFailure = m_portFailure;
        reading.chipAnswered = m_allAnswered;
        return reading;
    });
}

ChipReading ChipOperations::readAll(const QString &a0Pin)
{
    return onBus([&] {
        begin();
        ChipReading reading;
        const int total = channelCount + 1;
        const QString what = tr("registers read");
        readChannelsInto(a0Pin, reading, total, what);
        if (!reading.cancelled) {
            reading.maxBank = m_chip.readMaxBank(a0Pin);
            reading.maxBankAnswered = heard();
            emit progressed(total, total, what);
        }
        reading.portFailure = m_portFailure;
        reading.chipAnswered = m_allAnswered;
        return reading;
    });
}

ChannelReading ChipOperations::readMaxBank(const QString &a0Pin)
{
    return onBus([&] {
        begin();
        const int word = m_chip.readMaxBank(a0Pin);
        heard();
        ChannelReading reading{finish()};
        reading.word = word;
        return reading;
    });
}

OperationResult ChipOperations::writeChannel(const QString &a0Pin, int index, double code)
{
    const OperationResult result = onBus([&] {
        begin();
        const device::DataBits data = device::codeToDataBits(code);
        m_chip.writeDacRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                                device::decmal_to_binary8(device::registerOfChannel(index)));
        heard();
        return finish();
    });
    emit channelWritten(index);
    return result;
}

OperationResult ChipOperations::loadCodes(const QString &a0Pin, const ChannelCodes &codes,
                                          const std::function<void(int, bool)> &afterEach)
{
    OperationResult result;
    for (int index = 1; index <= channelCount; ++index) {
        if (stopRequested()) {
            result.cancelled = true;
            break;
        }
        const OperationResult written = writeChannel(a0Pin, index, codes[std::size_t(index - 1)]);
        if (result.portFailure.isEmpty())
            result.portFailure = written.portFailure;
        result.chipAnswered = result.chipAnswered && written.chipAnswered;
        emit progressed(index, channelCount, tr("channels written"));
        if (afterEach)
            afterEach(index, written.chipAnswered);
    }
    // Writes made by afterEach report on their own; this result is the load's.
    return result;
}

// Never cancelled: a burn stopped half-way would leave a bank part burned and still open.
BurnResult ChipOperations::burn(const QString &a0Pin, const QList<int> &indices,
                                const ChannelCodes &codes)
{
    return onBus([&] {
        begin();
        BurnResult result;
        for (qsizetype k = 0; k < indices.size(); ++k) {
            const int index = indices[k];
            const device::DataBits data = device::codeToDataBits(codes[std::size_t(index - 1)]);
            m_chip.writeOtpRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                                    device::decmal_to_binary8(device::registerOfChannel(index)));
            heard();
            if (!m_portFailure.isEmpty()) {
                result.interruptedIndex = index;
                break;
            }
            result.writesCompleted = int(k + 1);
            if (indices.size() > 1)
                emit progressed(int(k + 1), int(indices.size()), tr("channels burned"));
        }
        // With the port gone the rest would only pretend: nothing of it reaches the chip.
        if (m_portFailure.isEmpty()) {
            m_chip.generalCallReset();
            heard();
            result.maxBank = m_chip.readMaxBank(a0Pin);
            heard();
            readChannelsInto(a0Pin, result.readBack, channelCount, tr("registers read back"));
        }
        result.portFailure = m_portFailure;
        result.readBack.portFailure = m_portFailure;
        result.chipAnswered = m_allAnswered;
        result.readBack.chipAnswered = m_allAnswered;
        return result;
    });
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
    return onBus([&] {
        begin();
        m_chip.generalCallReset();
        heard();
        return finish();
    });
}

std::array<bool, 2> ChipOperations::findChips()
{
    return onBus(
        [&] {
            begin();
            std::array<bool, 2> found{m_chip.probe(QStringLiteral("0")), false};
            found[1] = m_chip.probe(QStringLiteral("1"));
            return found;
        },
        Heard::Keep);
}

QString ChipOperations::wiringText(bus::ChipBus::Wiring wiring)
{
    switch (wiring) {
    case bus::ChipBus::Wiring::Fine:
        return tr("Wiring fine: DSR follows RTS.");
    case bus::ChipBus::Wiring::NoEcho:
        return tr("DSR never changes: the adapter has no DSR, or SDA is not wired back to it. "
                  "Nothing can be read on this port.");
    case bus::ChipBus::Wiring::Inverted:
        return tr("DSR is inverted: a wiring or level problem between the adapter and the "
                  "board.");
    case bus::ChipBus::Wiring::Unsteady:
        break;
    }
    return tr("DSR changes but does not follow RTS: a loose contact or interference.");
}

bus::ChipBus::Wiring ChipOperations::checkWiring()
{
    return onBus(
        [&] {
            begin();
            return m_chip.checkWiring();
        },
        Heard::Keep);
}

void ChipOperations::sendMarkerBlock()
{
    m_ports.setOutputBytes(1, 1);
    m_ports.sendOutputBytes(1);
}

} // namespace control
