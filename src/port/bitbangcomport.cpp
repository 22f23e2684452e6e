// SPDX-License-Identifier: MIT
#include "port/bitbangcomport.h"

#include <utility>

namespace port {

namespace {

// SCL (DTR), SDA out (RTS) and the transmit line are driven; every other pin stays an input, so
// nothing else on the adapter's connector moves.
constexpr quint8 outputPins = BitBangDevice::dtrPin | BitBangDevice::rtsPin | BitBangDevice::txdPin;
// Pins written 1 are released, as after a serial port's open; TXD written 1 is the idle mark.
constexpr quint8 released = 0xFF;
// A UART character: start bit, 8 data bits, stop bit.
constexpr int bitsPerCharacter = 10;

} // namespace

BitBangComPort::BitBangComPort(BitBangDevice &device, QObject *parent)
    : ComPort(parent), m_device(device)
{}

BitBangComPort::~BitBangComPort()
{
    close();
}

OpenResult BitBangComPort::open(int portNumber, const LineSettings &settings)
{
    close();
    m_lastError.clear();
    m_bitRate = settings.bitRate > 0 ? settings.bitRate : LineSettings().bitRate;
    const OpenResult result = m_device.open(outputPins, released, stepsPerSecond, &m_lastError);
    if (result == OpenResult::Opened) {
        m_openPortNumber = portNumber;
        m_state = released;
        m_transfers = 0;
    }
    return result;
}

void BitBangComPort::close()
{
    m_queue.clear();
    m_marks.clear();
    if (m_openPortNumber == 0)
        return;
    m_openPortNumber = 0;
    m_device.close();
}

void BitBangComPort::setPin(quint8 pin, bool asserted)
{
    if (!isOpen())
        return;
    // A pin written 0 is the line asserted.
    m_state = asserted ? quint8(m_state & ~pin) : quint8(m_state | pin);
    m_queue.append(char(m_state));
}

void BitBangComPort::setDtr(bool asserted)
{
    setPin(BitBangDevice::dtrPin, asserted);
}

void BitBangComPort::setRts(bool asserted)
{
    setPin(BitBangDevice::rtsPin, asserted);
}

void BitBangComPort::writeData(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    // Each bit edge sits at the step nearest its exact time, counted from the block's start, so
    // the rounding never adds up: at 38400 bit/s (5.2 steps a bit) no edge is off by more than
    // half a step, 2.5 us of a 26 us bit.
    const auto edge = [this](qint64 bit) {
        return (bit * stepsPerSecond + m_bitRate / 2) / m_bitRate;
    };
    qint64 bit = 0;
    for (const char byte : bytes) {
        // Start bit low, data least significant bit first, stop bit high.
        const quint16 frame = quint16((quint8(byte) << 1) | (1 << 9));
        for (int i = 0; i < bitsPerCharacter; ++i, ++bit) {
            const bool mark = frame & (1 << i);
            m_state = mark ? quint8(m_state | BitBangDevice::txdPin)
                           : quint8(m_state & ~BitBangDevice::txdPin);
            for (qint64 step = edge(bit); step < edge(bit + 1); ++step)
                m_queue.append(char(m_state));
        }
    }
    // Outside a frame the block leaves now, as a serial port's write does; inside one it goes
    // with the frame, in its place among the line changes.
    if (m_marks.isEmpty()) {
        QByteArray samples;
        send(&samples);
    }
}

void BitBangComPort::markDsrSample()
{
    if (isOpen())
        m_marks.append(m_queue.size());
}

void BitBangComPort::holdStep()
{
    if (isOpen())
        m_queue.append(char(m_state));
}

bool BitBangComPort::dsr()
{
    markDsrSample();
    const QList<bool> samples = endFrame();
    return !samples.isEmpty() && samples.last();
}

QList<bool> BitBangComPort::endFrame()
{
    const QList<qsizetype> marks = std::exchange(m_marks, {});
    // A sample taken after the last write is that of one more step with nothing changed.
    if (!marks.isEmpty() && marks.last() >= m_queue.size())
        holdStep();
    QByteArray samples;
    if (!send(&samples))
        return {};
    QList<bool> asserted;
    asserted.reserve(marks.size());
    for (const qsizetype step : marks)
        asserted.append(step < samples.size() && !(quint8(samples[step]) & BitBangDevice::dsrPin));
    return asserted;
}

bool BitBangComPort::send(QByteArray *samples)
{
    const QByteArray queue = std::exchange(m_queue, {});
    const int chunk = m_device.maxTransferBytes();
    for (qsizetype at = 0; at < queue.size() && isOpen(); at += chunk) {
        const QByteArray states = queue.mid(at, chunk);
        QString error;
        const QByteArray read = m_device.transfer(states, &error);
        ++m_transfers;
        samples->append(read);
        if (read.size() < states.size()) {
            m_lastError = error;
            const int number = std::exchange(m_openPortNumber, 0);
            m_device.close();
            emit failed(number, error);
            return false;
        }
    }
    return isOpen();
}

} // namespace port
