// SPDX-License-Identifier: MIT
#include "trace/recordinglines.h"

#include <algorithm>

namespace trace {

RecordingLines::RecordingLines(port::SerialLines *inner) : m_inner(inner)
{
    m_clock.start();
}

bool RecordingLines::isOpen() const
{
    return m_inner ? m_inner->isOpen() : true;
}

void RecordingLines::setDtr(bool asserted)
{
    if (m_inner)
        m_inner->setDtr(asserted);
    record(LineOperation::Kind::SetDtr, asserted);
}

void RecordingLines::setRts(bool asserted)
{
    if (m_inner)
        m_inner->setRts(asserted);
    record(LineOperation::Kind::SetRts, asserted);
}

bool RecordingLines::dsr()
{
    const bool value = m_inner && m_inner->dsr();
    record(LineOperation::Kind::ReadDsr, value);
    return value;
}

void RecordingLines::writeData(const QByteArray &bytes)
{
    if (m_inner)
        m_inner->writeData(bytes);
    record(LineOperation::Kind::WriteData, false, bytes);
}

bool RecordingLines::sendsWholeFrames() const
{
    return m_inner && m_inner->sendsWholeFrames();
}

void RecordingLines::markDsrSample()
{
    if (!m_inner)
        return;
    m_inner->markDsrSample();
    record(LineOperation::Kind::ReadDsr, false);
    m_pendingSamples.append(m_dropped + m_operations.size() - 1);
}

void RecordingLines::holdStep()
{
    if (m_inner)
        m_inner->holdStep();
}

QList<bool> RecordingLines::endFrame()
{
    const QList<bool> samples = m_inner ? m_inner->endFrame() : QList<bool>();
    for (qsizetype i = 0; i < m_pendingSamples.size(); ++i) {
        // A long frame may have pushed its first samples out of a bounded record.
        const qint64 at = m_pendingSamples[i] - m_dropped;
        if (at >= 0 && at < m_operations.size())
            m_operations[at].value = i < samples.size() && samples[i];
    }
    m_pendingSamples.clear();
    return samples;
}

void RecordingLines::clear()
{
    m_pendingSamples.clear();
    m_operations.clear();
    m_dropped = 0;
    m_stateBeforeFirst = {};
}

void RecordingLines::setLimit(qsizetype maxOperations)
{
    // Dropping half of fewer than two operations would keep nothing or drop nothing.
    m_limit = maxOperations > 0 ? std::max<qsizetype>(maxOperations, 2) : 0;
    while (m_limit != 0 && m_operations.size() >= m_limit)
        dropOlderHalf();
}

int RecordingLines::count(LineOperation::Kind kind) const
{
    return int(std::count_if(m_operations.cbegin(), m_operations.cend(),
                             [kind](const LineOperation &op) { return op.kind == kind; }));
}

void RecordingLines::record(LineOperation::Kind kind, bool value, const QByteArray &data)
{
    if (m_limit != 0 && m_operations.size() >= m_limit)
        dropOlderHalf();
    std::optional<BusLevels> levels;
    if (m_probe)
        levels = m_probe();
    m_operations.append({kind, value, m_clock.nsecsElapsed(), data, levels});
}

// Halving (rather than dropping one at a time) keeps the cost per operation constant.
void RecordingLines::dropOlderHalf()
{
    const qsizetype dropped = m_operations.size() / 2;
    for (qsizetype i = 0; i < dropped; ++i) {
        const LineOperation &op = m_operations.at(i);
        switch (op.kind) {
        case LineOperation::Kind::SetDtr:
            m_stateBeforeFirst.dtr = op.value;
            break;
        case LineOperation::Kind::SetRts:
            m_stateBeforeFirst.rts = op.value;
            break;
        case LineOperation::Kind::ReadDsr:
            m_stateBeforeFirst.dsr = op.value;
            break;
        case LineOperation::Kind::WriteData:
            break;
        }
        m_stateBeforeFirst.levels = op.levels;
    }
    m_operations.remove(0, dropped);
    m_dropped += dropped;
}

} // namespace trace
