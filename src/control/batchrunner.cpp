// SPDX-License-Identifier: MIT
#include "control/batchrunner.h"

#include "control/batchlist.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/registergrid.h"
#include "device/filenames.h"
#include "device/numbertext.h"
#include "device/paths.h"
#include "device/registersetfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace control {

BatchRunner::BatchRunner(device::DeviceModel &model, RegisterGrid &grid, ChipOperations &operations,
                         QObject *parent)
    : QObject(parent), m_model(model), m_grid(grid), m_operations(operations)
{}

void BatchRunner::setList(BatchList *list)
{
    if (m_list == list)
        return;
    m_list = list;
    // A run must never ask a list that is gone, nor keep playing behind a closed window.
    endAllRuns();
}

QString BatchRunner::openWindow()
{
    setStatusText(QString());
    m_batchStepPosition = 0;
    const QString stored = m_model.defaultDir;
    // A stored folder that has gone away is passed over without a word.
    if (!stored.isEmpty() && QDir(stored).exists())
        return QDir(stored).absolutePath();
    return QDir::currentPath();
}

QString BatchRunner::folderToOpen(const QString &typed, const QString &openFolder, QString *problem)
{
    QString path = typed.trimmed();
    if (path.isEmpty()) {
        *problem = tr("Type the path of a folder, then press Enter.");
        return {};
    }
    path = QDir::fromNativeSeparators(path);
    if (path == u'~' || path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    path = QDir::cleanPath(QDir(openFolder).absoluteFilePath(path));
    const QFileInfo info(path);
    const QString shown = device::shownFileName(path);
    if (!info.exists()) {
        *problem = tr("There is no folder %1.").arg(shown);
        return {};
    }
    if (!info.isDir()) {
        *problem = tr("%1 is a file, not a folder.").arg(shown);
        return {};
    }
    if (!info.isReadable() || !info.isExecutable()) {
        *problem = tr("The folder %1 cannot be opened: no permission to read it.").arg(shown);
        return {};
    }
    problem->clear();
    return path;
}

// A click served while a transaction is on the bus (inside its wait) must not start playing
// there: a run's commands would only queue behind that transaction, without end, and the run
// would never give the transaction back. It is taken up once the bus is free.
bool BatchRunner::deferredWhileOnBus(const std::function<void()> &action)
{
    BusThread *bus = m_operations.busThread();
    if (!bus || !bus->inFlight())
        return false;
    const quint64 generation = m_runGeneration;
    bus->whenFree([this, generation, action] {
        // A stop or a closed window meanwhile cancels what was asked for before it.
        if (m_runGeneration == generation)
            action();
    });
    return true;
}

void BatchRunner::run(const QString &delayText)
{
    if (!m_list || deferredWhileOnBus([this, delayText] { run(delayText); }))
        return;
    m_batchStopRequest = false;
    const double batchDelay = device::leadingNumber(delayText);
    const quint64 generation = m_runGeneration;
    const auto ended = [this, generation] {
        return m_batchStopRequest || m_runGeneration != generation;
    };

    // A run started while another stops, inside its last file, is running all the same.
    ++m_runDepth;
    setState(State::Running);
    while (!ended()) {
        // The pass keeps the count it started with, even if the folder changes meanwhile.
        const int n = m_list->count();
        bool played = false;
        for (int k = 0; k < n && !ended(); ++k) {
            if (!m_list->isSelected(k))
                continue;
            if (!playBatchEntry(k, PlayedBy::Run)) {
                endAllRuns();
                break;
            }
            played = true;
            if (m_wait)
                m_wait(batchDelay);
            else
                device::waitSeconds(batchDelay, &m_waits);
            if (m_runGeneration != generation)
                break;
            QCoreApplication::processEvents();
        }
        if (ended())
            break;
        QCoreApplication::processEvents();
        // Nothing selected: sleep until the user has had time to select or stop, rather than
        // asking the list again and again.
        if (!played && !ended())
            device::waitSeconds(idlePauseSeconds, &m_waits);
    }
    if (--m_runDepth == 0)
        setState(State::Stopped);
}

void BatchRunner::stop()
{
    m_batchStopRequest = true;
    // A file under way is played to its end first, seconds on a slow adapter; a run in its wait
    // ends at once.
    if (m_runDepth > 0)
        setState(State::Stopping);
    ++m_runGeneration; // what a click asked for while the bus was busy is dropped too
    m_waits.cutShort();
}

void BatchRunner::stepDown()
{
    step(Direction::Down);
}

void BatchRunner::stepUp()
{
    step(Direction::Up);
}

void BatchRunner::step(Direction direction)
{
    BatchList *list = m_list;
    if (!list || deferredWhileOnBus([this, direction] { step(direction); }))
        return;
    const int n = list->count();
    if (n <= 0) {
        setStatusText(tr("No files to step through"));
        return;
    }
    int topmost = -1;
    for (int k = 0; k < n && topmost < 0; ++k) {
        if (list->isSelected(k))
            topmost = k;
    }
    if (topmost < 0) {
        setStatusText(tr("No file selected"));
        return;
    }

    int p = m_batchStepPosition;
    if (m_batchListClicked) {
        // After a change of the selection stepping starts again from the top, either way.
        p = topmost;
        m_batchListClicked = false;
    } else if (p < 0 || p >= n) {
        m_batchStepPosition = 0;
        setStatusText(tr("The list has changed; the next step starts at the top"));
        return;
    } else {
        // The search ends: at least one entry is selected and p stays within the list.
        do {
            if (direction == Direction::Down)
                p = p < n - 1 ? p + 1 : 0;
            else
                p = p <= 0 ? n - 1 : p - 1;
        } while (!list->isSelected(p));
    }
    // Kept even if the entry cannot be played, so the next step moves past it.
    m_batchStepPosition = p;
    playBatchEntry(p, PlayedBy::SingleStep);
}

bool BatchRunner::playBatchEntry(int position, PlayedBy playedBy)
{
    if (!m_list || position < 0 || position >= m_list->count())
        return false;
    const QString name = m_list->name(position);
    const QString path = device::joinPath(m_list->folder(), name);

    // The whole file is read and checked first: a bad file must not leave the chip half loaded.
    QString error;
    const std::optional<device::RegisterSet> set = device::readRegisterSetFile(path, &error);
    if (!set) {
        setStatusText(playedBy == PlayedBy::Run ? tr("Run stopped. Not played: %1").arg(error)
                                                : tr("Not played: %1").arg(error));
        return false;
    }

    // Said before the file goes out: on a slow adapter playing it takes seconds, and the status
    // line names the file under way.
    const QString shown = device::shownFileName(name);
    setStatusText(playedBy == PlayedBy::Run ? shown : shown + device::numberText(position));
    // Unlike loading a file from the main window, the "Vsup" box keeps its text.
    // By value: the command may wait until the transaction under way has ended.
    runCommand(m_operations.busThread(), tr("Playing %1").arg(shown), Cancel::Allowed,
               [this, set = *set] {
                   m_grid.loadRegisterSet(set);
                   m_operations.sendMarkerBlock();
               });
    emit entryPlayed(position, name);
    return true;
}

void BatchRunner::setWaitFunction(std::function<void(double)> wait)
{
    m_wait = std::move(wait);
}

void BatchRunner::endAllRuns()
{
    ++m_runGeneration;
    m_waits.cutShort();
}

QString BatchRunner::stateText(State state)
{
    switch (state) {
    case State::Running:
        return tr("Running");
    case State::Stopping:
        return tr("Stopping after this file");
    case State::Stopped:
        break;
    }
    return tr("Stopped");
}

void BatchRunner::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void BatchRunner::setStatusText(const QString &text)
{
    if (m_statusText == text)
        return;
    m_statusText = text;
    emit statusTextChanged(text);
}

} // namespace control
