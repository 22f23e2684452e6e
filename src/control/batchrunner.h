// SPDX-License-Identifier: MIT
#pragma once

#include "device/waitseconds.h"

#include <QObject>
#include <QString>
#include <functional>

namespace device {
struct DeviceModel;
}

namespace control {

class BatchList;
class ChipOperations;
class RegisterGrid;

// The batch runner: plays register-set files of a folder to the chip, as an endless timed run
// over the selected entries or one entry at a time. Its state outlives the window: it belongs
// for the whole program run, and the window only lends it a list while it is open.
//
// Runs and steps nest: the user's buttons keep working while a run waits, so a step, a stop or
// a second run executes inside the wait of the run before it.
class BatchRunner : public QObject
{
    Q_OBJECT

public:
    // How long a run that found nothing to play sleeps before it looks at the list again.
    static constexpr double idlePauseSeconds = 0.05;

    // Who plays an entry; it decides the status line: a run shows the name ("ramp.csv"), a
    // single step the name and the list position ("ramp.csv 3").
    enum class PlayedBy { Run, SingleStep };

    // Stopping: "Stop Batch" was pressed while a file was under way; the run ends once that
    // file has been played, which on a slow adapter takes seconds.
    enum class State { Stopped, Running, Stopping };
    Q_ENUM(State)

    BatchRunner(device::DeviceModel &model, RegisterGrid &grid, ChipOperations &operations,
                QObject *parent = nullptr);

    // The window's file list while the window is open, nullptr once it closes. Taking the list
    // away (or lending another) ends every run at once, its wait included.
    void setList(BatchList *list);
    BatchList *list() const { return m_list; }

    // What opening the window does once the stored settings have been loaded again: the step
    // position goes back to 0. Returns the folder the window starts in: the stored default
    // folder if it exists, otherwise the process's current folder.
    QString openWindow();
    static QString initialDelayText() { return QStringLiteral("1"); }
    // The folder that a path typed in the window names, made absolute: a relative path starts at
    // the open folder, "~" is the home folder. Empty when it names no folder that can be listed,
    // with *problem saying why; the window then stays where it is.
    static QString folderToOpen(const QString &typed, const QString &openFolder, QString *problem);

    // "Run Batch": passes over the list until "Stop Batch", playing each entry that is selected
    // when the pass reaches it, with the delay after each. Returns when the run has ended.
    void run(const QString &delayText);
    // "Stop Batch": the run ends at once, its wait cut short; an entry being played is finished.
    void stop();
    // "Single Step Down" / "Single Step Up": the next selected entry below or above the one
    // last stepped to, wrapping around; the first step after a selection change plays the
    // topmost selected entry.
    void stepDown();
    void stepUp();
    // A click in the file list, or a change of its selection by keyboard.
    void listClicked() { m_batchListClicked = true; }

    // Loads one entry into the model and the chip, channel by channel, then sends the marker
    // block. A file that cannot be read in full sends nothing; the status line says why and the
    // result is false.
    bool playBatchEntry(int position, PlayedBy playedBy);

    bool batchStopRequest() const { return m_batchStopRequest; }
    int batchStepPosition() const { return m_batchStepPosition; }
    bool batchListClicked() const { return m_batchListClicked; }
    bool isRunning() const { return m_runDepth > 0; }
    State state() const { return m_state; }
    static QString stateText(State state);
    QString statusText() const { return m_statusText; }

    // The wait after each file of a run; by default a sleeping wait that serves events. Tests
    // replace it to see the delays asked for.
    void setWaitFunction(std::function<void(double seconds)> wait);

signals:
    void statusTextChanged(const QString &text);
    void stateChanged(control::BatchRunner::State state);
    void entryPlayed(int position, const QString &name);

private:
    enum class Direction { Down, Up };

    void step(Direction direction);
    // True when the action was put off until the bus is free.
    bool deferredWhileOnBus(const std::function<void()> &action);
    // Ends every run under way, waits included, without touching the stop request.
    void endAllRuns();
    void setStatusText(const QString &text);
    void setState(State state);

    device::DeviceModel &m_model;
    RegisterGrid &m_grid;
    ChipOperations &m_operations;
    BatchList *m_list = nullptr;
    bool m_batchStopRequest = false;
    int m_batchStepPosition = 0;
    bool m_batchListClicked = false;
    QString m_statusText;
    int m_runDepth = 0;
    State m_state = State::Stopped;
    // Runs compare it with the value they started with; a change ends them.
    quint64 m_runGeneration = 0;
    device::Waits m_waits; // the waits of the runs under way, which a stop cuts short
    std::function<void(double)> m_wait;
};

} // namespace control
