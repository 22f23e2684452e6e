// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// SIGTERM, SIGINT and SIGHUP as a request to close the program, heard in the event loop: the
// window then closes as when the user closes it (the transaction under way ends whole, settings
// and the trace are written), where the signal's default would end the process mid-frame. A
// signal handler may do next to nothing, so it only writes the signal's number into a pipe whose
// other end the event loop watches. One instance at a time.
class CloseSignals : public QObject
{
    Q_OBJECT

public:
    explicit CloseSignals(QObject *parent = nullptr);
    ~CloseSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace app
