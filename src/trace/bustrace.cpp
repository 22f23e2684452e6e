// SPDX-License-Identifier: MIT
#include "trace/bustrace.h"

#include "trace/vcdwriter.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>

namespace trace {

BusTrace::BusTrace(port::SerialLines &port, RecordingLines::LevelProbe probe, qsizetype limit)
    : m_recorder(&port)
{
    m_recorder.setLevelProbe(std::move(probe));
    m_recorder.setLimit(limit);
}

QString BusTrace::limitNote() const
{
    if (m_recorder.droppedCount() == 0)
        return {};
    const QList<LineOperation> &kept = m_recorder.operations();
    const double keptFrom = kept.isEmpty() ? 0 : double(kept.first().nanoseconds) / 1e9;
    return QCoreApplication::translate("trace::BusTrace",
                                       "The trace holds at most %1 line operations: the first %2 "
                                       "were dropped, and time 0 is %3 s into the recording.")
        .arg(m_recorder.limit())
        .arg(m_recorder.droppedCount())
        .arg(keptFrom, 0, 'f', 6);
}

bool BusTrace::writeVcd(QIODevice &device, QString *error) const
{
    VcdWriter writer(device);
    writer.setDate(m_started);
    writer.setVersion(QStringLiteral("KALVENTA %1.%2.%3")
                          .arg(version::major)
                          .arg(version::minor)
                          .arg(version::revision));
    writer.addComment(QStringLiteral(
        "I2C on a serial port's modem-control lines: SCL and SDA are the bus levels, DTR, RTS "
        "and DSR the port's lines (DTR or RTS set pulls SCL or SDA low; DSR is set while SDA "
        "is low)."));
    const QString note = limitNote();
    if (!note.isEmpty())
        writer.addComment(note);
    if (writer.write(m_recorder.operations(), m_recorder.stateBeforeFirst()))
        return true;
    if (error)
        *error = writer.errorString();
    return false;
}

} // namespace trace
