// SPDX-License-Identifier: MIT
#include "ui/main/busyindicator.h"

#include "control/busthread.h"
#include "control/chipoperations.h"
#include "device/devicemodel.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace ui {

namespace {

// A command still running after this long shows its progress.
constexpr int appearAfterMs = 300;

} // namespace

BusyIndicator::BusyIndicator(control::BusThread &bus, control::ChipOperations &operations,
                             QWidget *parent)
    : QWidget(parent), m_bus(bus)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("busyText"));
    m_bar = new QProgressBar(this);
    m_bar->setAccessibleName(tr("Progress"));
    m_bar->setTextVisible(false);
    m_bar->setMaximumWidth(m_bar->fontMetrics().horizontalAdvance(QLatin1Char('m')) * 6);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setToolTip(tr("Stops after the transaction under way; what was not read or "
                            "written is shown as unknown"));
    layout->addWidget(m_text, 1);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel);
    hide();

    m_delay.setSingleShot(true);
    m_delay.setInterval(appearAfterMs);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        // A command that waits on a question has nothing on the bus: it appears with its
        // first progress instead.
        if (m_bus.inFlight())
            appear();
    });
    connect(&bus, &control::BusThread::commandStarted, this, &BusyIndicator::commandStarted);
    connect(&bus, &control::BusThread::commandFinished, this, &BusyIndicator::commandFinished);
    connect(&operations, &control::ChipOperations::progressed, this, &BusyIndicator::progressed);
    connect(&operations, &control::ChipOperations::channelWritten, this,
            &BusyIndicator::channelWritten);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_bus.cancel();
        m_stopping = true;
        m_cancel->setEnabled(false);
        m_progressText = tr("stopping after this transaction");
        showState();
    });
}

BusyIndicator::~BusyIndicator()
{
    if (m_shown)
        QGuiApplication::restoreOverrideCursor();
}

void BusyIndicator::commandStarted()
{
    // A disabled widget hands its focus on to the next one, the Vsup box, where a key pressed
    // meanwhile would edit Vsup. The window holds the focus instead, and the button that had it
    // gets it back at the end.
    QWidget *focused = QApplication::focusWidget();
    m_focusedCommand = m_commandWidgets.contains(focused) ? focused : nullptr;
    if (m_focusedCommand)
        m_focusedCommand->window()->setFocus(Qt::OtherFocusReason);
    for (QWidget *widget : std::as_const(m_commandWidgets))
        widget->setEnabled(false);
    for (QAction *action : std::as_const(m_commandActions))
        action->setEnabled(false);
    m_progressText.clear();
    m_stopping = false;
    m_stepsDone = false;
    m_bar->setRange(0, 0);
    m_cancel->setEnabled(m_bus.commandCancellable());
    m_running.start();
    m_delay.start();
}

void BusyIndicator::progressed(int done, int total, const QString &what)
{
    if (!m_stopping)
        m_progressText = tr("%1 of %2 %3").arg(done).arg(total).arg(what);
    m_stepsDone = done >= total;
    m_bar->setRange(0, total);
    m_bar->setValue(done);
    if (m_shown)
        showState();
    else if (m_running.isValid() && m_running.elapsed() >= appearAfterMs)
        appear();
}

// After a read the grid writes back every channel whose shown voltage changed; on a slow adapter
// that takes seconds, which a full bar would hide.
void BusyIndicator::channelWritten(int index)
{
    if (!m_stepsDone || m_stopping || m_bus.commandCaption().isEmpty())
        return;
    m_progressText = tr("channel %1 written back").arg(device::channelLabel(index));
    m_bar->setRange(0, device::channelCount);
    m_bar->setValue(index);
    if (m_shown)
        showState();
}

void BusyIndicator::appear()
{
    if (m_shown || m_bus.commandCaption().isEmpty())
        return;
    m_shown = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    showState();
    if (m_makesRoom)
        m_makesRoom->hide();
    show();
}

void BusyIndicator::showState()
{
    QString text = m_bus.commandCaption();
    if (!m_progressText.isEmpty())
        text += QStringLiteral(": ") + m_progressText;
    if (!m_bus.commandCancellable())
        text += tr(" \u00b7 a burn cannot be stopped");
    // A modal window in front (the batch window) takes every click meant for this one: the
    // button would only look clickable, so it goes, and that window's own stop is the way.
    QWidget *modal = QApplication::activeModalWidget();
    const bool reachable = !modal || modal == window();
    if (m_bus.commandCancellable() && !reachable)
        text += tr(" \u00b7 stop it in \"%1\"").arg(modal->windowTitle());
    m_text->setText(text);
    m_cancel->setVisible(m_bus.commandCancellable() && reachable);
}

void BusyIndicator::commandFinished()
{
    m_delay.stop();
    m_running.invalidate();
    for (QWidget *widget : std::as_const(m_commandWidgets))
        widget->setEnabled(true);
    for (QAction *action : std::as_const(m_commandActions))
        action->setEnabled(true);
    // Unless the user put the focus elsewhere meanwhile.
    if (m_focusedCommand && QApplication::focusWidget() == m_focusedCommand->window())
        m_focusedCommand->setFocus(Qt::OtherFocusReason);
    m_focusedCommand = nullptr;
    if (!m_shown)
        return;
    m_shown = false;
    QGuiApplication::restoreOverrideCursor();
    hide();
    if (m_makesRoom)
        m_makesRoom->show();
}

} // namespace ui
