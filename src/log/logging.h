// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <mutex>

// One category per layer. Events only (a port opened, a bus clear, a burn's verdict): never a
// line write or a DSR read, whose cost the bus timing rests on.
Q_DECLARE_LOGGING_CATEGORY(lcPort)
Q_DECLARE_LOGGING_CATEGORY(lcBus)
Q_DECLARE_LOGGING_CATEGORY(lcControl)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
Q_DECLARE_LOGGING_CATEGORY(lcCli)

namespace logging {

// The newest lines, at most `capacity` of them; the oldest go first. Any thread may append.
class RingBuffer
{
public:
    explicit RingBuffer(qsizetype capacity);

    void append(const QString &line);
    // Oldest first.
    QStringList lines() const;
    // How many lines were dropped to make room since the last clear.
    qsizetype dropped() const;
    qsizetype capacity() const { return m_capacity; }
    void clear();

private:
    const qsizetype m_capacity;
    mutable std::mutex m_lock;
    QList<QString> m_lines; // a circle once full: m_next is the oldest
    qsizetype m_next = 0;
    qsizetype m_dropped = 0;
};

inline constexpr qsizetype recentCapacity = 400;
// Longer messages are cut: the ring is for what happened, not for data.
inline constexpr qsizetype maxLineLength = 400;

// Routes the program's categories: every message goes to the ring; on the terminal only when
// verbose or when QT_LOGGING_RULES turns the category on. Other categories (Qt's own) go on as
// before. Once per process; later calls do nothing.
void install();
void setVerbose(bool verbose);
bool isVerbose();

// The ring install() fills.
RingBuffer &recent();

} // namespace logging
