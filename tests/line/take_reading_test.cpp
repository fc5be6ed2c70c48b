// Every family's reading taken through the one maker against the simulator on
// loopback (in a private network namespace): the reading, its outcome and the
// sentence that says why it is not complete; QLN and Hlog carried over while
// the line has not retrained; and Stop in the middle of a trickled reply
// ending the cycle and its connection at once.
#include "line/take_reading.h"
#include "support/router_sim_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

TReadingRequest Request(const std::string& host, TRouterFamily family)
{
    TReadingRequest request;
    request.Host = QString::fromStdString(host);
    request.Password = QStringLiteral("1234");
    request.Family = family;
    request.Deadline = std::chrono::steady_clock::now() + CycleDeadline;
    return request;
}

TEST(TakeReading, EachFamilyAndOutcome)
{
    TReading previous;
    previous.Outcome = TReadingOutcome::LineUp;
    previous.Spectra.Qln.Down.Groups = {-140.5f, -139.0f};
    const struct {
        const char* name;
        TRouterFamily family;
        std::vector<std::string> args; // empty: nothing listens
        const char* host;              // nullptr: the simulator's
        TReadingOutcome outcome;
        TFailureCause cause;
        std::string text; // "@": the address
        std::size_t tones;
    } cases[] = {
        {"zyxel", TRouterFamily::Zyxel, {"--router", "zyxel"}, nullptr, TReadingOutcome::LineUp, TFailureCause::None, "", 513},
        {"zyxel", TRouterFamily::Zyxel, {"--wrong-password"}, nullptr, TReadingOutcome::LoginRefused,
            TFailureCause::PasswordRefused, "The router did not accept the password", 513},
        {"zyxel", TRouterFamily::Zyxel, {}, nullptr, TReadingOutcome::NoAnswer, TFailureCause::NothingAnswers,
            "Nothing answers at @ port 23", 513},
        {"zyxel", TRouterFamily::Zyxel, {"--drop", "near"}, nullptr, TReadingOutcome::NoAnswer,
            TFailureCause::ReplyCutAfterUpstream, "The reply stopped after the upstream tones", 513},
        {"broadcom", TRouterFamily::Broadcom, {"--router", "broadcom", "--profile", "17a"}, nullptr,
            TReadingOutcome::LineUp, TFailureCause::None, "", 4096},
        {"draytek", TRouterFamily::Draytek, {"--router", "draytek", "--profile", "30a"}, nullptr,
            TReadingOutcome::LineUp, TFailureCause::None, "", 3479},
        {"broadcom", TRouterFamily::Broadcom, {"--router", "broadcom", "--training"}, nullptr, TReadingOutcome::LineDown,
            TFailureCause::LineDown, "the line is not in showtime (Status: G.994 Training)", 0},
        {"lantiq", TRouterFamily::Lantiq, {"--router", "lantiq", "--training"}, nullptr, TReadingOutcome::LineDown,
            TFailureCause::LineDown, "the line is not in showtime (nLineState=0x300)", 0},
        {"draytek", TRouterFamily::Draytek, {"--router", "draytek", "--wrong-password"}, nullptr,
            TReadingOutcome::LoginRefused, TFailureCause::PasswordRefused,
            "The router refused the user name or the password while sending the password", 0},
        // A Lantiq modem read as a Broadcom: its shell knows none of the commands.
        {"broadcom", TRouterFamily::Broadcom, {"--router", "lantiq"}, nullptr, TReadingOutcome::NotUnderstood,
            TFailureCause::NotUnderstood, "the router did not say the line's state", 0},
        {"lantiq", TRouterFamily::Lantiq, {}, nullptr, TReadingOutcome::NoAnswer, TFailureCause::NothingAnswers,
            "Nothing answers at @ port 23", 0},
        {"draytek", TRouterFamily::Draytek, {}, "", TReadingOutcome::Unknown, TFailureCause::EmptyHost,
            "Host is empty: type the router's address in Host", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + (c.args.empty() ? "" : c.args.back()) + " " + c.text);
        const std::string address = RouterSimProcess::UniqueLoopbackAddress();
        std::optional<RouterSimProcess> sim;
        if (!c.args.empty())
            sim.emplace(RouterSimProcess::Options{address, 23, "1234", "", false, 1, c.args});
        TReadingRequest request = Request(c.host ? c.host : address, c.family);
        request.Previous = &previous;
        const TTakenReading taken = TakeReading(request);
        const TReading& reading = taken.Reading;
        std::string text = c.text;
        if (const auto at = text.find('@'); at != std::string::npos)
            text.replace(at, 1, address);
        EXPECT_EQ(taken.Failure.Cause, c.cause);
        EXPECT_EQ(taken.Failure.Text, text);
        EXPECT_EQ(reading.Outcome, c.outcome);
        EXPECT_EQ(reading.Completed, c.cause == TFailureCause::None);
        EXPECT_EQ(taken.Recordable(), c.cause != TFailureCause::EmptyHost);
        EXPECT_EQ(reading.Router, RouterFamilyName(c.family));
        EXPECT_EQ(reading.Host, request.Host);
        ASSERT_EQ(reading.Bits.size(), c.tones);
        if (c.outcome == TReadingOutcome::LineDown) {
            EXPECT_FALSE(reading.Figures.State.isEmpty());
        }
        if (c.cause != TFailureCause::None)
            continue;
        // The line served, tone for tone, and QLN of the training it is
        // still in.
        if (c.family == TRouterFamily::Zyxel) {
            const auto expected = sim->ExpectedTones();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reading.Bits.begin()));
        } else {
            EXPECT_EQ(std::vector<int>(reading.Bits.begin(), reading.Bits.end()), sim->LastServedLine().value());
            EXPECT_FALSE(reading.Bands.Downstream.empty());
        }
        EXPECT_EQ(reading.Spectra.Qln, previous.Spectra.Qln);
    }
}

TEST(TakeReading, TrainingIsReadAfterARetrainOrWhenNothingCarries)
{
    TSpectrumPart qln;
    qln.Groups = {-140.0f};
    const struct {
        std::optional<TReadingOutcome> previous; // none: no previous reading
        bool withQln;
        bool read;
    } cases[] = {
        {std::nullopt, false, true},
        {TReadingOutcome::LineDown, true, true},
        {TReadingOutcome::NoAnswer, true, true},
        {TReadingOutcome::LineUp, false, true},
        {TReadingOutcome::LineUp, true, false},
    };
    for (const auto& c : cases) {
        TReading previous;
        if (c.previous)
            previous.Outcome = *c.previous;
        if (c.withQln)
            previous.Spectra.Qln.Down = qln;
        EXPECT_EQ(TrainingToRead(c.previous ? &previous : nullptr), c.read) << int(c.previous.value_or(TReadingOutcome::Unknown)) << c.withQln;
    }
}

// Whether a connection from here to address:23 is still established, by the
// kernel's table of this network namespace.
bool Connected(const std::string& address)
{
    in_addr ip{};
    inet_pton(AF_INET, address.c_str(), &ip);
    char remote[16];
    std::snprintf(remote, sizeof remote, "%08X:0017", ip.s_addr);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, peer, state;
        fields >> slot >> local >> peer >> state;
        if (peer == remote && state == "01")
            return true;
    }
    return false;
}

// Stop while a reply comes a byte every 30 ms and never reaches its prompt:
// the cycle ends at once, stopped, and its connection is gone, long before
// the deadline would have ended it.
TEST(TakeReading, StopInTheMiddleOfATrickledReplyEndsTheCycle)
{
    const struct {
        const char* family;
        TRouterFamily router;
        const char* reply;
    } cases[] = {
        {"broadcom", TRouterFamily::Broadcom, "near"},
        {"lantiq", TRouterFamily::Lantiq, "far"},
        {"draytek", TRouterFamily::Draytek, "far"},
        {"zyxel", TRouterFamily::Zyxel, "near"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        RouterSimProcess sim(RouterSimProcess::Family(c.family, "17a", {"--trickle", c.reply, "--trickle-ms", "30"}));
        TReadingRequest request = Request(sim.Address(), c.router);
        request.Deadline = std::chrono::steady_clock::now() + 60s;
        // The trickled reply is under way a second after the first command.
        std::optional<std::chrono::steady_clock::time_point> stopAt;
        bool connectedAtStop = false;
        TDialogueHooks hooks;
        hooks.PumpEvents = [&] { stopAt = std::chrono::steady_clock::now() + 1s; };
        hooks.Heartbeat = [&] {
            if (!stopAt || std::chrono::steady_clock::now() < *stopAt)
                return false;
            connectedAtStop = connectedAtStop || Connected(sim.Address());
            return true;
        };
        const TTakenReading taken = TakeReading(request, hooks);
        const auto ended = std::chrono::steady_clock::now();
        ASSERT_TRUE(stopAt);
        EXPECT_TRUE(connectedAtStop);
        EXPECT_EQ(taken.Failure.Cause, TFailureCause::Stopped);
        EXPECT_FALSE(taken.Recordable());
        EXPECT_LT(ended - *stopAt, 5s); // 0.5 s on a quiet machine; the deadline is a minute away
        EXPECT_FALSE(Connected(sim.Address()));
    }
}

} // namespace
