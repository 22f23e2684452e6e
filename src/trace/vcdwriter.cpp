// SPDX-License-Identifier: MIT
#include "trace/vcdwriter.h"

#include <QIODevice>
#include <algorithm>
#include <vector>

namespace trace {

namespace {

// One bit per signal, in the order they are declared.
enum Signal : quint8 {
    Scl = 1 << 0,
    Sda = 1 << 1,
    Dtr = 1 << 2,
    Rts = 1 << 3,
    Dsr = 1 << 4,
};

struct SignalInfo
{
    Signal signal;
    char id;
    const char *name;
};

constexpr SignalInfo signalTable[] = {
    {Scl, '!', "SCL"}, {Sda, '"', "SDA"}, {Dtr, '#', "DTR"}, {Rts, '$', "RTS"}, {Dsr, '%', "DSR"},
};

constexpr qsizetype flushThreshold = 64 * 1024;

quint8 withBit(quint8 state, Signal signal, bool high)
{
    return high ? quint8(state | signal) : quint8(state & ~signal);
}

bool has(quint8 state, Signal signal)
{
    return (state & signal) != 0;
}

// The signals an operation changes itself; anything else that changes with it followed from it.
quint8 primarySignals(LineOperation::Kind kind)
{
    switch (kind) {
    case LineOperation::Kind::SetDtr:
        return Dtr | Scl;
    case LineOperation::Kind::SetRts:
        return Rts | Sda;
    case LineOperation::Kind::ReadDsr:
        return Dsr | Sda;
    case LineOperation::Kind::WriteData:
        break;
    }
    return 0;
}

quint8 initialState(const LineState &before)
{
    quint8 state = 0;
    state = withBit(state, Dtr, before.dtr);
    state = withBit(state, Rts, before.rts);
    state = withBit(state, Dsr, before.dsr);
    state = withBit(state, Scl, before.levels ? before.levels->scl : !before.dtr);
    state = withBit(state, Sda, before.levels ? before.levels->sda : !before.rts);
    return state;
}

// The state of all five signals after each operation.
std::vector<quint8> statesAfter(const QList<LineOperation> &operations, quint8 state)
{
    std::vector<quint8> states;
    states.reserve(std::size_t(operations.size()));
    // Where a chip may have started to drive SDA, for folding a DSR sample back.
    qsizetype driveStart = -1;
    for (qsizetype i = 0; i < operations.size(); ++i) {
        const LineOperation &op = operations.at(i);
        const quint8 previous = state;
        switch (op.kind) {
        case LineOperation::Kind::SetDtr:
            state = withBit(state, Dtr, op.value);
            break;
        case LineOperation::Kind::SetRts:
            state = withBit(state, Rts, op.value);
            break;
        case LineOperation::Kind::ReadDsr:
            state = withBit(state, Dsr, op.value);
            break;
        case LineOperation::Kind::WriteData:
            break;
        }

        if (op.levels) {
            state = withBit(state, Scl, op.levels->scl);
            state = withBit(state, Sda, op.levels->sda);
            driveStart = -1;
            states.push_back(state);
            continue;
        }

        const bool rtsReleased = !has(state, Rts);
        const bool sclFell = has(previous, Dtr) != has(state, Dtr) && has(state, Dtr);
        const bool sdaReleased = has(previous, Rts) && rtsReleased;
        state = withBit(state, Scl, !has(state, Dtr));
        if (op.kind == LineOperation::Kind::SetRts && has(previous, Rts) != has(state, Rts))
            state = withBit(state, Sda, rtsReleased);
        if (rtsReleased && (sclFell || sdaReleased)) {
            // The chips change their drive only while SCL is low; until a sample tells
            // otherwise, a released line is high.
            state = withBit(state, Sda, true);
            driveStart = i;
        }
        if (op.kind == LineOperation::Kind::ReadDsr && rtsReleased) {
            const bool sampled = !op.value;
            if (sampled != has(state, Sda)) {
                const qsizetype from = driveStart >= 0 ? driveStart : i;
                for (qsizetype k = from; k < i; ++k)
                    states[std::size_t(k)] = withBit(states[std::size_t(k)], Sda, sampled);
                state = withBit(state, Sda, sampled);
            }
        }
        states.push_back(state);
    }
    return states;
}

void appendValues(QByteArray &out, quint8 state, quint8 mask)
{
    for (const SignalInfo &info : signalTable) {
        if (mask & info.signal) {
            out += has(state, info.signal) ? '1' : '0';
            out += info.id;
            out += '\n';
        }
    }
}

void appendSection(QByteArray &out, const char *keyword, const QString &text)
{
    out += '$';
    out += keyword;
    out += '\n';
    // "$end" inside the text would end the section early.
    QString body = text;
    body.replace(QStringLiteral("$end"), QStringLiteral("$ end"));
    for (const QString &line : body.split(u'\n'))
        out += "   " + line.toUtf8() + '\n';
    out += "$end\n";
}

} // namespace

bool VcdWriter::write(const QList<LineOperation> &operations, const LineState &before)
{
    m_error.clear();
    QByteArray out;
    if (m_date.isValid())
        appendSection(out, "date", m_date.toString(Qt::ISODate));
    if (!m_version.isEmpty())
        appendSection(out, "version", m_version);
    for (const QString &comment : std::as_const(m_comments))
        appendSection(out, "comment", comment);
    out += "$timescale 1us $end\n";
    out += "$scope module bus $end\n";
    for (const SignalInfo &info : signalTable) {
        out += "$var wire 1 ";
        out += info.id;
        out += ' ';
        out += info.name;
        out += " $end\n";
    }
    out += "$upscope $end\n";
    out += "$enddefinitions $end\n";

    quint8 shown = initialState(before);
    out += "#0\n$dumpvars\n";
    appendValues(out, shown, 0xFF);
    out += "$end\n";

    const std::vector<quint8> states = statesAfter(operations, shown);
    const qint64 origin = operations.isEmpty() ? 0 : operations.first().nanoseconds;
    qint64 lastStep = 0;
    const auto emitStep = [&](qint64 microseconds, quint8 state, quint8 mask) {
        lastStep = std::max(microseconds, lastStep + 1);
        out += '#' + QByteArray::number(lastStep) + '\n';
        appendValues(out, state, mask);
    };
    for (qsizetype i = 0; i < operations.size(); ++i) {
        const quint8 state = states[std::size_t(i)];
        const quint8 changed = state ^ shown;
        if (changed == 0)
            continue;
        const qint64 microseconds = (operations.at(i).nanoseconds - origin) / 1000;
        const quint8 primary = changed & primarySignals(operations.at(i).kind);
        if (primary)
            emitStep(microseconds, state, primary);
        if (changed & ~primary)
            emitStep(microseconds, state, quint8(changed & ~primary));
        shown = state;
        if (out.size() >= flushThreshold && !flush(out))
            return false;
    }
    // A closing step gives the last values a length, so viewers draw them.
    out += '#' + QByteArray::number(lastStep + 1) + '\n';
    return flush(out);
}

bool VcdWriter::flush(QByteArray &buffer)
{
    if (m_device.write(buffer) != buffer.size()) {
        m_error = m_device.errorString();
        if (m_error.isEmpty())
            m_error = QStringLiteral("write error");
        return false;
    }
    buffer.clear();
    return true;
}

} // namespace trace
