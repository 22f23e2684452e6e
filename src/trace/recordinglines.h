// SPDX-License-Identifier: MIT
#pragma once

#include "port/seriallines.h"

#include <QElapsedTimer>
#include <QList>
#include <functional>
#include <optional>

namespace trace {

// The levels of the bus itself (true = high), which may differ from what the port drives: on an
// open-drain bus a chip can hold SDA low while the port releases it.
struct BusLevels
{
    bool scl = true;
    bool sda = true;

    friend bool operator==(const BusLevels &, const BusLevels &) = default;
};

// One operation on the port's lines, as the bus engine performed it.
struct LineOperation
{
    enum class Kind { SetDtr, SetRts, ReadDsr, WriteData };

    Kind kind = Kind::SetDtr;
    bool value = false;              // the value written, or the DSR state read
    qint64 nanoseconds = 0;          // since the recorder started
    QByteArray data;                 // WriteData only
    std::optional<BusLevels> levels; // the bus right after the operation, when a probe knew it
};

// What the lines were set to last, and the bus levels then when they were known.
struct LineState
{
    bool dtr = false;
    bool rts = false;
    bool dsr = false;
    std::optional<BusLevels> levels;
};

// Passes every line operation on to another set of lines (or to none, reading DSR released) and
// keeps a record of it with its time: the raw material of tests and of bus traces.
class RecordingLines : public port::SerialLines
{
public:
    // Asked right after each operation; nothing when the levels are not known (a real port only
    // knows what it drives and what DSR said).
    using LevelProbe = std::function<std::optional<BusLevels>()>;

    explicit RecordingLines(port::SerialLines *inner = nullptr);

    bool isOpen() const override;
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;
    bool sendsWholeFrames() const override;
    void markDsrSample() override;
    void holdStep() override;
    // The samples marked in the frame are recorded where they were taken, with their values.
    QList<bool> endFrame() override;

    const QList<LineOperation> &operations() const { return m_operations; }
    void clear();

    void setLevelProbe(LevelProbe probe) { m_probe = std::move(probe); }

    // Bounds the record for long sessions: once it holds this many operations, the older half is
    // dropped, so the record always ends with the latest ones. 0 keeps everything.
    void setLimit(qsizetype maxOperations);
    qsizetype limit() const { return m_limit; }
    // Operations dropped because of the limit since the last clear().
    qint64 droppedCount() const { return m_dropped; }
    // The lines before the first operation kept: all released and the bus idle until the limit
    // has dropped something.
    const LineState &stateBeforeFirst() const { return m_stateBeforeFirst; }

    int count(LineOperation::Kind kind) const;

private:
    void record(LineOperation::Kind kind, bool value, const QByteArray &data = {});
    void dropOlderHalf();

    port::SerialLines *m_inner = nullptr;
    QList<LineOperation> m_operations;
    QElapsedTimer m_clock;
    LevelProbe m_probe;
    qsizetype m_limit = 0;
    qint64 m_dropped = 0;
    LineState m_stateBeforeFirst;
    // Samples waiting for the frame's end, as counts of operations since the last clear().
    QList<qint64> m_pendingSamples;
};

} // namespace trace
