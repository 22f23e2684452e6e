// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;

namespace control {
class BusThread;
class ChipOperations;
} // namespace control

namespace ui {

// The status bar's view of a command on the bus: which one, how far, and a way to stop it where
// stopping is safe. It appears only once a command has run for a moment (with a wait cursor), so
// quick commands never flicker; the widgets that start commands wait meanwhile.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    BusyIndicator(control::BusThread &bus, control::ChipOperations &operations,
                  QWidget *parent = nullptr);
    ~BusyIndicator() override;

    // Disabled while a command runs; the one pressed keeps the focus.
    void addCommandWidget(QWidget *widget) { m_commandWidgets.append(widget); }
    void addCommandAction(QAction *action) { m_commandActions.append(action); }
    // Hidden while the indicator shows, to make room for it.
    void makeRoomFrom(QWidget *widget) { m_makesRoom = widget; }

private:
    void commandStarted();
    void progressed(int done, int total, const QString &what);
    void channelWritten(int index);
    void commandFinished();
    void appear();
    void showState();

    control::BusThread &m_bus;
    QLabel *m_text = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_cancel = nullptr;
    QTimer m_delay;
    QElapsedTimer m_running;
    QList<QWidget *> m_commandWidgets;
    QList<QAction *> m_commandActions;
    // The command widget that had the focus when its command began; it gets it back at the end.
    QPointer<QWidget> m_focusedCommand;
    QWidget *m_makesRoom = nullptr;
    QString m_progressText;
    bool m_shown = false;
    bool m_stopping = false;
    bool m_stepsDone = false; // the command's counted steps are done: writes back follow
};

} // namespace ui
