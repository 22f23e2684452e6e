#include "port/recordinglines.h"

#include <algorithm>

namespace port {

RecordingLines::RecordingLines(SerialLines *inner) : m_inner(inner)
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
    const bool value = m_inner ? m_inner->dsr() : m_idleDsr;
    record(LineOperation::Kind::ReadDsr, value);
    return value;
}

void RecordingLines::writeData(const QByteArray &bytes)
{
    if (m_inner)
        m_inner->writeData(bytes);
    record(LineOperation::Kind::WriteData, false, bytes);
}

void RecordingLines::clear()
{
    m_operations.clear();
}

int RecordingLines::count(LineOperation::Kind kind) const
{
    return int(std::count_if(m_operations.cbegin(), m_operations.cend(),
                             [kind](const LineOperation &op) { return op.kind == kind; }));
}

void RecordingLines::record(LineOperation::Kind kind, bool value, const QByteArray &data)
{
    m_operations.append({kind, value, m_clock.nsecsElapsed(), data});
}

} // namespace port
