// Each family's dialogue against the simulator speaking that family on
// loopback (in a private network namespace): the line read equals the line
// served, and a line that is not in showtime or a refused login is a failed
// cycle that says why.
#include "line/family_dialogue.h"
#include "support/router_sim_process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

TDialogueRequest Request(const std::string& host, const std::string& user = {}, const std::string& prompt = ">")
{
    TDialogueRequest request;
    request.Host = host;
    request.Username = user;
    request.Password = "1234";
    request.Prompt = prompt;
    request.Deadline = std::chrono::steady_clock::now() + CycleDeadline;
    return request;
}

TEST(FamilyDialogue, ReadsTheLineServed)
{
    const struct {
        TRouterFamily family;
        const char* name;
        const char* profile;
        const char* mode;
        int tones;
        std::vector<std::string> extra;
    } cases[] = {
        {TRouterFamily::Broadcom, "broadcom", "adsl2+", "ADSL2+", 512, {}},
        {TRouterFamily::Broadcom, "broadcom", "17a", "VDSL2 17a", 4096, {}},
        {TRouterFamily::Broadcom, "broadcom", "35b", "VDSL2 35b", 8192, {}},
        {TRouterFamily::Broadcom, "broadcom", "8b", "VDSL2 8b", 2048, {"--chunk", "7"}}, // stale rows past 2047
        {TRouterFamily::Broadcom, "broadcom", "adsl2+", "ADSL2+", 512, {"--split-commands"}},
        {TRouterFamily::Lantiq, "lantiq", "adsl2+", "ADSL2+", 512, {}},
        {TRouterFamily::Lantiq, "lantiq", "17a", "VDSL2 17a", 4096, {"--chunk", "5"}},
        {TRouterFamily::Lantiq, "lantiq", "35b", "VDSL2 35b", 8192, {}},
        {TRouterFamily::Lantiq, "lantiq", "adsl2+", "ADSL2+", 512, {"--split-commands", "--pause-ms", "5"}},
        {TRouterFamily::Draytek, "draytek", "adsl2+", "ADSL2+", 512, {}},
        {TRouterFamily::Draytek, "draytek", "17a", "VDSL2 17a", 4096, {}},
        {TRouterFamily::Draytek, "draytek", "30a", "VDSL2 30a", 3479, {}},
        {TRouterFamily::Draytek, "draytek", "35b", "VDSL2 35b", 8192, {}},
        {TRouterFamily::Draytek, "draytek", "17a", "VDSL2 17a", 4096, {"--split-commands"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.profile);
        RouterSimProcess sim(RouterSimProcess::Family(c.name, c.profile, c.extra));
        int pumped = 0;
        TDialogueHooks hooks;
        hooks.PumpEvents = [&] { ++pumped; };
        const TFamilyCycle cycle = RunFamilyDialogue(Request(sim.Address()), c.family, hooks);
        ASSERT_TRUE(cycle.Outcome.Completed) << cycle.Outcome.ErrorText;
        ASSERT_TRUE(cycle.Line.Ok()) << cycle.Line.Failure.toStdString();
        EXPECT_EQ(pumped, 1);
        EXPECT_EQ(cycle.Line.Mode, QString::fromLatin1(c.mode));
        EXPECT_EQ(cycle.Line.ToneCount, c.tones);
        const auto served = sim.LastServedLine();
        ASSERT_TRUE(served);
        EXPECT_EQ(std::vector<int>(cycle.Line.Bits.begin(), cycle.Line.Bits.end()), *served);
        EXPECT_FALSE(cycle.Line.Bands.Upstream.empty());
        EXPECT_FALSE(cycle.Line.Bands.Downstream.empty());
    }
}

TEST(FamilyDialogue, FailsWithTheReason)
{
    const struct {
        const char* name;
        TRouterFamily family;
        std::vector<std::string> extra;
        std::string user;
        const char* failure;
    } cases[] = {
        {"broadcom", TRouterFamily::Broadcom, {"--training"}, "", "the line is not in showtime (Status: G.994 Training)"},
        {"lantiq", TRouterFamily::Lantiq, {"--training"}, "", "the line is not in showtime (nLineState=0x300)"},
        {"draytek", TRouterFamily::Draytek, {"--training"}, "", "the line is not in showtime (State: TRAINING)"},
        {"draytek", TRouterFamily::Draytek, {"--wrong-password"}, "",
            "The router refused the user name or the password while sending the password"},
        {"broadcom", TRouterFamily::Broadcom, {}, "admin",
            "The router refused the user name or the password while sending the password"},
        {"lantiq", TRouterFamily::Lantiq, {"--drop", "near"}, "", "while reading the far-end line data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.failure);
        RouterSimProcess sim(RouterSimProcess::Family(c.name, "17a", c.extra));
        const TFamilyCycle cycle = RunFamilyDialogue(Request(sim.Address(), c.user), c.family);
        EXPECT_FALSE(cycle.Line.Ok());
        EXPECT_TRUE(cycle.Line.Failure.contains(QString::fromLatin1(c.failure))) << cycle.Line.Failure.toStdString();
        EXPECT_TRUE(cycle.Line.Bits.empty());
    }
}

// A bits reply that runs on without its prompt, or comes a byte at a time
// for ever, fails the cycle by its deadline and says where it stopped.
TEST(FamilyDialogue, ARunOnReplyFailsByTheDeadline)
{
    using namespace std::chrono_literals;
    const struct {
        const char* name;
        TRouterFamily family;
        std::vector<std::string> extra;
        const char* failure;
    } cases[] = {
        {"broadcom", TRouterFamily::Broadcom, {"--endless", "near"}, "while reading the far-end line data"},
        {"lantiq", TRouterFamily::Lantiq, {"--endless", "far"}, "while reading the far-end line data"},
        {"draytek", TRouterFamily::Draytek, {"--endless", "both"}, "while reading the far-end line data"},
        {"broadcom", TRouterFamily::Broadcom, {"--trickle", "near", "--trickle-ms", "100"}, "while reading the far-end line data"},
        {"lantiq", TRouterFamily::Lantiq, {"--trickle", "near", "--trickle-ms", "100"}, "while reading the far-end line data"},
        {"draytek", TRouterFamily::Draytek, {"--trickle", "far", "--trickle-ms", "100"}, "while reading the far-end line data"},
        {"broadcom", TRouterFamily::Broadcom, {"--endless-subnegotiation"}, "while waiting for \"name:\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.extra[0]);
        RouterSimProcess sim(RouterSimProcess::Family(c.name, "17a", c.extra));
        TDialogueRequest request = Request(sim.Address());
        const auto start = std::chrono::steady_clock::now();
        request.Deadline = start + 3s;
        const TFamilyCycle cycle = RunFamilyDialogue(request, c.family);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
        EXPECT_FALSE(cycle.Line.Ok());
        EXPECT_TRUE(cycle.Outcome.DeadlinePassed);
        EXPECT_TRUE(cycle.Line.Failure.contains(QString::fromLatin1(c.failure))) << cycle.Line.Failure.toStdString();
        EXPECT_TRUE(cycle.Line.Bits.empty());
    }
}

// Characters that are not digits among the bits, or the byte 255: the
// reading still comes, with the spoilt tones left out (0) and every other
// tone as served; it never draws a bar the router did not send, and the
// same reply unspoilt reads whole.
TEST(FamilyDialogue, SpoiltDigitsMakeNoBars)
{
    const struct {
        const char* name;
        TRouterFamily family;
        const char* fault; // nullptr: the reply unspoilt
    } cases[] = {
        {"broadcom", TRouterFamily::Broadcom, nullptr},
        {"broadcom", TRouterFamily::Broadcom, "--garbage"},
        {"broadcom", TRouterFamily::Broadcom, "--iac-data"},
        {"lantiq", TRouterFamily::Lantiq, nullptr},
        {"lantiq", TRouterFamily::Lantiq, "--garbage"},
        {"lantiq", TRouterFamily::Lantiq, "--iac-data"},
        {"draytek", TRouterFamily::Draytek, nullptr},
        {"draytek", TRouterFamily::Draytek, "--garbage"},
        {"draytek", TRouterFamily::Draytek, "--iac-data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + (c.fault ? c.fault : "unspoilt"));
        RouterSimProcess sim(RouterSimProcess::Family(c.name, "17a", c.fault ? std::vector<std::string>{c.fault}
                                                                              : std::vector<std::string>{}));
        const TFamilyCycle cycle = RunFamilyDialogue(Request(sim.Address()), c.family);
        const auto served = sim.LastServedLine();
        ASSERT_TRUE(served);
        ASSERT_TRUE(cycle.Line.Ok()) << cycle.Line.Failure.toStdString();
        ASSERT_EQ(cycle.Line.Bits.size(), served->size());
        int skipped = 0, kept = 0, loaded = 0;
        for (std::size_t tone = 0; tone < served->size(); ++tone) {
            const int read = cycle.Line.Bits[tone];
            skipped += read != (*served)[tone];
            loaded += (*served)[tone] > 0;
            kept += (*served)[tone] > 0 && read == (*served)[tone];
            EXPECT_TRUE(read == (*served)[tone] || read == 0) << "tone " << tone << " served " << (*served)[tone]
                                                               << " read " << read;
        }
        if (c.fault) {
            EXPECT_GT(skipped, 0);          // the fault did spoil digits
            EXPECT_GT(kept, loaded / 4);    // and only the tones it spoilt are left out
        } else {
            EXPECT_EQ(skipped, 0);
        }
    }
}

TEST(FamilyDialogue, RepliesLoseEchoEscapesAndPrompts)
{
    const struct {
        const char* received;
        const char* command;
        const char* body;
    } cases[] = {
        {"lsg\r\nnReturn=0\r\n# ", "lsg", "nReturn=0\r\n"},
        {"\r\n> adsl status\r\nState : SHOWTIME\r\n> ", "adsl status", "State : SHOWTIME\r\n"},
        {"\x1b[1;32mxdslctl info\x1b[0m\r\nStatus: Showtime\r\n\x1b[K# ", "xdslctl info", "Status: Showtime\r\n"},
        {"no echo at all, the data start at once and run on long\r\nmore\r\n# ", "x",
            "no echo at all, the data start at once and run on long\r\nmore\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplyBody(c.received, c.command), c.body) << c.command;

    const TPromptSets sets = FamilyPrompts(TRouterFamily::Draytek, "vigor>");
    EXPECT_EQ(sets.Command.back(), "vigor>");
}

// SNR every cycle, QLN and Hlog only when asked for after a training; an API
// 2.x pipe gets its own argument order (the values: tirvane_read_test).
TEST(FamilyDialogue, SnrEveryCycleQlnAndHlogOnlyAfterTraining)
{
    const struct {
        const char* name;
        TRouterFamily family;
        const char* profile;
        bool training;
        std::vector<std::string> extra;
        std::vector<std::string> sent; // per-tone commands, in order
    } cases[] = {
        {"broadcom", TRouterFamily::Broadcom, "17a", true, {},
            {"xdslctl info --SNR", "xdslctl info --QLN", "xdslctl info --Hlog"}},
        {"broadcom", TRouterFamily::Broadcom, "17a", false, {}, {"xdslctl info --SNR"}},
        {"lantiq", TRouterFamily::Lantiq, "35b", true, {},
            {"dsl_cpe_pipe g997dsnrg 0 1", "dsl_cpe_pipe g997dsnrg 1 1", "dsl_cpe_pipe g997dqlng 0 1",
                "dsl_cpe_pipe g997dqlng 1 1", "dsl_cpe_pipe g997dhlogg 0 1", "dsl_cpe_pipe g997dhlogg 1 1"}},
        {"lantiq", TRouterFamily::Lantiq, "17a", true, {"--older-api"},
            {"dsl_cpe_pipe g997dsnrg 0 0", "dsl_cpe_pipe g997dsnrg 0 1", "dsl_cpe_pipe g997dqlng 0 0",
                "dsl_cpe_pipe g997dqlng 0 1", "dsl_cpe_pipe g997dhlogg 0 0", "dsl_cpe_pipe g997dhlogg 0 1"}},
        {"draytek", TRouterFamily::Draytek, "30a", true, {},
            {"adsl status snr", "adsl status qln", "adsl status hlog"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.profile + (c.training ? " training read" : " no training"));
        RouterSimProcess sim(RouterSimProcess::Family(c.name, c.profile, c.extra));
        TDialogueRequest request = Request(sim.Address());
        request.ReadTraining = c.training;
        const TFamilyCycle cycle = RunFamilyDialogue(request, c.family);
        ASSERT_TRUE(cycle.Line.Ok()) << cycle.Line.Failure.toStdString();
        std::vector<std::string> sent = sim.Commands();
        std::erase_if(sent, [](const std::string& s) { return !QString::fromStdString(s).contains(QRegularExpression(
            QStringLiteral("snr|qln|hlog"), QRegularExpression::CaseInsensitiveOption)); });
        EXPECT_EQ(sent, c.sent);
        EXPECT_FALSE(cycle.Line.Spectra.Snr.Up.Empty() || cycle.Line.Spectra.Snr.Down.Empty());
        EXPECT_EQ(cycle.Line.Spectra.Qln.Down.Empty(), !c.training);
        EXPECT_EQ(cycle.Line.Spectra.Hlog.Up.Empty(), !c.training);
    }
}

} // namespace
