// SPDX-License-Identifier: MIT
#pragma once

#include "cli/clicommand.h"
#include "cli/clisession.h"
#include "cli/output.h"
#include "device/settingsstore.h"
#include "python/pybind.h"
#include "python/pythonerrors.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace python {

// How kalventa.open() was called.
struct OpenRequest
{
    QString port;
    int a0 = 0;
    std::optional<double> vsup;
    QString trace; // empty: none
    QStringList faults;
    std::optional<bool> fastMode;
    bool log = true;
    bool verbose = false;
};

// One board on one port, open until close(): the command-line tool's session held open, so that
// each call is one command of it with the tool's frames, checks and messages. The bus works with
// the GIL released; a long operation reports its progress to a callback, and Ctrl-C stops it
// between two frames (never a burn).
class Board
{
public:
    explicit Board(const OpenRequest &request);
    ~Board();
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    pybind11::dict read();
    int get(const pybind11::handle &channel);
    void setCode(const pybind11::handle &channel, const pybind11::handle &code, bool verify);
    pybind11::dict setVoltage(const pybind11::handle &channel, double volts, bool verify);
    pybind11::dict load(const pybind11::handle &path, bool verify);
    pybind11::dict save(const pybind11::handle &path);
    pybind11::dict verify(const pybind11::handle &path);
    void reset();
    pybind11::dict selftest();
    pybind11::list scan();
    pybind11::dict burn(const pybind11::handle &channels, const pybind11::handle &confirm);

    int a0() const;
    void setA0(int a0);
    std::optional<double> vsup() const;
    void setVsup(std::optional<double> vsup);
    const QString &port() const { return m_port; }
    // Called as progress(done, total) while a long operation runs; None for none.
    pybind11::object progress() const { return m_progress; }
    void setProgress(pybind11::object callback);

    // Writes the trace and closes the port; a closed board refuses every operation.
    void close();
    bool closed() const { return !m_session; }

    // For tests, on the simulated board ("sim" ports only): a chip taken off the bus or put back,
    // a register changed behind the program's back, the port pulled out after so many line
    // operations (USB transfers behind sim-ft232r).
    void simulateChipPresent(int a0, bool present);
    void simulateRegister(int a0, int reg, int code);
    void simulateUnplugAfter(int operations);

private:
    // Runs one command of the session with the GIL released; raises its failure.
    const QJsonObject &run(const cli::Command &command);
    void requireOpen() const;
    void requireSimulated() const;
    // Between two frames: the signal that stops the command under way, 0 while none does.
    int stopSignal();
    void reportProgress(int done, int total);
    void passOnNotes();

    QString m_port;
    QString m_sink; // the session's text, which Python does not read
    QTextStream m_out{&m_sink};
    QTextStream m_err{&m_sink};
    device::SettingsStore m_settings;
    cli::KeptOutput *m_output = nullptr; // the session's
    std::unique_ptr<cli::CliSession> m_session;
    std::mutex m_busy; // one operation at a time, whichever thread asks

    pybind11::object m_progress = pybind11::none();
    int m_stop = 0;
    bool m_burning = false;
    std::chrono::steady_clock::time_point m_nextSignalCheck;
    // What Python raised meanwhile (Ctrl-C, or the progress callback), raised at the end.
    std::optional<pybind11::error_already_set> m_pending;
};

} // namespace python
