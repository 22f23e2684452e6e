// SPDX-License-Identifier: MIT
// The engine's own cost, measured against the simulated board: per line operation and per read
// of the whole chip. A native serial port needs several microseconds per modem-line change, so
// the program must stay well below that.
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "device/bitstrings.h"
#include "port/seriallines.h"
#include "sim/simulatedboard.h"

#include <benchmark/benchmark.h>

namespace {

// Lines that go nowhere: what is left is the engine alone.
class NullLines : public port::SerialLines
{
public:
    bool isOpen() const override { return true; }
    void setDtr(bool asserted) override { benchmark::DoNotOptimize(asserted); }
    void setRts(bool asserted) override { benchmark::DoNotOptimize(asserted); }
    bool dsr() override { return false; }
    void writeData(const QByteArray &) override {}
};

// Line writes and DSR readings: a frame reads SDA before its START and every acknowledge of a byte
// it writes.
constexpr int dacWriteLineOperations = 226 + 5;
constexpr int readAllLineOperations = 25 * (118 + 3 + 172 + 18);
// A chip stuck at the start of a zero word: the check, eight pulses until the chip lets go at its
// acknowledge slot, the START and STOP, the last reading.
constexpr int busClearLineOperations = 2 + 1 + 8 * 3 + 2 + 1;

void perLineOperation(benchmark::State &state, int operationsPerIteration)
{
    // Printed as seconds per line operation, with an SI prefix (n = nanoseconds).
    state.counters["per_line_op"] =
        benchmark::Counter(double(operationsPerIteration) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * operationsPerIteration);
}

template<class Lines> void dacWrite(benchmark::State &state)
{
    Lines lines;
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
    const device::DataBits data = device::codeToDataBits(682);
    const QString address = device::chipAddressBits(QStringLiteral("0"));
    const QString reg = device::decmal_to_binary8(4);
    for (auto _ : state)
        chip.writeDacRegister(data.low, data.high, address, reg);
    perLineOperation(state, dacWriteLineOperations);
}

template<class Lines> void readAllRegisters(benchmark::State &state)
{
    Lines lines;
    bus::LineEngine engine(lines);
    bus::ChipBus chip(engine);
    const QString a0 = QStringLiteral("0");
    QString registers[24];
    for (int i = 0; i < 24; ++i)
        registers[i] = device::decmal_to_binary5(i);
    for (auto _ : state) {
        int sum = 0;
        for (const QString &reg : registers) {
            chip.readDacRegister(reg, a0);
            sum += chip.registerWord();
        }
        sum += chip.readMaxBank(a0);
        benchmark::DoNotOptimize(sum);
    }
    perLineOperation(state, readAllLineOperations);
}

// The bus clear, as the program runs it on a chip left inside a read.
void busClear(benchmark::State &state)
{
    sim::SimulatedBoard board;
    bus::LineEngine engine(board);
    for (auto _ : state) {
        state.PauseTiming();
        board.freezeChipMidRead(0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(engine.checkBus());
    }
    if (engine.busClearCount() != quint64(state.iterations()))
        state.SkipWithError("the bus was not held");
    perLineOperation(state, busClearLineOperations);
}

void busPause(benchmark::State &state)
{
    NullLines lines;
    bus::LineEngine engine(lines);
    for (auto _ : state)
        engine.busPause();
}

} // namespace

BENCHMARK(dacWrite<sim::SimulatedBoard>)->Name("DacWrite/SimulatedBoard");
BENCHMARK(dacWrite<NullLines>)->Name("DacWrite/EngineOnly");
BENCHMARK(readAllRegisters<sim::SimulatedBoard>)->Name("ReadAll25Pairs/SimulatedBoard");
BENCHMARK(readAllRegisters<NullLines>)->Name("ReadAll25Pairs/EngineOnly");
BENCHMARK(busClear)->Name("BusClear/SimulatedBoard");
BENCHMARK(busPause)->Name("BusPause");

BENCHMARK_MAIN();
