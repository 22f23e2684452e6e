// SPDX-License-Identifier: MIT
#include "log/logging.h"

#include <QDateTime>
#include <QSet>
#include <atomic>
#include <cstring>

// Info and debug are off unless a rule turns them on: that is what the terminal gets. The filter
// below turns every level on again for the ring, after noting what the rules said.
Q_LOGGING_CATEGORY(lcPort, "kalventa.port", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBus, "kalventa.bus", QtWarningMsg)
Q_LOGGING_CATEGORY(lcControl, "kalventa.control", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "kalventa.ui", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCli, "kalventa.cli", QtWarningMsg)

namespace logging {

RingBuffer::RingBuffer(qsizetype capacity) : m_capacity(std::max<qsizetype>(capacity, 1)) {}

void RingBuffer::append(const QString &line)
{
    const std::lock_guard lock(m_lock);
    if (m_lines.size() < m_capacity) {
        m_lines.append(line);
        return;
    }
    m_lines[m_next] = line;
    m_next = (m_next + 1) % m_capacity;
    ++m_dropped;
}

QStringList RingBuffer::lines() const
{
    const std::lock_guard lock(m_lock);
    return m_lines.mid(m_next) + m_lines.first(m_next);
}

qsizetype RingBuffer::dropped() const
{
    const std::lock_guard lock(m_lock);
    return m_dropped;
}

void RingBuffer::clear()
{
    const std::lock_guard lock(m_lock);
    m_lines.clear();
    m_next = 0;
    m_dropped = 0;
}

namespace {

QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
std::atomic<bool> verbose{false};
std::mutex rulesLock;
QSet<QByteArray> shownByRules; // the program's categories the rules put on the terminal

bool ours(const char *category)
{
    return category && std::strncmp(category, "kalventa.", 9) == 0;
}

bool rulesShow(const char *category)
{
    const std::lock_guard lock(rulesLock);
    return shownByRules.contains(QByteArray(category));
}

void filter(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (!ours(category->categoryName()))
        return;
    {
        const std::lock_guard lock(rulesLock);
        if (category->isDebugEnabled() || category->isInfoEnabled())
            shownByRules.insert(QByteArray(category->categoryName()));
        else
            shownByRules.remove(QByteArray(category->categoryName()));
    }
    for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, true);
}

const char *levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (ours(context.category)) {
        recent().append(QStringLiteral("%1 %2 %3: %4")
                            .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs),
                                 QLatin1String(levelWord(type)), QLatin1String(context.category),
                                 message.left(maxLineLength)));
        if (type != QtFatalMsg && !verbose.load() && !rulesShow(context.category))
            return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        previousHandler = qInstallMessageHandler(handler);
        previousFilter = QLoggingCategory::installFilter(filter);
    });
}

void setVerbose(bool on)
{
    verbose = on;
}

bool isVerbose()
{
    return verbose.load();
}

RingBuffer &recent()
{
    static RingBuffer ring(recentCapacity);
    return ring;
}

} // namespace logging
