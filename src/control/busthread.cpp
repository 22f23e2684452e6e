// SPDX-License-Identifier: MIT
#include "control/busthread.h"

#include <QEventLoop>
#include <chrono>

namespace control {

namespace {

// On a fast port most transactions end within this: the window waits less than a video frame,
// and two trips through the event loops are saved.
constexpr std::chrono::milliseconds quickWait{5};
// Waking a sleeping thread costs tens of microseconds, more than a whole transaction on a fast
// port; a load hands over 48 of them in a row. So each side first watches for the other for
// this long (never while idle: only right after a hand-over or a transaction).
constexpr std::chrono::microseconds watchBeforeSleeping{100};

template<typename Ready> void watchFor(const Ready &ready)
{
    const auto until = std::chrono::steady_clock::now() + watchBeforeSleeping;
    while (!ready() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

} // namespace

BusThread::BusThread(QObject *parent) : QObject(parent), m_thread([this] { serve(); }) {}

BusThread::~BusThread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_handedOver.notify_one();
    m_thread.join();
}

void BusThread::serve()
{
    for (;;) {
        watchFor([this] { return m_handOverSeen.load(std::memory_order_acquire); });
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            m_handedOver.wait(lock, [this] { return m_work || m_ending; });
            if (!m_work)
                return;
            work = std::exchange(m_work, {});
            m_handOverSeen = false;
        }
        work();
        const std::lock_guard lock(m_mutex);
        m_workDone = true;
        m_workDoneSeen.store(true, std::memory_order_release);
        m_workEnded.notify_one();
        if (m_waitingLoop)
            QMetaObject::invokeMethod(m_waitingLoop, &QEventLoop::quit, Qt::QueuedConnection);
    }
}

void BusThread::runOnBus(const std::function<void()> &work)
{
    if (m_inFlight) {
        // Only an event served during a transaction gets here. The windows hold such writes
        // and commands back; should one slip through, it waits for the bus instead of sharing
        // it.
        std::unique_lock lock(m_mutex);
        m_workEnded.wait(lock, [this] { return m_workDone; });
    }
    m_inFlight = true;
    {
        const std::lock_guard lock(m_mutex);
        m_work = work;
        m_workDone = false;
        m_workDoneSeen = false;
        m_handOverSeen.store(true, std::memory_order_release);
    }
    m_handedOver.notify_one();
    watchFor([this] { return m_workDoneSeen.load(std::memory_order_acquire); });
    std::unique_lock lock(m_mutex);
    if (!m_workEnded.wait_for(lock, quickWait, [this] { return m_workDone; })) {
        QEventLoop loop;
        m_waitingLoop = &loop;
        lock.unlock();
        loop.exec();
        lock.lock();
        m_waitingLoop = nullptr;
        // The loop also ends when the application quits; the work still runs to its end,
        // since a frame cut in half would leave the chip in the middle of a transaction.
        m_workEnded.wait(lock, [this] { return m_workDone; });
    }
    lock.unlock();
    m_inFlight = false;
    if (m_commandDepth == 0)
        becameFree();
}

void BusThread::command(const QString &caption, Cancel cancel, const std::function<void()> &action)
{
    if (m_inFlight) {
        m_waiting.append({action, true, caption, cancel});
        return;
    }
    if (m_commandDepth > 0) {
        action();
        return;
    }
    ++m_commandDepth;
    m_caption = caption;
    m_cancellable = cancel == Cancel::Allowed;
    m_cancelRequested = false;
    emit commandStarted(caption, m_cancellable);
    action();
    m_cancelRequested = false;
    m_caption.clear();
    --m_commandDepth;
    emit commandFinished();
    becameFree();
}

void BusThread::cancel()
{
    if (m_commandDepth > 0 && m_cancellable)
        m_cancelRequested = true;
}

void BusThread::becameFree()
{
    // What the idle handlers send ends here again: they go on with their own list.
    if (m_freeing)
        return;
    m_freeing = true;
    emit idle();
    m_freeing = false;
    // Each one may start transactions of its own; the rest wait for their end.
    while (!m_waiting.isEmpty() && !busy()) {
        const Waiting waiting = m_waiting.takeFirst();
        if (waiting.isCommand)
            command(waiting.caption, waiting.cancel, waiting.action);
        else
            waiting.action();
    }
}

void BusThread::whenFree(const std::function<void()> &action)
{
    if (m_inFlight)
        m_waiting.append({action, false, {}, Cancel::Never});
    else
        action();
}

} // namespace control
