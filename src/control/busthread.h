// SPDX-License-Identifier: MIT
#pragma once

#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

namespace control {

// Whether the user may stop a command part way, between two of its transactions. A burn may
// not: it runs whole once begun.
enum class Cancel { Allowed, Never };

// The one thread that touches the port while the program runs. A USB adapter takes about a
// millisecond for every line change, so a read of the chip lasts seconds: the work goes to this
// thread while the window's events are served until it ends. The callers' code stays in order:
// run() returns the work's result, and nothing that the window does meanwhile can start another
// transaction (writes wait in the grid, commands wait for the bus).
//
// A command is what the user starts (a button, a menu entry): it may hold many transactions, and
// the windows show its progress. Transactions outside a command (a typed voltage, a slider) run
// one at a time as they come.
class BusThread : public QObject
{
    Q_OBJECT

public:
    explicit BusThread(QObject *parent = nullptr);
    ~BusThread() override;

    // Runs work on the bus thread and serves events until it returns. Meant for callers that
    // no transaction is under way for (see inFlight()); any other waits for the bus first.
    template<typename Work> auto run(Work work) -> std::invoke_result_t<Work>
    {
        using Result = std::invoke_result_t<Work>;
        if constexpr (std::is_void_v<Result>) {
            runOnBus(work);
        } else {
            std::optional<Result> result;
            runOnBus([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // A transaction is on the bus now.
    bool inFlight() const { return m_inFlight; }
    // A command or a transaction is under way: another command would interleave with it.
    bool busy() const { return m_inFlight || m_commandDepth > 0; }

    // Runs a user's command now or, when a transaction is on the bus, as soon as it is free
    // (commands asked for meanwhile run in the order asked). Inside a running command it is
    // part of that command and runs at once.
    void command(const QString &caption, Cancel cancel, const std::function<void()> &action);
    // Runs an action that must not meet a transaction (opening a dialog that may close the
    // port) now or, when a transaction is on the bus, as soon as it is free.
    void whenFree(const std::function<void()> &action);
    QString commandCaption() const { return m_caption; }
    bool commandCancellable() const { return m_cancellable; }

    // Asks a cancellable command to stop before its next transaction. Thread-safe to read.
    void cancel();
    bool cancelRequested() const { return m_cancelRequested.load(); }

signals:
    void commandStarted(const QString &caption, bool cancellable);
    void commandFinished();
    // Nothing runs any more: writes held back meanwhile may go now.
    void idle();

private:
    void runOnBus(const std::function<void()> &work);
    void becameFree();
    // The bus thread: it sleeps until a transaction is handed over. No event loop of its own,
    // so a hand-over wakes it in microseconds.
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_handedOver;
    std::condition_variable m_workEnded;
    // Guarded by m_mutex:
    std::function<void()> m_work;
    bool m_workDone = false;
    QEventLoop *m_waitingLoop = nullptr; // serving events until the work is done
    bool m_ending = false;
    // Read without the lock while each side watches for the other.
    std::atomic<bool> m_handOverSeen{false};
    std::atomic<bool> m_workDoneSeen{false};
    bool m_inFlight = false;
    bool m_freeing = false;
    int m_commandDepth = 0;
    QString m_caption;
    bool m_cancellable = false;
    std::atomic<bool> m_cancelRequested{false};
    struct Waiting
    {
        std::function<void()> action;
        bool isCommand = false;
        QString caption;
        Cancel cancel = Cancel::Never;
    };
    QList<Waiting> m_waiting; // what was asked for while a transaction was on the bus
    std::thread m_thread;     // last: it starts once everything it uses is built
};

// A command on the bus thread when there is one; without one (the tests of the behaviour
// classes) the action simply runs.
inline void runCommand(BusThread *bus, const QString &caption, Cancel cancel,
                       const std::function<void()> &action)
{
    if (bus)
        bus->command(caption, cancel, action);
    else
        action();
}

} // namespace control
