// SPDX-License-Identifier: MIT
#pragma once

#include "trace/recordinglines.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace trace {

// Writes recorded line operations as a Value Change Dump, the format that GTKWave, PulseView and
// sigrok read. Signals: SCL and SDA as bus levels, and DTR, RTS and DSR as the port's raw lines.
//
// Where the record knows the bus levels (a probe on the simulated board) they are taken as they
// are. Otherwise SCL and SDA are what the PC drives: a released line is shown high, except that
// a DSR sample showing SDA low is folded back to where the chip could have started to drive it
// (the last SCL fall or SDA release before the sample), so that the bit stays stable while SCL
// is high, as a decoder expects.
//
// Times are microseconds from the first operation. Every change gets a time step of its own, a
// microsecond after the previous one at least: fast line operations would otherwise pile up on
// one step, and a decoder could no longer tell which edge came first.
class VcdWriter
{
public:
    explicit VcdWriter(QIODevice &device) : m_device(device) {}

    void setDate(const QDateTime &date) { m_date = date; }
    void setVersion(const QString &version) { m_version = version; }
    // One $comment section each, in the header.
    void addComment(const QString &text) { m_comments.append(text); }

    // `before` is the state of the lines before the first operation. False on a write error.
    bool write(const QList<LineOperation> &operations, const LineState &before = {});
    QString errorString() const { return m_error; }

private:
    bool flush(QByteArray &buffer);

    QIODevice &m_device;
    QDateTime m_date;
    QString m_version;
    QStringList m_comments;
    QString m_error;
};

} // namespace trace
