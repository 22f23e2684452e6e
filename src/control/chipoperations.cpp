// SPDX-License-Identifier: MIT
#include "control/chipoperations.h"

#include "bus/chipbus.h"
#include "control/burnreport.h"
#include "control/busthread.h"
#include "control/chiptexts.h"
#include "device/bitstrings.h"
#include "log/logging.h"
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
    if (heard == Heard::Report && m_portFailure.isEmpty() && portOpen()) {
        const Hearing hearing = m_busHeld       ? Hearing::SdaHeld
                                : m_allAnswered ? Hearing::Answered
                                                : Hearing::Silent;
        if (hearing != m_loggedHearing) {
            m_loggedHearing = hearing;
            switch (hearing) {
            case Hearing::Answered:
                qCInfo(lcControl) << "the chip answers";
                break;
            case Hearing::Silent:
                qCWarning(lcControl) << "a chip did not answer";
                break;
            case Hearing::SdaHeld:
                qCWarning(lcControl) << "SDA is held low: the operation reached no chip";
                break;
            }
        }
        emit chipHeard(hearing);
    } else if (!m_portFailure.isEmpty()) {
        qCWarning(lcControl).noquote()
            << QStringLiteral("the port failed during an operation: ") + m_portFailure;
        m_loggedHearing.reset();
    }
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
    return (m_busThread && m_busThread->cancelRequested()) || (m_stopCheck && m_stopCheck());
}

bool ChipOperations::begin(BusCheck check)
{
    m_portFailure.clear();
    m_allAnswered = true;
    m_busHeld = check == BusCheck::Yes && !m_chip.prepareOperation();
    if (m_busHeld)
        m_allAnswered = false;
    return !m_busHeld;
}

bool ChipOperations::notePortClosed()
{
    if (portOpen())
        return false;
    if (m_portFailure.isEmpty())
        m_portFailure = tr("no port is open");
    return true;
}

bool ChipOperations::heard()
{
    if (m_chip.busHeld())
        m_busHeld = true;
    const bool answered = m_chip.chipAnswered();
    m_allAnswered = m_allAnswered && answered;
    return answered;
}

template<typename Result> Result &ChipOperations::finishInto(Result &result) const
{
    result.portFailure = m_portFailure;
    result.busHeld = m_busHeld;
    result.chipAnswered = m_allAnswered;
    return result;
}

OperationResult ChipOperations::finish() const
{
    OperationResult result;
    return finishInto(result);
}

ChannelReading ChipOperations::readChannel(const QString &a0Pin, int index)
{
    return onBus([&] {
        ChannelReading reading;
        reading.word = bus::ChipBus::silentWord;
        if (begin()) {
            m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)),
                                   a0Pin);
            heard();
            reading.word = m_chip.registerWord();
        }
        return finishInto(reading);
    });
}

// Runs on the bus thread. A cancel stops it between two frames, never inside one.
void ChipOperations::readChannelsInto(const QString &a0Pin, ChipReading &reading, int total,
                                      const QString &what, Stop stop)
{
    for (int index = 1; index <= channelCount && !failed(); ++index) {
        if (stop == Stop::Allowed && stopRequested()) {
            reading.cancelled = true;
            return;
        }
        m_chip.readDacRegister(device::decmal_to_binary5(device::registerOfChannel(index)), a0Pin);
        const bool answered = heard();
        // A frame the failure cut is no reading, and the rest would read no chip.
        if (failed())
            return;
        reading.words[std::size_t(index - 1)] = m_chip.registerWord();
        reading.answered[std::size_t(index - 1)] = answered;
        reading.registersRead = index;
        emit progressed(index, total, what);
    }
}

ChipReading ChipOperations::readChannels(const QString &a0Pin)
{
    return onBus([&] {
        ChipReading reading;
        if (begin())
            readChannelsInto(a0Pin, reading, channelCount, tr("registers read"));
        return finishInto(reading);
    });
}

ChipReading ChipOperations::readAll(const QString &a0Pin)
{
    return onBus([&] {
        ChipReading reading;
        const int total = channelCount + 1;
        const QString what = tr("registers read");
        if (begin())
            readChannelsInto(a0Pin, reading, total, what);
        if (!reading.cancelled && !failed()) {
            reading.maxBank = m_chip.readMaxBank(a0Pin);
            reading.maxBankAnswered = heard();
            emit progressed(total, total, what);
        }
        return finishInto(reading);
    });
}

ChannelReading ChipOperations::readMaxBank(const QString &a0Pin)
{
    return onBus([&] {
        ChannelReading reading;
        reading.word = bus::ChipBus::silentWord;
        if (begin()) {
            reading.word = m_chip.readMaxBank(a0Pin);
            heard();
        }
        return finishInto(reading);
    });
}

OperationResult ChipOperations::writeChannel(const QString &a0Pin, int index, double code)
{
    return writeChannelChecked(a0Pin, index, code, BusCheck::Yes);
}

OperationResult ChipOperations::writeChannelChecked(const QString &a0Pin, int index, double code,
                                                    BusCheck check)
{
    const OperationResult result = onBus([&] {
        if (begin(check)) {
            const device::DataBits data = device::codeToDataBits(code);
            m_chip.writeDacRegister(data.low, data.high, device::chipAddressBits(a0Pin),
                                    device::decmal_to_binary8(device::registerOfChannel(index)));
            heard();
        }
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
        // One operation to the user: the bus is checked before its first frame.
        const OperationResult written = writeChannelChecked(
            a0Pin, index, codes[std::size_t(index - 1)], index == 1 ? BusCheck::Yes : BusCheck::No);
        if (result.portFailure.isEmpty())
            result.portFailure = written.portFailure;
        result.busHeld = result.busHeld || written.busHeld;
        result.chipAnswered = result.chipAnswered && written.chipAnswered;
        emit progressed(index, channelCount, tr("channels written"));
        if (afterEach)
            afterEach(index, written.chipAnswered);
    }
    // Writes made by afterEach report on their own; this result is the load's.
    return result;
}

QList<int> ChipOperations::allChannels()
{
    QList<int> indices;
    for (int index = 1; index <= channelCount; ++index)
        indices.append(index);
    return indices;
}

void ChipOperations::setBurnLog(std::optional<BurnLog> log, std::function<BurnSource()> source)
{
    m_burnLog = std::move(log);
    m_burnSource = std::move(source);
}

QString ChipOperations::burnLogProblem() const
{
    return m_burnLog ? m_burnLog->writeProblem() : QString();
}

BurnResult ChipOperations::burn(const QString &a0Pin, const QList<int> &channels,
                                const ChannelCodes &codes, const BurnConfirmation &confirm)
{
    BurnResult result = runBurn(a0Pin, channels, codes, confirm);
    logBurn(result);
    qCInfo(lcControl).noquote()
        << QStringLiteral("burn at A0 = %1: %2").arg(a0Pin, BurnReport(result).headline());
    return result;
}

// A refusal the chip gave (no bank left, no answer) is logged as well: it tells what the board
// held when it was tried.
void ChipOperations::logBurn(BurnResult &result) const
{
    using Refusal = BurnResult::Refusal;
    if (!m_burnLog || result.refusal == Refusal::NotConfirmed || result.refusal == Refusal::NoPort)
        return;
    const QJsonObject entry =
        BurnLog::entryOf(BurnReport(result), m_burnSource ? m_burnSource() : BurnSource{});
    result.logged = m_burnLog->append(entry, &result.logError);
}

BurnResult ChipOperations::runBurn(const QString &a0Pin, const QList<int> &channels,
                                   const ChannelCodes &codes, const BurnConfirmation &confirm)
{
    using Refusal = BurnResult::Refusal;
    BurnResult result;
    result.a0Pin = a0Pin;
    result.channels = channels;
    result.codes = codes;
    if (!portOpen()) {
        result.refusal = Refusal::NoPort;
        result.portFailure = tr("no port is open");
        result.chipAnswered = false;
        return result;
    }
    // With every bank closed the chip ignores burns; a bus that does not carry the max bank
    // would not carry the burn either.
    const ChannelReading before = readMaxBank(a0Pin);
    static_cast<OperationResult &>(result) = before;
    if (!before.portHeld())
        result.refusal = Refusal::PortFailed;
    else if (before.busHeld)
        result.refusal = Refusal::BusHeld;
    else if (!before.chipAnswered)
        result.refusal = Refusal::ChipSilent;
    else
        result.maxBankBefore = before.word;
    if (result.maxBankBefore && *result.maxBankBefore > otpBankCount)
        result.refusal = Refusal::MaxBankInvalid;
    else if (result.maxBankBefore && *result.maxBankBefore == otpBankCount)
        result.refusal = Refusal::NoBankLeft;
    if (result.refusal == Refusal::None && confirm && !confirm(result))
        result.refusal = Refusal::NotConfirmed;
    if (result.refusal != Refusal::None)
        return result;
    return onBus([&] {
        burnNow(result);
        return result;
    });
}

// Runs on the bus thread. Unacknowledged writes do not stop it: the read-back tells what every
// register holds. A port failure or a held bus does, since nothing after it reaches a chip.
void ChipOperations::burnNow(BurnResult &result)
{
    // Every OTP write checks the bus before it goes out on adapters that send whole frames.
    begin(BusCheck::No);
    if (notePortClosed()) {
        // Closed while the user was asked.
        result.refusal = BurnResult::Refusal::NoPort;
        finishInto(result);
        return;
    }
    const qsizetype count = result.channels.size();
    for (qsizetype k = 0; k < count; ++k) {
        const int index = result.channels[k];
        const device::DataBits data = device::codeToDataBits(result.codes[std::size_t(index - 1)]);
        m_chip.writeOtpRegister(data.low, data.high, device::chipAddressBits(result.a0Pin),
                                device::decmal_to_binary8(device::registerOfChannel(index)));
        const bool answered = heard();
        if (failed()) {
            // A write the port failure cut, or one sent whole on a held bus, may have burned;
            // one a held bus kept back did not go out.
            if (!m_portFailure.isEmpty() || m_chip.frameSent())
                result.interruptedIndex = index;
            break;
        }
        if (!answered)
            result.unacknowledged.append(index);
        result.writesCompleted = int(k + 1);
        if (count > 1)
            emit progressed(int(k + 1), int(count), tr("channels burned"));
    }
    // With the port gone or the bus held the rest would only pretend: nothing reaches the chip.
    if (!failed()) {
        m_chip.generalCallReset();
        result.resetAnswered = heard();
        result.resetSent = !failed();
    }
    if (!failed()) {
        const int maxBank = m_chip.readMaxBank(result.a0Pin);
        if (heard())
            result.maxBankAfter = maxBank;
    }
    if (!failed())
        readChannelsInto(result.a0Pin, result.readBack, channelCount, tr("registers read back"),
                         Stop::Never);
    finishInto(result);
    finishInto(result.readBack);
}

OperationResult ChipOperations::reset()
{
    return onBus([&] {
        if (begin()) {
            m_chip.generalCallReset();
            heard();
        }
        return finish();
    });
}

ChipScan ChipOperations::findChips()
{
    return onBus(
        [&] {
            ChipScan scan;
            begin(BusCheck::No);
            // Each probe's START checks the bus, and clears it when a chip holds it.
            for (int a0 = 0; a0 <= 1 && !failed(); ++a0) {
                scan.found[std::size_t(a0)] = m_chip.probe(QString::number(a0));
                heard();
            }
            notePortClosed();
            finishInto(scan);
            // Not finding a chip is the answer here, not a failure of the scan.
            scan.chipAnswered = scan.found[0] || scan.found[1];
            qCInfo(lcControl).noquote()
                << QStringLiteral("chip scan: A0 = 0 %1, A0 = 1 %2%3")
                       .arg(scan.found[0] ? QStringLiteral("answered") : QStringLiteral("silent"),
                            scan.found[1] ? QStringLiteral("answered") : QStringLiteral("silent"),
                            scan.busHeld ? QStringLiteral(" (SDA held low)") : QString());
            return scan;
        },
        Heard::Keep);
}

WiringCheck ChipOperations::checkWiring()
{
    return onBus(
        [&] {
            WiringCheck check;
            begin(BusCheck::No);
            check.wiring = m_chip.checkWiring();
            notePortClosed();
            qCInfo(lcControl).noquote()
                << QStringLiteral("wiring check: ") + ChipTexts::wiring(check.wiring);
            return finishInto(check);
        },
        Heard::Keep);
}

void ChipOperations::sendMarkerBlock()
{
    m_ports.setOutputBytes(1, 1);
    m_ports.sendOutputBytes(1);
}

} // namespace control
