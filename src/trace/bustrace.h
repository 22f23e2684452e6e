// SPDX-License-Identifier: MIT
#pragma once

#include "trace/recordinglines.h"

#include <QDateTime>
#include <QString>

class QIODevice;

namespace trace {

// A recording of everything the bus engine does on a port's lines, for export as a VCD file.
// It sits between the engine and the port: build the engine on lines() instead of the port.
// The record is bounded; past the limit it keeps the latest operations and says so in the file.
class BusTrace
{
public:
    // About 50 bytes each, so some 50 MB at most: 130 full reads of the chip or 4400 writes.
    static constexpr qsizetype defaultLimit = 1'000'000;

    explicit BusTrace(port::SerialLines &port, RecordingLines::LevelProbe probe = {},
                      qsizetype limit = defaultLimit);
    Q_DISABLE_COPY_MOVE(BusTrace)

    // What the bus engine drives.
    port::SerialLines &lines() { return m_recorder; }
    const RecordingLines &recorder() const { return m_recorder; }

    // Empty while nothing has been dropped.
    QString limitNote() const;

    // The recording as a VCD file; false with the reason when the device refused it.
    bool writeVcd(QIODevice &device, QString *error) const;

private:
    RecordingLines m_recorder;
    QDateTime m_started = QDateTime::currentDateTime();
};

} // namespace trace
