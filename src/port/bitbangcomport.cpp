#include "port/bitbangcomport.h"

#include <utility>

namespace port {

namespace {

// Only SCL (DTR) and SDA out (RTS) are driven; every other pin stays an input, so nothing else
// on the adapter's connector moves.
constexpr quint8 outputPins = BitBangDevice::dtrPin | BitBangDevice::rtsPin;
// Pins written 1 are released, as after a serial port's open.
constexpr quint8 released = 0xFF;

} // namespace

BitBangComPort::BitBangComPort(BitBangDevice &device, QObject *parent)
    : ComPort(parent), m_device(device)
{}

BitBangComPort::~BitBangComPort()
{
    close();
}

OpenResult BitBangComPort::open(int portNumber, const LineSettings &)
{
    close();
    m_lastError.clear();
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
