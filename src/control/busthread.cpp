#include "control/busthread.h"

#include <QEventLoop>
#include <QSemaphore>

namespace control {

BusThread::BusThread(QObject *parent) : QObject(parent), m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("bus"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

BusThread::~BusThread()
{
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void BusThread::runOnBus(const std::function<void()> &work)
{
    m_inFlight = true;
    QEventLoop loop;
    QSemaphore done;
    QMetaObject::invokeMethod(m_worker, [&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        done.release();
    });
    // The loop also ends when the application quits; the work still runs to its end, since a
    // frame cut in half would leave the chip in the middle of a transaction.
    loop.exec();
    done.acquire();
    m_inFlight = false;
    if (m_commandDepth == 0)
        becameFree();
}

void BusThread::command(const QString &caption, bool cancellable,
                        const std::function<void()> &action)
{
    if (m_inFlight) {
        m_waiting.append({action, true, caption, cancellable});
        return;
    }
    if (m_commandDepth > 0) {
        action();
        return;
    }
    ++m_commandDepth;
    m_caption = caption;
    m_cancellable = cancellable;
    m_cancelRequested = false;
    emit commandStarted(caption, cancellable);
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
            command(waiting.caption, waiting.cancellable, waiting.action);
        else
            waiting.action();
    }
}

void BusThread::whenFree(const std::function<void()> &action)
{
    if (m_inFlight)
        m_waiting.append({action, false, {}, false});
    else
        action();
}

} // namespace control
