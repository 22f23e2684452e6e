// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <functional>

class QTextStream;

namespace cli {

// A progress line on the error stream for commands that take a while, as on a slow USB adapter:
// "read: 12/25". It shows once a command has run for a second, only on a terminal (a pipe or a
// log gets none), at most ten times a second, and is wiped when the command ends.
class ProgressLine
{
public:
    using Clock = std::function<qint64()>; // milliseconds, steady

    ProgressLine(QTextStream &err, bool terminal, Clock clock = {});

    void begin(const QString &command);
    void progressed(int done, int total);
    void end();

private:
    QTextStream &m_err;
    bool m_terminal = false;
    Clock m_clock;
    QString m_command;
    qint64 m_started = 0;
    qint64 m_lastShown = 0;
    bool m_shown = false;
};

} // namespace cli
