// SPDX-License-Identifier: MIT
// One register write through the command-line tool's held session on the simulated board: the
// C++ side of what one board.set_code() from Python costs (bench/python_set_code.py measures
// the Python side against this figure). --sweep adds a 1024-code sweep on the slowed board.
#include "cli/clicommand.h"
#include "cli/clisession.h"
#include "cli/output.h"
#include "device/settingsstore.h"
#include "log/logging.h"

#include <QTemporaryDir>
#include <QTextStream>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

// A session on the simulated board, its settings in a folder of its own: the benchmark never
// reads or writes the user's settings.
class HeldSession
{
public:
    explicit HeldSession(const QString &port)
        : m_settings(m_folder.filePath(QStringLiteral("KALVENTA.ini"))), m_out(&m_text),
          m_session(m_settings, m_out, m_out)
    {
        // As in kalventa-cli and the module: every command leaves a line in the diagnostics' ring.
        logging::install();
        auto output = std::make_unique<cli::KeptOutput>(m_out, m_out);
        m_kept = output.get();
        m_session.setOutput(std::move(output));
        m_open = m_session.open({QStringLiteral("kalventa-cli"), QStringLiteral("--port"), port,
                                 QStringLiteral("--vsup"), QStringLiteral("3.3"),
                                 QStringLiteral("--no-log")}) == cli::ExitStatus::Ok;
    }
    ~HeldSession() { m_session.close(); }

    bool isOpen() const { return m_open; }
    bool setCode(int channel, int code)
    {
        cli::Command command;
        command.kind = cli::Command::Kind::Code;
        command.channel = channel;
        command.code = code;
        m_kept->clear();
        return m_session.command(command) == cli::ExitStatus::Ok;
    }

private:
    QTemporaryDir m_folder;
    device::SettingsStore m_settings;
    QString m_text;
    QTextStream m_out;
    cli::CliSession m_session;
    cli::KeptOutput *m_kept = nullptr;
    bool m_open = false;
};

void heldSessionSetCode(benchmark::State &state)
{
    HeldSession session(QStringLiteral("sim"));
    if (!session.isOpen()) {
        state.SkipWithError("the simulated board did not open");
        return;
    }
    int code = 0;
    for (auto _ : state) {
        if (!session.setCode(1, code)) {
            state.SkipWithError("the write failed");
            break;
        }
        code = (code + 1) % 1024;
    }
    state.SetItemsProcessed(state.iterations());
}

// Every code of one channel on the board slowed to 1 ms per line operation: the time the bus
// itself takes for the sweep that bench/python_set_code.py --sweep runs from Python.
void sweepOnSlowBoard(benchmark::State &state)
{
    HeldSession session(QStringLiteral("sim:1ms"));
    if (!session.isOpen()) {
        state.SkipWithError("the simulated board did not open");
        return;
    }
    for (auto _ : state) {
        for (int code = 0; code < 1024; ++code) {
            if (!session.setCode(1, code)) {
                state.SkipWithError("the write failed");
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::RegisterBenchmark("heldSessionSetCode", heldSessionSetCode)
        ->Unit(benchmark::kMicrosecond);
    // About four minutes: only when asked for.
    if (argc > 1 && std::strcmp(argv[1], "--sweep") == 0) {
        benchmark::RegisterBenchmark("sweepOnSlowBoard", sweepOnSlowBoard)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
