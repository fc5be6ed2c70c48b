// SNR, QLN and Hlog per tone from each family's replies: groups of 1, 8 and
// 16 (printed, inferred from repeats, or worked out where the router's size
// cannot be trusted), every not-measured marker, a list of zeros, a
// direction refused or missing, and the replies some lines get wrong. The older Lantiq arguments are the
// dialogue's (family_dialogue_test).
#include "line/family_parsers.h"
#include "line/output_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using R = TReplyRole;
using Q = TToneQuantity;

// Broadcom's table, a row a tone; around it the state and the band plan.
TFamilyReplies Broadcom(const char* profile, const char* us, const char* ds, R role, int tones,
    const std::function<std::string(int)>& value)
{
    std::string table = "Status: Showtime\r\nTone number      SNR\r\n";
    for (int t = 0; t < tones; ++t)
        table += std::to_string(t) + "\t\t" + value(t) + "\r\n";
    return {{R::State, std::string("Status: Showtime\r\nMode: VDSL2\r\nVDSL2 Profile: ") + profile + "\r\n"},
        {R::BitsBoth, "Tone number Bit Allocation\r\n40 9\r\n"},
        {R::BandsBoth, std::string("Medley Phase (Final) Band Plan\r\nUS: ") + us + "\r\nDS: " + ds + "\r\n"},
        {role, table}};
}

// A pipe reply of 512 groups of the code given but where `codes` says.
std::string LqReply(int groupSize, int code, std::map<int, int> codes = {})
{
    std::string text = "nReturn=0 nDirection=1 nGroupSize=" + std::to_string(groupSize)
        + " nNumData=512\r\nnFormat=(nToneIndex(dec),nSnr(dec)) nData=\"\r\n";
    for (int g = 0; g < 512; ++g)
        text += "(" + std::to_string(10000 + g).substr(1) + "," + std::to_string(codes.count(g) ? codes[g] : code)
            + (g % 10 == 9 ? ")\r\n" : ") ");
    return text + "\"\r\n";
}

TFamilyReplies Lantiq(int profile, TFamilyReplies spectra)
{
    spectra[R::State] = "nReturn=0 nLineState=0x801\r\n";
    spectra[R::Mode] = "nReturn=0 XTSE8=0x02\r\n";
    spectra[R::Profile] = "nReturn=0 nProfile=" + std::to_string(profile) + "\r\n";
    spectra[R::BitsDown] = "nReturn=0 nNumData=2 nData=\"00 0C\"\r\n";
    spectra[R::BandsUp] = "nReturn=0 nData=\"(00,(0007,0031),(0,0))\"\r\n";
    spectra[R::BandsDown] = "nReturn=0 nData=\"(00,(0033,0859),(0,0)) (01,(1216," + std::string(profile == 8 ? "8191" : "4095")
        + "),(0,0))\"\r\n";
    return spectra;
}

// An ADSL2+ line of a Lantiq chip of the type given.
TFamilyReplies LantiqAdsl(const char* chip, TFamilyReplies spectra)
{
    spectra[R::State] = "nReturn=0 nLineState=0x801\r\n";
    spectra[R::Mode] = "nReturn=0 XTSE6=0x01 XTSE8=0x00\r\n";
    spectra[R::Version] = std::string("nReturn=0 DSL_DriverVersionApi=4.17.18.6 DSL_ChipSetType=") + chip + "\r\n";
    spectra[R::BitsDown] = "nReturn=0 nNumData=2 nData=\"00 0C\"\r\n";
    return spectra;
}

TFamilyReplies Draytek(const char* mode, R role, const std::string& reply)
{
    return {{R::State, std::string("Running Mode : ") + mode + "    State : SHOWTIME\r\n"},
        {R::BitsDown, "  40  41.5  0.5   9 *\r\n"},
        {R::BandsBoth, "US: Band 0  Limits=[   6-  31]\r\nDS: Band 0  Limits=[  32- 511]\r\n    Band 1  Limits=[1216-8191]\r\n"},
        {role, reply}};
}

const float None = NotMeasured;

TEST(FamilySpectra, RepliesGiveGroupsAndGaps)
{
    const auto steps = [](int size, double base) {
        return [=](int t) { return t / size == 100 ? std::string("0") : std::to_string(base + (t / size) % 7 * 0.5); };
    };
    const struct {
        const char* name;
        TRouterFamily family;
        TFamilyReplies replies;
        Q quantity;
        int upSize, downSize; // 0: that direction empty
        std::vector<std::pair<int, float>> tones; // NaN: not measured
    } cases[] = {
        {"broadcom 8 inferred, SNR 0 none", TRouterFamily::Broadcom,
            Broadcom("17a", "(7,31) (870,1205)", "(33,859) (1216,4095)", R::SnrBoth, 4096, steps(8, 10)), Q::Snr, 8, 8,
            {{15, 10.5f}, {40, 12.5f}, {47, 12.5f}, {800, None}, {32, None}, {900, 10.f}}},
        {"broadcom 1 inferred, QLN 0 and -160 none, upstream missing", TRouterFamily::Broadcom,
            Broadcom("8b", "(7,31)", "(33,2047)", R::QlnBoth, 2048,
                [](int t) { return t < 33 ? (t % 2 ? "-160.0" : "0") : std::to_string(-140 - t % 3 * 0.5); }),
            Q::Qln, 0, 1, {{40, -140.5f}, {41, -141.f}, {20, None}}},
        {"broadcom 16 inferred, Hlog -96 and below none", TRouterFamily::Broadcom,
            Broadcom("BrcmPriv1", "(7,31)", "(33,8191)", R::HlogBoth, 8192,
                [](int t) { return t / 16 == 300 ? std::string("-96.3") : std::to_string(-20 - (t / 16) % 5); }),
            Q::Hlog, 16, 16, {{8191, -21.f}, {4800, None}, {4816, -21.f}, {20, -21.f}}},
        {"lantiq 8 printed, 255 none, the index is the group", TRouterFamily::Lantiq,
            Lantiq(6, {{R::SnrDown, LqReply(8, 100, {{5, 150}, {6, 255}})}, {R::SnrUp, "nReturn=-1\r\n"}}), Q::Snr, 0,
            8, {{40, 43.f}, {47, 43.f}, {48, None}, {1216, 18.f}, {20, None}}},
        {"lantiq 1 not trusted: 8 on 17a", TRouterFamily::Lantiq, Lantiq(6, {{R::QlnDown, LqReply(1, 234)}}), Q::Qln,
            0, 8, {{4095, -140.f}}},
        {"lantiq 1 not trusted: 16 on 35b, 1023 none", TRouterFamily::Lantiq,
            Lantiq(8, {{R::HlogDown, LqReply(1, 293, {{511, 1023}})}}), Q::Hlog, 0, 16, {{8176, None}, {8175, -23.3f}}},
        {"lantiq 35b upstream Hlog: groups twice the 8 printed", TRouterFamily::Lantiq,
            Lantiq(8, {{R::HlogUp, LqReply(8, 293, {{1, 300}})}}), Q::Hlog, 16, 0, {{15, -23.3f}, {20, -24.f}}},
        {"lantiq 35b upstream QLN: 1 not trusted stays 16", TRouterFamily::Lantiq,
            Lantiq(8, {{R::QlnUp, LqReply(1, 234, {{1, 230}})}}), Q::Qln, 16, 0, {{15, -140.f}, {20, -138.f}}},
        {"lantiq VR9 on ADSL2+: downstream Hlog of the first half only", TRouterFamily::Lantiq,
            LantiqAdsl("VRX200", {{R::HlogDown, LqReply(1, 293)}}), Q::Hlog, 0, 1, {{255, -23.3f}, {256, None}}},
        {"lantiq another chip on ADSL2+: all of it", TRouterFamily::Lantiq,
            LantiqAdsl("ARX300", {{R::HlogDown, LqReply(1, 293)}}), Q::Hlog, 0, 1, {{255, -23.3f}, {511, -23.3f}}},
        {"lantiq a list of zeros", TRouterFamily::Lantiq, Lantiq(6, {{R::SnrDown, LqReply(8, 0)}}), Q::Snr, 0, 0,
            {{40, None}}},
        {"draytek 8, SNR 0 and -32 none", TRouterFamily::Draytek,
            Draytek("17A", R::SnrBoth, "GroupSize   :     8     8\r\nNumData     :   512   512\r\nUS:\r\n"
                                       "bin=   0: 0.0, 20.5, -32.0, 22.0, \r\nDS:\r\nbin=   4: 0.0, 38.5, 40.0, 41.5, \r\n"),
            Q::Snr, 8, 8, {{8, 20.5f}, {16, None}, {31, 22.f}, {40, 38.5f}, {63, 41.5f}, {32, None}, {64, None}}},
        {"draytek 16, QLN -150 none, upstream missing", TRouterFamily::Draytek,
            Draytek("35B", R::QlnBoth, "GroupSize : 16 16\r\nNumData : 512 512\r\nDS:\r\nbin= 2: -150.0, -139.5,\r\n"),
            Q::Qln, 0, 16, {{33, None}, {48, -139.5f}, {20, None}}},
        {"draytek 1 on ADSL2+", TRouterFamily::Draytek,
            Draytek("ADSL2+", R::HlogBoth, "GroupSize : 1 1\r\nNumData : 512 512\r\nDS:\r\nbin= 32: -12.5, -96.3, -12.8,\r\n"),
            Q::Hlog, 0, 1, {{32, -12.5f}, {33, None}, {34, -12.8f}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TParsedLine line = ParseFamilyReplies(c.family, c.replies);
        ASSERT_TRUE(line.Ok()) << line.Failure.toStdString();
        const TToneSpectrum& spectrum = c.quantity == Q::Snr ? line.Spectra.Snr
            : c.quantity == Q::Qln                          ? line.Spectra.Qln
                                                            : line.Spectra.Hlog;
        EXPECT_EQ(spectrum.Up.Empty() ? 0 : spectrum.Up.GroupSize, c.upSize);
        EXPECT_EQ(spectrum.Down.Empty() ? 0 : spectrum.Down.GroupSize, c.downSize);
        for (const auto& [tone, value] : c.tones) {
            const float read = SpectrumAtTone(spectrum, line.Bands, tone);
            EXPECT_TRUE(std::isnan(value) ? !IsMeasured(read) : read == value) << "tone " << tone << ": " << read;
        }
    }
}

} // namespace
