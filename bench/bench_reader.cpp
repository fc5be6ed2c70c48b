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
#include "app/cycle_dialogue.h"
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

    using Clock = std::chrono::steady_clock;
    Clock::duration readerTime{}, cycleTime{}, dialogueTime{};
    int first = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 3; ++turn) {
            const auto start = Clock::now();
            switch ((first + turn) % 3) {
            case 0: {
                const support::CommandResult run = support::RunCommand(reader, env, support::Milliseconds(60000));
                readerTime += Clock::now() - start;
                if (run.exitCode != 0)
                    state.SkipWithError(("tirvane-read failed: " + run.output).c_str());
                break;
            }
            case 1:
                form.Button1Click();
                cycleTime += Clock::now() - start;
                break;
            default: {
                TCaptureBuffer memo;
                TToneTable tones{};
                benchmark::DoNotOptimize(RunCycleDialogue(request, memo, tones));
                dialogueTime += Clock::now() - start;
                break;
            }
            }
        }
        form.Timer1->stop();
        first = (first + 1) % 3;
    }
    const auto ms = [&](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() / double(state.iterations());
    };
    state.counters["reader_ms"] = ms(readerTime);
    state.counters["cycle_ms"] = ms(cycleTime);
    state.counters["dialogue_ms"] = ms(dialogueTime);
    state.counters["start_ms"] = ms(readerTime) - ms(dialogueTime);
    state.counters["ratio"] = ms(readerTime) / ms(cycleTime);
}
BENCHMARK(BM_ReaderBesideCycle)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithPrivateData<QApplication>(argc, argv);
}
