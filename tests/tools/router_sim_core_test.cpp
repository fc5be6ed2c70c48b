// The simulator's pieces without a socket: the line it simulates, the layout
// of its replies (decoded with the monitor's own decoding), and its reading
// of what a client sends.
#include "line/capture_buffer.h"
#include "line/line_data.h"
#include "router_sim/figure_model.h"
#include "router_sim/family_reply.h"
#include "router_sim/line_model.h"
#include "router_sim/options.h"
#include "router_sim/reply_text.h"
#include "router_sim/telnet_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

using namespace routersim;
using namespace std::string_literals;

namespace {

// What a client sees of a reply: " " left after the previous prompt's ">",
// the echoed command, CR LF, the reply, then "ras" before the next ">".
std::string ClientReply(ReplyKind kind, const Reply& reply)
{
    return " " + std::string(CommandFor(kind)) + "\r\n" + reply.Text() + "ras";
}

TZyxelToneTable DecodeBoth(const std::string& farReply, const std::string& nearReply)
{
    TZyxelToneTable tones{};
    TCaptureBuffer memo;
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(farReply);
    DecodeFarEnd(memo, tones);
    memo.Clear();
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(nearReply);
    DecodeNearEnd(memo, tones);
    return tones;
}

// ---- the line ----

TEST(LineModel, SameSeedSameReadings)
{
    const LineModel a(42), b(42);
    for (std::uint32_t i : {0u, 1u, 17u})
        EXPECT_EQ(a.Reading(i).bits, b.Reading(i).bits) << "reading " << i;
}

TEST(LineModel, SeedsGiveDifferentLines)
{
    EXPECT_NE(LineModel(1).Base(), LineModel(2).Base());
}

TEST(LineModel, ReadingsDriftByAtMostOneBit)
{
    const LineModel model(5);
    int changed = 0;
    for (std::uint32_t i = 0; i < 20; ++i) {
        const auto r = model.Reading(i);
        for (int t = 0; t < routersim::ToneCount; ++t) {
            const int diff = std::abs(r.bits[t] - model.Base()[t]);
            EXPECT_LE(diff, 1) << "reading " << i << " tone " << t;
            changed += diff;
        }
    }
    EXPECT_GT(changed, 20); // the line does move
}

class LineModelShape : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(LineModelShape, LooksLikeAnAdslLine)
{
    const auto bits = LineModel(GetParam()).Reading(3).bits;
    for (int t = 0; t <= 5; ++t)
        EXPECT_EQ(bits[t], 0) << "tone " << t << " lies below the upstream band";
    EXPECT_EQ(bits[32], 0);
    int upstreamLoaded = 0;
    for (int t = 6; t <= 31; ++t)
        upstreamLoaded += bits[t] > 0;
    EXPECT_GE(upstreamLoaded, 20);
    for (int b : bits) {
        EXPECT_GE(b, 0);
        EXPECT_LE(b, 15);
    }
    const auto mean = [&](int from, int to) {
        return std::accumulate(bits.begin() + from, bits.begin() + to + 1, 0.0) / (to - from + 1);
    };
    EXPECT_GT(mean(33, 100), mean(250, 320) + 2.0) << "bits fall with frequency";
    EXPECT_EQ(mean(480, 512), 0.0) << "the top tones carry nothing";
}

INSTANTIATE_TEST_SUITE_P(Seeds, LineModelShape, ::testing::Values(0u, 1u, 2u, 99u, 123456u, 0xffffffffu));

// The other families' SNR: the same reading is the same, the evening takes
// dB off the middle of the downstream only, a notch (no bits) leaves little,
// and QLN and Hlog stay as trained from reading to reading.
TEST(FamilySpectra, EveningDipNotchAndTrainedValues)
{
    const auto snrDown = [](const FamilyLine& line, std::size_t group) {
        return CodeValue(Quantity::Snr, line.snr.down.codes[group]);
    };
    const FamilyLine noon = MakeFamilyLine(Profile::V17a, 3, 720), evening = MakeFamilyLine(Profile::V17a, 3, 1200);
    EXPECT_EQ(evening.snr.down.codes, MakeFamilyLine(Profile::V17a, 3, 1200).snr.down.codes);
    EXPECT_EQ(noon.qln.down.codes, evening.qln.down.codes);
    EXPECT_EQ(noon.hlog.up.codes, evening.hlog.up.codes);
    // Groups in the middle lose at least 7.5 dB at 20:00; the rest move by 1 dB at most.
    for (const auto& [group, less] : {std::pair{210, 7.5}, {240, 7.5}, {100, -1.5}, {400, -1.5}})
        EXPECT_GE(snrDown(noon, std::size_t(group)) - snrDown(evening, std::size_t(group)), less) << "group " << group;
    int notched = 0, unmeasured = 0;
    for (std::size_t g = 0; g < noon.snr.down.codes.size(); ++g) {
        const auto first = noon.bits.begin() + std::ptrdiff_t(g * 8);
        const bool bitsLeft = std::any_of(first, first + 8, [](int b) { return b > 0; });
        unmeasured += noon.snr.down.codes[g] == NoneCode(Quantity::Snr);
        if (!bitsLeft && noon.snr.down.codes[g] != NoneCode(Quantity::Snr)) {
            ++notched;
            EXPECT_LE(snrDown(noon, g), 4.0) << "group " << g;
        }
    }
    EXPECT_GT(notched, 0);
    EXPECT_GT(unmeasured, 0);
}

// ---- the reply layout ----

struct LayoutCase {
    const char* name;
    std::uint32_t seed;
    ReplyFaults faults;
    LineReading extremes; // used when `useExtremes`
    bool useExtremes;
};

class ReplyLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ReplyLayout, MonitorCutsLandOnTheTable)
{
    const auto& c = GetParam();
    const LineModel model(c.seed);
    const auto farReading = c.useExtremes ? c.extremes : model.Reading(0);
    const auto nearReading = c.useExtremes ? c.extremes : model.Reading(1);
    const auto farReply = BuildReply(ReplyKind::Far, farReading, c.faults, 11);
    const auto nearReply = BuildReply(ReplyKind::Near, nearReading, c.faults, 12);
    const auto farText = ClientReply(ReplyKind::Far, farReply);
    const auto nearText = ClientReply(ReplyKind::Near, nearReply);

    // Character 118 (1-based) of the far reply opens the first table line.
    EXPECT_EQ(farText.substr(117, 14), "tone   0- 31: ");
    // Character 151 of the near reply lies inside the first table line.
    const auto lineStart = nearText.rfind("\r\n", 150) + 2;
    EXPECT_EQ(nearText.substr(lineStart, 14), "tone   0- 31: ");
    EXPECT_LT(150u, nearText.find("\r\n", lineStart));
    // No prompt character inside a reply: the client reads up to the first ">".
    EXPECT_EQ(farText.find('>'), std::string::npos);
    EXPECT_EQ(nearText.find('>'), std::string::npos);

    const auto tones = DecodeBoth(farText, nearText);
    for (int t = 1; t <= 512; ++t) {
        const int want = t <= 32 ? farReply.served[t] : nearReply.served[t];
        ASSERT_EQ(tones[t], want) << "tone " << t;
    }
    EXPECT_EQ(farReply.served[0], 0);
}

LineReading Extremes(int margin, int power, int attenuation, int bits)
{
    LineReading r;
    r.bits.fill(bits);
    r.noiseMarginTenthsDb = margin;
    r.outputPowerDb = power;
    r.attenuationDb = attenuation;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyLayout,
    ::testing::Values(LayoutCase{"Seed1", 1, {}, {}, false},
                      LayoutCase{"Seed77", 77, {}, {}, false},
                      LayoutCase{"Garbage", 3, {true, false}, {}, false},
                      LayoutCase{"Iac255", 4, {false, true}, {}, false},
                      LayoutCase{"BothFaults", 5, {true, true}, {}, false},
                      LayoutCase{"SmallestHeaderValues", 0, {}, Extremes(0, 0, 0, 0), true},
                      LayoutCase{"LargestHeaderValues", 0, {}, Extremes(999, 9, 99, 15), true},
                      LayoutCase{"OutOfRangeHeaderValues", 0, {}, Extremes(-5, 1000, 12345, 9), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyLayout, NibbleOrderPutsToneOneInTheSecondDigit)
{
    BitLoading bits{};
    bits[1] = 1;
    bits[2] = 2;
    bits[511] = 0xa;
    bits[512] = 0xb;
    EXPECT_EQ(TableLine(0, bits).substr(0, 16), "tone   0- 31: 21");
    EXPECT_EQ(TableLine(15, bits).substr(14 + 45, 2), "ba");
    EXPECT_EQ(TableLine(15, bits).substr(0, 14), "tone 480-511: ");
}

TEST(ReplyLayout, FaultsMarkTheirTonesAsZero)
{
    const LineModel model(9);
    const auto reading = model.Reading(0);
    const auto garbled = BuildReply(ReplyKind::Near, reading, {true, true}, 3);
    int zeroed = 0;
    for (int t = 1; t <= 512; ++t)
        zeroed += reading.bits[t] != 0 && garbled.served[t] == 0;
    EXPECT_GT(zeroed, 10);
    EXPECT_NE(garbled.table.find('\xff'), std::string::npos);
}

// ---- what the client sends ----

struct InputCase {
    const char* name;
    std::string bytes;
    std::string data;
    bool willTtype;
    std::string terminalType; // empty: none reported
};

class TelnetInputParsing : public ::testing::TestWithParam<InputCase> {};

TEST_P(TelnetInputParsing, SameResultWholeAndSplit)
{
    const auto& c = GetParam();
    for (std::size_t piece : {c.bytes.size() + 1, std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
        TelnetInput parser;
        TelnetInputEvents ev;
        for (std::size_t at = 0; at < c.bytes.size(); at += piece)
            parser.Feed(std::string_view(c.bytes).substr(at, piece), ev);
        EXPECT_EQ(ev.data, c.data) << "pieces of " << piece;
        EXPECT_EQ(ev.willTerminalType, c.willTtype) << "pieces of " << piece;
        EXPECT_EQ(ev.gotTerminalType, !c.terminalType.empty()) << "pieces of " << piece;
        EXPECT_EQ(ev.terminalType, c.terminalType) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetInputParsing,
    ::testing::Values(
        InputCase{"PlainLine", "1234\r\n", "1234\r\n", false, ""},
        InputCase{"DoubledIacIsData", "a\xff\xff" "b", "a\xff" "b", false, ""},
        InputCase{"AnswersVanish", "\xff\xfd\x03\xff\xfe\x01x\xff\xfc\x05", "x", false, ""},
        InputCase{"WillTerminalType", "\xff\xfb\x18", "", true, ""},
        InputCase{"TerminalTypeReported", "\xff\xfa\x18\x00TIRVANE\xff\xf0ok"s, "ok", false, "TIRVANE"},
        InputCase{"TerminalTypeWith255", "\xff\xfa\x18\x00T\xff\xffX\xff\xf0"s, "", false, "T\xffX"},
        InputCase{"OtherSubNegotiationIgnored", "\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0z"s, "z", false, ""},
        InputCase{"NopInsideData", "ab\xff\xf1" "cd", "abcd", false, ""},
        InputCase{"SendRequestIsNotAType", "\xff\xfa\x18\x01\xff\xf0"s, "", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- where it may listen ----

struct AddressCase {
    const char* address;
    bool loopback;
};

class LoopbackOnly : public ::testing::TestWithParam<AddressCase> {};

TEST_P(LoopbackOnly, AcceptsOnlyLoopback)
{
    EXPECT_EQ(IsLoopbackAddress(GetParam().address), GetParam().loopback) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, LoopbackOnly,
    ::testing::Values(AddressCase{"127.0.0.1", true}, AddressCase{"127.255.255.254", true},
                      AddressCase{"127.3.4.5", true}, AddressCase{"::1", true},
                      AddressCase{"128.0.0.1", false}, AddressCase{"126.255.255.255", false},
                      AddressCase{"0.0.0.0", false}, AddressCase{"192.168.1.1", false},
                      AddressCase{"::", false}, AddressCase{"::ffff:127.0.0.1", false},
                      AddressCase{"localhost", false}, AddressCase{"", false},
                      AddressCase{"127.1", false}, AddressCase{" 127.0.0.1", false}));

// ---- the line's figures over time ----

// For each seed, one link from its start to the next retrain: the counts
// start at 0, never go down meanwhile, come in bursts (some quarters add
// none), and start afresh at the retrain, which the retrain count shows; the
// margin is lower at nine in the evening than at nine in the morning of the
// same link.
TEST(FigureModel, CountsMoveWithinALinkAndStartAfreshAtARetrain)
{
    constexpr std::int64_t Noon = 1796702400 - 1796702400 % 86400 + 12 * 3600;
    for (const std::uint32_t seed : {1u, 7u, 12345u, 0xdeadbeefu}) {
        SCOPED_TRACE(seed);
        const std::int64_t start = Noon - FiguresAt(seed, Noon, 100000).sinceLinkS;
        LineFigures before = FiguresAt(seed, start, 100000);
        EXPECT_EQ(before.sinceLinkS, 0);
        EXPECT_EQ(before.down.crc + before.down.es + before.up.crc + before.down.ses, 0u);
        int quiet = 0, bursts = 0;
        std::int64_t t = start + 900;
        for (;; t += 900) {
            const LineFigures now = FiguresAt(seed, t, 100000);
            if (now.sinceLinkS < before.sinceLinkS) {
                EXPECT_LT(now.down.fec, before.down.fec);
                EXPECT_EQ(now.retrains, before.retrains % 64 + 1);
                break;
            }
            ASSERT_GE(now.down.crc, before.down.crc);
            ASSERT_GE(now.down.es, before.down.es);
            ASSERT_GE(now.up.crc, before.up.crc);
            ASSERT_EQ(now.retrains, before.retrains);
            (now.down.crc == before.down.crc ? quiet : bursts)++;
            before = now;
        }
        EXPECT_GT(quiet, 0);
        EXPECT_GT(bursts, 0);
        EXPECT_LE(t - start, 24 * 3600);
    }
    int sags = 0;
    for (const std::uint32_t seed : {1u, 7u, 12345u, 0xdeadbeefu})
        for (std::int64_t afternoon = Noon + 3 * 3600, days = 0; days < 30; ++days, afternoon += 86400) {
            const LineFigures evening = FiguresAt(seed, afternoon + 6 * 3600, 100000);
            if (evening.sinceLinkS < 6 * 3600)
                continue; // another link, trained otherwise
            EXPECT_EQ(FiguresAt(seed, afternoon, 100000).down.marginTenths - evening.down.marginTenths, 25);
            ++sags;
        }
    EXPECT_GT(sags, 0) << "no link lasted from an afternoon to its evening";
}

} // namespace
