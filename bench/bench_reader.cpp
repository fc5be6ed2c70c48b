// A whole tirvane-read run against the router simulator on loopback, process
// start to exit, beside the monitor's in-process cycle and the shared
// dialogue on its own, taking turns in one loop so the machine's load falls
// on each alike.
//
// Reader:   fork, exec tirvane-read --host ... --format csv, wait for its exit.
// Cycle:    TForm1::Button1Click on Qt's offscreen platform (as bench_cycle).
// Dialogue: RunCycleDialogue alone, as the reader runs it, in this process.
// "ratio" is reader time over cycle time; "start_ms" the reader's time less
// the dialogue's, roughly what starting and ending a process costs.
//
// Run as root inside a private network namespace with loopback up, e.g.
//   unshare -n sh -c 'ip link set lo up; exec build/bench/bench_reader'
#include "line/cycle_dialogue.h"
#include "app/main_window.h"
#include "support/bench_main.h"
#include "support/child_process.h"
#include "support/router_sim_process.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <chrono>
#include <cstdlib>

namespace {

RouterSimProcess& Simulator()
{
    static RouterSimProcess sim([] {
        RouterSimProcess::Options o;
        o.address = RouterSimProcess::UniqueLoopbackAddress();
        return o;
    }());
    return sim;
}

void BM_ReaderBesideCycle(benchmark::State& state)
{
    RouterSimProcess& sim = Simulator();
    TForm1 form;
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    TDialogueRequest request;
    request.Host = sim.Address();
    request.Password = "1234";
    request.Prompt = ">";
    const std::vector<std::string> reader = {TIRVANE_READER, "--host", sim.Address(), "--format", "csv"};
    const support::Environment env = {{"TIRVANE_PASSWORD", "1234"}};

    const std::vector<double> ms = TakeTurns(state, {
        [&] {
            const support::CommandResult run = support::RunCommand(reader, env, support::Milliseconds(60000));
            if (run.exitCode != 0)
                state.SkipWithError(("tirvane-read failed: " + run.output).c_str());
        },
        [&] {
            form.Button1Click();
            form.Timer1->stop();
        },
        [&] {
            TCaptureBuffer memo;
            TZyxelToneTable tones{};
            benchmark::DoNotOptimize(RunCycleDialogue(request, memo, tones));
        }});
    const double readerMs = ms[0], cycleMs = ms[1], dialogueMs = ms[2];
    state.counters["reader_ms"] = readerMs;
    state.counters["cycle_ms"] = cycleMs;
    state.counters["dialogue_ms"] = dialogueMs;
    state.counters["start_ms"] = readerMs - dialogueMs;
    state.counters["ratio"] = readerMs / cycleMs;
}
BENCHMARK(BM_ReaderBesideCycle)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithPrivateData<QApplication>(argc, argv);
}
