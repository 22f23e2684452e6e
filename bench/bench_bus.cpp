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

constexpr int dacWriteLineOperations = 226;
constexpr int readAllLineOperations = 25 * (118 + 172 + 16);

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
BENCHMARK(busPause)->Name("BusPause");

BENCHMARK_MAIN();
