// SNR, QLN and Hlog per tone from each family's replies: groups of 1, 8 and
// 16 (printed, inferred from repeats, or worked out where the router's size
// cannot be trusted), every not-measured marker, a list of zeros, a direction
// refused or missing; and the older Lantiq argument order.
#include "line/family_parsers.h"
#include "line/family_spectra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using R = TReplyRole;
using Q = TToneQuantity;

// Broadcom's table: a row a tone, the value the function gives.
std::string BcmTable(const char* head, int tones, const std::function<std::string(int)>& value)
{
    std::string text = std::string("Status: Showtime\r\nTone number      ") + head + "\r\n";
    for (int t = 0; t < tones; ++t)
        text += std::to_string(t) + "\t\t" + value(t) + "\r\n";
    return text;
}

TFamilyReplies Broadcom(const char* profile, const char* bands, TFamilyReplies spectra)
{
    spectra[R::State] = std::string("Status: Showtime\r\nMode: ") + (*profile ? "VDSL2 Annex B" : "ADSL2+")
        + "\r\nVDSL2 Profile: " + profile + "\r\n";
    spectra[R::BitsBoth] = "Tone number Bit Allocation\r\n40 9\r\n";
    spectra[R::BandsBoth] = bands;
    return spectra;
}
constexpr char Bcm17a[] = "Medley Phase (Final) Band Plan\r\nUS: (7,31) (870,1205)\r\nDS: (33,859) (1216,4095)\r\n";
constexpr char Bcm35b[] = "Medley Phase (Final) Band Plan\r\nUS: (7,31)\r\nDS: (33,8191)\r\n";
constexpr char BcmAdsl[] = "Currently not in VDSL modulation\r\n";

// A pipe reply of `groups` pairs, each the default code but those given.
std::string LqReply(int direction, int groupSize, int groups, int code, std::map<int, int> codes = {})
{
    std::string text = "nReturn=0 nDirection=" + std::to_string(direction) + " nDeltDataType=1 nGroupSize="
        + std::to_string(groupSize) + " nNumData=" + std::to_string(groups)
        + "\r\nnFormat=(nToneIndex(dec),nSnr(dec)) nData=\"\r\n";
    for (int g = 0; g < groups; ++g) {
        char pair[24];
        std::snprintf(pair, sizeof pair, "(%04d,%03d) ", g, codes.count(g) ? codes[g] : code);
        text += pair + std::string(g % 10 == 9 ? "\r\n" : "");
    }
    return text + "\"\r\n";
}

TFamilyReplies Lantiq(int profile, int lastTone, TFamilyReplies spectra)
{
    spectra[R::State] = "nReturn=0 nLineState=0x801\r\n";
    spectra[R::Mode] = profile < 0 ? "nReturn=0 XTSE1=0x00 XTSE6=0x01 XTSE8=0x00\r\n" : "nReturn=0 XTSE8=0x02\r\n";
    spectra[R::Profile] = "nReturn=0 nProfile=" + std::to_string(profile) + "\r\n";
    std::string bits;
    for (int t = 0; t < 40; ++t)
        bits += "00 ";
    spectra[R::BitsDown] = "nReturn=0 nDirection=1 nNumData=41\r\nnData=\"" + bits + "0C\"\r\n";
    if (profile >= 0) {
        spectra[R::BandsUp] = "nReturn=0 nData=\"(00,(0007,0031),(0007,0031))\"\r\n";
        spectra[R::BandsDown] = "nReturn=0 nData=\"(00,(0033,0859),(0,0))\r\n(01,(1216," + std::to_string(lastTone)
            + "),(0,0))\"\r\n";
    }
    return spectra;
}

TFamilyReplies Draytek(const char* mode, TFamilyReplies spectra)
{
    spectra[R::State] = std::string("  Running Mode : ") + mode + "    State : SHOWTIME\r\n";
    spectra[R::BitsDown] = "  40  41.5  0.5   9 *\r\n";
    if (std::string(mode) != "ADSL2+")
        spectra[R::BandsBoth] = "US: Band 0  Limits=[   7-  31]\r\nDS: Band 0  Limits=[  33- 859]\r\n"
                                "    Band 1  Limits=[1216-8191]\r\n";
    return spectra;
}

struct TCase {
    const char* name;
    TRouterFamily family;
    TFamilyReplies replies;
    Q quantity;
    bool up;
    int groupSize; // 0: the direction is empty
    std::vector<std::pair<int, float>> tones; // NaN: not measured
};

const float None = NotMeasured;

std::vector<TCase> Cases()
{
    // 17a groups of 8 whose values step every group; group 100 prints 0.
    const auto snr8 = [](int t) { return t / 8 == 100 ? std::string("0.0000") : std::to_string(10 + (t / 8) % 7 * 0.5); };
    const auto bcm17 = Broadcom("Profile 17a", Bcm17a, {{R::SnrBoth, BcmTable("SNR", 4096, snr8)}});
    // Upstream prints the no-data marker throughout: that direction is missing.
    const auto qlnDown = [](int t) {
        return t < 33 || (t >= 870 && t <= 1205) ? std::string(t % 2 ? "-160.0000" : "0.0000")
                                                  : std::to_string(-140 - t % 2 * 0.5);
    };
    return {
        {"broadcom 8, inferred", TRouterFamily::Broadcom, bcm17, Q::Snr, false, 8, {{40, 12.5f}, {800, None}, {47, 12.5f}}},
        {"broadcom 8, upstream", TRouterFamily::Broadcom, bcm17, Q::Snr, true, 8, {{15, 10.5f}, {32, None}, {900, 10.f}}},
        {"broadcom 1 on ADSL2+", TRouterFamily::Broadcom,
            Broadcom("", BcmAdsl, {{R::SnrBoth, BcmTable("SNR", 512, [](int t) { return std::to_string(20 + t % 3); })}}),
            Q::Snr, false, 1, {{100, 21.f}, {101, 22.f}, {600, None}}},
        {"broadcom 16 on 35b, Hlog -96 and below none", TRouterFamily::Broadcom,
            Broadcom("Profile BrcmPriv1", Bcm35b, {{R::HlogBoth, BcmTable("Hlog", 8192, [](int t) {
                return t / 16 == 300 ? std::string("-96.3000") : std::to_string(-20 - (t / 16) % 5); })}}),
            Q::Hlog, false, 16, {{8191, -21.f}, {4800, None}, {4816, -21.f}}},
        {"broadcom QLN 0 and -160, one direction missing", TRouterFamily::Broadcom,
            Broadcom("Profile 17a", Bcm17a, {{R::QlnBoth, BcmTable("QLN", 4096, qlnDown)}}), Q::Qln, true, 0, {{20, None}}},
        {"broadcom QLN downstream of ones", TRouterFamily::Broadcom,
            Broadcom("Profile 17a", Bcm17a, {{R::QlnBoth, BcmTable("QLN", 4096, qlnDown)}}), Q::Qln, false, 1,
            {{40, -140.f}, {41, -140.5f}}},

        {"lantiq 8 printed, 255 none, index is the group", TRouterFamily::Lantiq,
            Lantiq(6, 4095, {{R::SnrDown, LqReply(1, 8, 512, 100, {{5, 150}, {6, 255}})}}), Q::Snr, false, 8,
            {{40, 43.f}, {47, 43.f}, {48, None}, {5, 18.f}}},
        {"lantiq 1 not trusted: 8 on 17a", TRouterFamily::Lantiq,
            Lantiq(6, 4095, {{R::QlnDown, LqReply(1, 1, 512, 234)}}), Q::Qln, false, 8, {{4095, -140.f}}},
        {"lantiq 1 not trusted: 16 on 35b", TRouterFamily::Lantiq,
            Lantiq(8, 8191, {{R::HlogDown, LqReply(1, 1, 512, 293, {{511, 1023}})}}), Q::Hlog, false, 16,
            {{8176, None}, {8175, -23.3f}}},
        {"lantiq 1 kept on ADSL2+", TRouterFamily::Lantiq,
            Lantiq(-1, 0, {{R::SnrUp, LqReply(0, 1, 512, 120, {{7, 121}})}}), Q::Snr, true, 1, {{7, 28.5f}, {8, 28.f}}},
        {"lantiq a list of zeros", TRouterFamily::Lantiq, Lantiq(6, 4095, {{R::SnrDown, LqReply(1, 8, 512, 0)}}),
            Q::Snr, false, 0, {{40, None}}},
        {"lantiq a direction refused", TRouterFamily::Lantiq,
            Lantiq(6, 4095, {{R::SnrUp, "nReturn=-1\r\n"}, {R::SnrDown, LqReply(1, 8, 512, 100)}}), Q::Snr, true, 0,
            {{20, None}}},

        {"draytek 8, SNR 0 and -32 none", TRouterFamily::Draytek,
            Draytek("17A", {{R::SnrBoth, "GroupSize   :     8     8\r\nNumData     :   512   512\r\nUS:\r\n"
                                         "bin=   0: 0.0, 20.5, -32.0, 22.0, \r\nDS:\r\nbin=   0: 0.0, 0.0, 0.0, 0.0,\r\n"
                                         "bin=   4: 0.0, 38.5, 40.0, 41.5, \r\n"}}),
            Q::Snr, false, 8, {{40, 38.5f}, {63, 41.5f}, {32, None}, {64, None}}},
        {"draytek 8 upstream", TRouterFamily::Draytek,
            Draytek("17A", {{R::SnrBoth, "GroupSize : 8 8\r\nNumData : 512 512\r\nUS:\r\n"
                                         "bin=   0: 0.0, 20.5, -32.0, 22.0, \r\n"}}),
            Q::Snr, true, 8, {{8, 20.5f}, {16, None}, {31, 22.f}}},
        {"draytek QLN -150 none, upstream missing", TRouterFamily::Draytek,
            Draytek("17A", {{R::QlnBoth, "GroupSize : 16 16\r\nNumData : 512 512\r\nDS:\r\nbin= 0: -150.0, -150.0, "
                                         "-139.5, -140.0,\r\n"}}),
            Q::Qln, false, 16, {{33, -139.5f}, {60, -140.f}, {30, None}}},
        {"draytek QLN upstream missing", TRouterFamily::Draytek,
            Draytek("17A", {{R::QlnBoth, "GroupSize : 16 16\r\nNumData : 512 512\r\nDS:\r\nbin= 0: -139.5,\r\n"}}),
            Q::Qln, true, 0, {{20, None}}},
        {"draytek 1 on ADSL2+", TRouterFamily::Draytek,
            Draytek("ADSL2+", {{R::HlogBoth, "GroupSize : 1 1\r\nNumData : 512 512\r\nDS:\r\nbin= 32: -12.5, "
                                          "-12.6, -96.3, -12.8,\r\n"}}),
            Q::Hlog, false, 1, {{32, -12.5f}, {33, -12.6f}, {34, None}, {35, -12.8f}}},
    };
}

TEST(FamilySpectra, RepliesGiveGroupsAndGaps)
{
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const TParsedLine line = ParseFamilyReplies(c.family, c.replies);
        ASSERT_TRUE(line.Ok()) << line.Failure.toStdString();
        const TToneSpectrum& spectrum = c.quantity == Q::Snr ? line.Spectra.Snr
            : c.quantity == Q::Qln                          ? line.Spectra.Qln
                                                            : line.Spectra.Hlog;
        const TSpectrumPart& part = c.up ? spectrum.Up : spectrum.Down;
        EXPECT_EQ(part.Empty(), c.groupSize == 0);
        if (c.groupSize > 0) {
            EXPECT_EQ(part.GroupSize, c.groupSize);
        }
        for (const auto& [tone, value] : c.tones) {
            if (std::isnan(value))
                EXPECT_FALSE(IsMeasured(part.At(tone))) << "tone " << tone << ": " << part.At(tone);
            else
                EXPECT_FLOAT_EQ(part.At(tone), value) << "tone " << tone;
        }
    }
}

// API 2.x takes the line first: the version reply decides which form goes out.
TEST(FamilySpectra, OlderLantiqApiTakesTheOlderArguments)
{
    const TFamilyCommand snrUp{R::SnrUp, "dsl_cpe_pipe g997dsnrg 0 1", TCommandWhen::Always, "dsl_cpe_pipe g997dsnrg 0 0"};
    const struct {
        const char* version; // none: no version reply
        const char* sent;
    } cases[] = {
        {"nReturn=0 DSL_DriverVersionApi=2.4.1 DSL_ChipSetType=Vinax", "dsl_cpe_pipe g997dsnrg 0 0"},
        {"nReturn=0 DSL_APILibraryVersion=2.0.12", "dsl_cpe_pipe g997dsnrg 0 0"},
        {"nReturn=0 DSL_DriverVersionApi=4.17.18.6", "dsl_cpe_pipe g997dsnrg 0 1"},
        {"nReturn=0 DSL_DriverVersionApi=12.1", "dsl_cpe_pipe g997dsnrg 0 1"},
        {"nReturn=-1", "dsl_cpe_pipe g997dsnrg 0 1"},
        {nullptr, "dsl_cpe_pipe g997dsnrg 0 1"},
    };
    for (const auto& c : cases) {
        TFamilyReplies replies;
        if (c.version)
            replies[R::Version] = c.version;
        EXPECT_EQ(FamilyCommandText(snrUp, replies), c.sent) << (c.version ? c.version : "none");
    }
}

} // namespace
