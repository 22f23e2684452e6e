#pragma once

#include "port/seriallines.h"

#include <QElapsedTimer>
#include <QList>

namespace port {

// One operation on the port's lines, as the bus engine performed it.
struct LineOperation
{
    enum class Kind { SetDtr, SetRts, ReadDsr, WriteData };

    Kind kind = Kind::SetDtr;
    bool value = false;        // the value written, or the DSR state read
    qint64 nanoseconds = 0;    // since the recorder started
    QByteArray data;           // WriteData only
};

// Passes every line operation on to another set of lines (or to none, reading DSR released) and
// keeps a record of it with its time: the raw material of tests and of bus traces.
class RecordingLines : public SerialLines
{
public:
    explicit RecordingLines(SerialLines *inner = nullptr);

    bool isOpen() const override;
    void setDtr(bool asserted) override;
    void setRts(bool asserted) override;
    bool dsr() override;
    void writeData(const QByteArray &bytes) override;

    const QList<LineOperation> &operations() const { return m_operations; }
    void clear();

    // DSR value returned when there is no inner port; tests use it to feed bits.
    void setIdleDsr(bool asserted) { m_idleDsr = asserted; }

    int count(LineOperation::Kind kind) const;

private:
    void record(LineOperation::Kind kind, bool value, const QByteArray &data = {});

    SerialLines *m_inner = nullptr;
    QList<LineOperation> m_operations;
    QElapsedTimer m_clock;
    bool m_idleDsr = false;
};

} // namespace port
