// SPDX-License-Identifier: MIT
#include "cli/progressline.h"

#include <QDeadlineTimer>
#include <QTextStream>

namespace cli {

namespace {

constexpr qint64 quietMilliseconds = 1000;
constexpr qint64 refreshMilliseconds = 100;
// Back to the start of the line, and the rest of it cleared.
const QString wipe = QStringLiteral("\r\x1b[K");

} // namespace

ProgressLine::ProgressLine(QTextStream &err, bool terminal, Clock clock)
    : m_err(err), m_terminal(terminal), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDeadlineTimer::current().deadline(); };
}

void ProgressLine::begin(const QString &command)
{
    m_command = command;
    m_started = m_clock();
}

void ProgressLine::progressed(int done, int total)
{
    if (!m_terminal)
        return;
    const qint64 now = m_clock();
    if (now - m_started < quietMilliseconds)
        return;
    if (m_shown && now - m_lastShown < refreshMilliseconds && done != total)
        return;
    m_err << wipe << m_command << QStringLiteral(": %1/%2").arg(done).arg(total);
    m_err.flush();
    m_shown = true;
    m_lastShown = now;
}

void ProgressLine::end()
{
    if (!m_shown)
        return;
    m_err << wipe;
    m_err.flush();
    m_shown = false;
}

} // namespace cli
