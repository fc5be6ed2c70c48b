// One whole sampling cycle against the router simulator on loopback, with no
// artificial delay, beside a reference that holds the same dialogue with
// plain blocking socket calls and no telnet layer.
//
// Cycle:     TForm1::Button1Click on Qt's offscreen platform (two logins,
//            the password, both commands read up to the prompt, both
//            decodings, 256 bars appended).
// Reference: two connections, the first closed at once; read to "word:",
//            send the password, read to ">", send each command and read its
//            reply to ">"; close.
// Maker:     TakeReading alone, as tirvane-read calls it (its own buffer and
//            table, no window, no hooks).
// CycleBesideReference runs one of each per iteration and reports the ratio
// cycle / reference of their total times, and maker / reference
// ("ratio_maker", target at most 1.3).
// FiguresBesideReference/<family>: the dialogue of tirvane-read with the
// line's figures asked for (the ZyXEL's three figure commands after its two,
// every family's figure rows) beside a reference that sends the same commands
// with blocking calls, each read up to the prompt. Target: at most 1.3. Target: no higher than before the
// cycle's steps had a deadline, 1.55 on one processor of a shared two-core
// machine (1.5 on two, when runs still swung widely); the connects that can
// be cut short cost about 0.02 of it. Decode measures both decodings of a
// real pair of replies as the cycle runs them, capture buffer included.
//
// Run as root inside a private network namespace with loopback up, e.g.
//   unshare -n sh -c 'ip link set lo up; exec build/bench/bench_cycle'
// The simulator binds port 23 on an address 127.x.y.z of its own; all of it
// runs on one processor (see StayOnOneProcessor).
#include "line/capture_buffer.h"
#include "line/cycle_dialogue.h"
#include "line/family_dialogue.h"
#include "line/line_data.h"
#include "line/take_reading.h"
#include "app/main_window.h"
#include "support/bench_main.h"
#include "support/loopback_peer.h"
#include "support/router_sim_process.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

constexpr char Marker[] = "xdsl debug bitloadinginfo";

RouterSimProcess& Simulator()
{
    static RouterSimProcess sim([] {
        RouterSimProcess::Options o;
        o.address = RouterSimProcess::UniqueLoopbackAddress();
        return o;
    }());
    return sim;
}

// The reference client: blocking calls, nothing but what the dialogue needs.
class PlainConnection : public LoopbackClient {
public:
    PlainConnection(const std::string& address, int port)
    {
        if (!Connect(address, port))
            throw std::runtime_error("reference: cannot connect to the simulator");
    }

    // Closes the way the monitor's socket does: stop sending, wait 1 ms, read
    // and discard what is pending, then release.
    void DrainingClose()
    {
        ::shutdown(Fd(), SHUT_WR);
        ::usleep(1000);
        int pending = 0;
        char buf[65536];
        while (::ioctl(Fd(), FIONREAD, &pending) == 0 && pending > 0 && ::recv(Fd(), buf, sizeof buf, 0) > 0) {
        }
        Close();
    }

    void Send(const std::string& text) { SendRaw(text); }

    // What came before `terminator`, read with plain blocking reads; the rest
    // stays for the next call.
    std::string ReceiveUntil(const std::string& terminator)
    {
        auto before = LoopbackClient::ReceiveUntil(terminator, -1);
        if (!before)
            throw std::runtime_error("reference: the simulator closed the connection");
        return *before;
    }
};

struct RawReplies {
    std::string far;
    std::string near;
};

RawReplies ReferenceDialogue(const RouterSimProcess& sim, bool drainingClose = false, bool figures = false)
{
    auto first = std::make_unique<PlainConnection>(sim.Address(), sim.Port());
    if (drainingClose)
        first->DrainingClose();
    PlainConnection c(sim.Address(), sim.Port());
    first.reset();
    c.ReceiveUntil("word:");
    c.Send("1234\r\n");
    c.ReceiveUntil(">");
    RawReplies r;
    c.Send("wan adsl linedata far\r\n");
    r.far = c.ReceiveUntil(">");
    c.Send("wan adsl linedata near\r\n");
    r.near = c.ReceiveUntil(">");
    for (const char* command : ZyxelFigureCommands) {
        if (!figures)
            break;
        c.Send(std::string(command) + "\r\n");
        c.ReceiveUntil(">");
    }
    if (drainingClose)
        c.DrainingClose();
    return r;
}

void BM_Cycle(benchmark::State& state)
{
    RouterSimProcess& sim = Simulator();
    TForm1 form;
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    for (auto _ : state) {
        form.Button1Click();
        form.Timer1->stop();
    }
    // The bars must be the router's, or the time means nothing.
    const auto expected = sim.ExpectedTones();
    for (int t = 0; t <= 512; ++t) {
        if (ZyxelToneTable()[static_cast<std::size_t>(t)] != expected[static_cast<std::size_t>(t)]) {
            state.SkipWithError("the cycle did not decode what the simulator served");
            break;
        }
    }
}
BENCHMARK(BM_Cycle)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_Reference(benchmark::State& state)
{
    RouterSimProcess& sim = Simulator();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto r = ReferenceDialogue(sim);
        bytes += r.far.size() + r.near.size();
    }
    state.counters["reply_bytes"] = benchmark::Counter(double(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// All in the same iteration, one after the other, so the machine's load
// falls on each alike; "ratio" is total cycle time over total reference time.
// The cycle hands its reading to the history's writer; that write is waited
// for after each cycle, outside both contestants' time, so it can never land
// in the reference's turn, and is reported on its own: "record_ms" per
// reading, and "ratio_recorded" with it counted as the cycle's.
// "ratio_draining" compares with a reference that closes each connection by
// pausing 1 ms, then draining; the monitor's closes end that pause as soon as
// the peer answers.
void BM_CycleBesideReference(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    RouterSimProcess& sim = Simulator();
    TForm1 form;
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    Clock::duration recording{};
    const std::vector<double> ms = TakeTurns(state, {
        [&] {
            form.Button1Click();
            form.Timer1->stop();
            const auto start = Clock::now();
            form.FlushHistory();
            recording += Clock::now() - start;
        },
        [&] { benchmark::DoNotOptimize(ReferenceDialogue(sim)); },
        [&] { benchmark::DoNotOptimize(ReferenceDialogue(sim, true)); },
        [&] {
            TReadingRequest request;
            request.Host = QString::fromStdString(sim.Address());
            request.Password = QStringLiteral("1234");
            request.Deadline = Clock::now() + CycleDeadline;
            const TTakenReading taken = TakeReading(request);
            if (!taken.Complete())
                state.SkipWithError("the maker's reading did not complete");
            benchmark::DoNotOptimize(taken);
        }});
    const double recordMs = std::chrono::duration<double, std::milli>(recording).count() / double(state.iterations());
    const double cycleMs = ms[0] - recordMs, referenceMs = ms[1], drainingMs = ms[2], makerMs = ms[3];
    state.counters["cycle_ms"] = cycleMs;
    state.counters["record_ms"] = recordMs;
    state.counters["reference_ms"] = referenceMs;
    state.counters["draining_ms"] = drainingMs;
    state.counters["ratio"] = cycleMs / referenceMs;
    state.counters["ratio_recorded"] = (cycleMs + recordMs) / referenceMs;
    state.counters["ratio_draining"] = cycleMs / drainingMs;
    state.counters["maker_ms"] = makerMs;
    state.counters["ratio_maker"] = makerMs / referenceMs;
}
BENCHMARK(BM_CycleBesideReference)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

RouterSimProcess& FamilySimulator(TRouterFamily family)
{
    static std::map<TRouterFamily, std::unique_ptr<RouterSimProcess>> sims;
    auto& sim = sims[family];
    if (!sim)
        sim = std::make_unique<RouterSimProcess>(
            family == TRouterFamily::Zyxel ? [] {
                RouterSimProcess::Options o;
                o.address = RouterSimProcess::UniqueLoopbackAddress();
                return o;
            }()
                                           : RouterSimProcess::Family(RouterFamilyRow(family).Name, "17a"));
    return *sim;
}

// The same commands as the family's dialogue with the figures asked for,
// through the family's login, with blocking calls.
void FamilyReference(const RouterSimProcess& sim, TRouterFamily family)
{
    const std::string command = family == TRouterFamily::Lantiq ? "# " : "> ";
    PlainConnection c(sim.Address(), sim.Port());
    c.ReceiveUntil(family == TRouterFamily::Draytek ? "Account:" : "ogin: ");
    c.Send(std::string(RouterFamilyRow(family).User) + "\r\n");
    c.ReceiveUntil("word: ");
    c.Send("1234\r\n");
    if (family == TRouterFamily::Broadcom) {
        c.ReceiveUntil("ATP>");
        c.Send("sh\r\n");
        c.ReceiveUntil("# ");
    } else {
        c.ReceiveUntil(command);
    }
    const std::string prompt = family == TRouterFamily::Draytek ? command : "# ";
    for (const TFamilyCommand& row : FamilyCommands(family)) {
        c.Send(std::string(row.Command) + "\r\n");
        c.ReceiveUntil(prompt);
    }
    c.Send(family == TRouterFamily::Broadcom ? "exit\r\nexit\r\n" : "exit\r\n");
}

void BM_FiguresBesideReference(benchmark::State& state, TRouterFamily family)
{
    RouterSimProcess& sim = FamilySimulator(family);
    TDialogueRequest request;
    request.Host = sim.Address();
    request.Password = "1234";
    request.Prompt = family == TRouterFamily::Zyxel ? ">" : "";
    request.ReadFigures = true;
    bool read = true;
    const std::vector<double> ms = TakeTurns(state, {
        [&] {
            if (family == TRouterFamily::Zyxel) {
                TCaptureBuffer memo;
                TZyxelToneTable tones{};
                const TDialogueOutcome outcome = RunCycleDialogue(request, memo, tones);
                read = read && outcome.Completed && outcome.Figures.SinceLinkS.has_value();
            } else {
                const TFamilyCycle cycle = RunFamilyDialogue(request, family);
                read = read && cycle.Line.Ok() && !cycle.Line.Figures.Down.Empty();
            }
        },
        [&] {
            if (family == TRouterFamily::Zyxel)
                benchmark::DoNotOptimize(ReferenceDialogue(sim, false, true));
            else
                FamilyReference(sim, family);
        }});
    if (!read)
        state.SkipWithError("the dialogue did not read the line and its figures");
    state.counters["cycle_ms"] = ms[0];
    state.counters["reference_ms"] = ms[1];
    state.counters["ratio"] = ms[0] / ms[1];
}
BENCHMARK_CAPTURE(BM_FiguresBesideReference, zyxel, TRouterFamily::Zyxel)
    ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_FiguresBesideReference, broadcom, TRouterFamily::Broadcom)
    ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_FiguresBesideReference, lantiq, TRouterFamily::Lantiq)
    ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_FiguresBesideReference, draytek, TRouterFamily::Draytek)
    ->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_DecodeBothReplies(benchmark::State& state)
{
    const auto replies = ReferenceDialogue(Simulator());
    TCaptureBuffer memo;
    TZyxelToneTable tones{};
    for (auto _ : state) {
        memo.Clear();
        memo.Append(Marker);
        memo.Append(replies.far);
        DecodeFarEnd(memo, tones);
        memo.Clear();
        memo.Append(Marker);
        memo.Append(replies.near);
        DecodeNearEnd(memo, tones);
        benchmark::DoNotOptimize(tones);
    }
    const auto expected = Simulator().ExpectedTones();
    for (int t = 0; t <= 512; ++t) {
        if (tones[static_cast<std::size_t>(t)] != expected[static_cast<std::size_t>(t)]) {
            state.SkipWithError("decoding differs from what the simulator served");
            break;
        }
    }
}
BENCHMARK(BM_DecodeBothReplies)->Unit(benchmark::kMicrosecond);

// On a shared machine with few processors, a wake-up that must bring another
// (virtual) processor out of its sleep costs more than the work it wakes for,
// and how often that happens depends on everything else running: ratios
// swung from 1.4 to 2.1 between runs. On one processor the program, the
// simulator and the reference take turns the same way every run.
void StayOnOneProcessor()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            ::sched_setaffinity(0, sizeof one, &one);
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    StayOnOneProcessor(); // before the simulator starts: it inherits this
    return RunBenchmarksWithPrivateData<QApplication>(argc, argv);
}
