// The three families' parsers over the shapes their routers print: header
// variants, upper- and lower-case hex, a missing closing quote, rows past the
// profile, grouped values, lines not known, and the replies that are no
// reading at all.
#include "line/family_parsers.h"

#include <gtest/gtest.h>

namespace {

using R = TReplyRole;

constexpr char BcmShow[] = "xdslctl: ADSL driver and PHY status\r\nStatus: Showtime\r\n"
                           "Mode:\t\t\tVDSL2 Annex B\r\nVDSL2 Profile:\tProfile 17a\r\n";
constexpr char BcmBands[] = "Discovery Phase (Initial) Band Plan\r\nUS: (0,95) (880,1200)\r\nDS: (96,870)\r\n"
                            "Medley Phase (Final) Band Plan\r\nUS: (7,31) (870,1205)\r\nDS: (33,859) (1216,4083)\r\n";
constexpr char LqShow[] = "nReturn=0 nLineState=0x801\r\n";
constexpr char LqVdsl[] = "nReturn=0 XTSE1=0x00 XTSE2=0x00 XTSE3=0x00 XTSE4=0x00 XTSE5=0x00 XTSE6=0x00 "
                          "XTSE7=0x00 XTSE8=0x02\r\n";
constexpr char LqBandsUp[] = "nReturn=0 nDirection=0 nNumData=2\r\nnFormat=(nBandIndex) nData=\"\r\n"
                             "(00,(0007,0031),(0007,0031))\r\n(01,(0870,1205),(0000,0000))\r\n\"\r\n";
constexpr char LqBandsDown[] = "nReturn=0 nDirection=1 nNumData=1\r\nnFormat=(nBandIndex) nData=\"\r\n"
                               "(00,(0033,0859),(0033,0859))\r\n\"\r\n";
constexpr char DtShow[] = "  Running Mode            :      17A       State                : SHOWTIME\r\n";
constexpr char DtBands[] = "US: Band 0  Limits=[   7-  31]\r\n    Band 1  Limits=[ 870-1205]\r\n"
                           "DS: Band 0  Limits=[  33- 859]\r\n";

struct TCase {
    const char* name;
    TRouterFamily family;
    TFamilyReplies replies;
    const char* failure; // empty: a reading
    const char* mode;
    int tones;
    std::vector<std::pair<int, int>> bits; // tone, bits expected
    TBandPlan bands;
};

const TBandPlan Vdsl17{{{7, 31}, {870, 1205}}, {{33, 859}}};

// Whole replies as each family prints them in the field (numbers made up),
// tone 40 on with 9 bits and its neighbours.
const std::string LqSampleBits = "nReturn=0 nDirection=1 nNumData=4096\r\nnFormat=nBit(hex) nData=\"\r\n"
    + [] {
          std::string hex;
          for (int tone = 0; tone < 4096; ++tone)
              hex += tone == 40 ? "0A " : tone == 41 ? "0B " : tone == 42 ? "0C " : "00 ";
          return hex;
      }()
    + "\"\r\n";

std::vector<TCase> Cases()
{
    return {
        {"broadcom sample capture", TRouterFamily::Broadcom,
            {{R::State, BcmShow},
                {R::BitsBoth, "xdslctl: ADSL driver and PHY status\r\nStatus: Showtime\r\n\r\n"
                              "Tone number      Bit Allocation\r\n   0            0\r\n  40            9\r\n"
                              "  41            9\r\n4095            0\r\n"},
                {R::BandsBoth, "Medley Phase (Final) Band Plan\r\nUS: (7,31) (870,1205) (1972,2782)\r\n"
                               "DS: (33,859) (1216,1961) (2793,4083)\r\n"}},
            "", "VDSL2 17a", 4096, {{0, 0}, {40, 9}, {41, 9}, {4095, 0}},
            {{{7, 31}, {870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4083}}}},
        {"lantiq sample capture", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, LqVdsl}, {R::Profile, "nReturn=0 nProfile=6\r\n"},
                {R::BitsDown, LqSampleBits}, {R::BandsUp, LqBandsUp},
                {R::BandsDown, "nReturn=0 nDirection=1 nNumData=3\r\nnFormat=(nBandIndex, ...) nData=\"\r\n"
                               "(00,(0033,0859),(0033,0859))\r\n(01,(1216,1971),(1216,1960))\r\n"
                               "(02,(2796,4095),(0000,0000))\r\n\"\r\n"}},
            "", "VDSL2 17a", 4096, {{39, 0}, {40, 10}, {41, 11}, {42, 12}, {43, 0}},
            {{{7, 31}, {870, 1205}}, {{33, 859}, {1216, 1971}, {2796, 4095}}}},
        {"draytek sample capture", TRouterFamily::Draytek,
            {{R::State, DtShow},
                {R::BitsDown, "   0   0.0  0.0   0 *    1   0.0  0.0   0 *    2   0.0  0.0   0\r\n"
                              "  40  41.5  0.5   9 *   41  41.0  0.5   9 *   42  40.5  0.5   9\r\n"},
                {R::BandsBoth, DtBands}},
            "", "VDSL2 17a", 4096, {{0, 0}, {40, 9}, {41, 9}, {42, 9}}, {{{7, 31}, {870, 1205}}, {{33, 859}}}},
        {"broadcom 17a, header variant, rows past the profile dropped", TRouterFamily::Broadcom,
            {{R::State, BcmShow},
                {R::BitsBoth, std::string(BcmShow) + "Tone number      Bit Allocation\r\n   0  0\r\n  40  9\r\n"
                              " 900 \t 3\r\n4095 2\r\n5000 7\r\n  41 9 x\r\n  42 16\r\n  43 -1\r\n"},
                {R::BandsBoth, "Medley Phase (Final) Band Plan\r\nUS: (7,31) (870,1205)\r\nDS: (33,859)\r\n"}},
            "", "VDSL2 17a", 4096, {{40, 9}, {900, 3}, {4095, 2}, {41, 0}, {42, 0}, {43, 0}}, Vdsl17},
        {"broadcom a spoilt digit gives no tone", TRouterFamily::Broadcom,
            {{R::State, BcmShow}, {R::BitsBoth, "Tone number Bit Allocation\n  -0  11\n  4-  9\n  41  1:\n  42  5\n"},
                {R::BandsBoth, BcmBands}},
            "", "VDSL2 17a", 4096, {{0, 0}, {4, 0}, {40, 0}, {41, 0}, {42, 5}},
            {{{7, 31}, {870, 1205}}, {{33, 859}, {1216, 4083}}}},
        {"broadcom rows before the header are not data", TRouterFamily::Broadcom,
            {{R::State, BcmShow}, {R::BitsBoth, "  40  9\r\nTone number  Bit Allocation\r\n  41  5\r\n"},
                {R::BandsBoth, BcmBands}},
            "", "VDSL2 17a", 4096, {{40, 0}, {41, 5}},
            {{{7, 31}, {870, 1205}}, {{33, 859}, {1216, 4083}}}},
        {"broadcom BrcmPriv1 is 35b", TRouterFamily::Broadcom,
            {{R::State, "Status: Showtime\nMode: VDSL2 Annex B\nVDSL2 Profile: Profile BrcmPriv1\n"},
                {R::BitsBoth, "Tone number Bit Allocation\n8191 4\n"},
                {R::BandsBoth, "Medley Phase (Final) Band Plan\nUS: (7,31)\nDS: (33,8191)\n"}},
            "", "VDSL2 35b", 8192, {{8191, 4}}, {{{7, 31}}, {{33, 8191}}}},
        {"broadcom ADSL2+ takes the annex default when not in VDSL", TRouterFamily::Broadcom,
            {{R::State, "Status: Showtime\nMode: ADSL2+\n"}, {R::BitsBoth, "Tone number Bit Allocation\n100 11\n600 3\n"},
                {R::BandsBoth, "Currently not in VDSL modulation\n"}},
            "", "ADSL2+", 512, {{100, 11}}, {{{6, 31}}, {{32, 511}}}},
        {"broadcom training", TRouterFamily::Broadcom,
            {{R::State, "xdslctl: ADSL driver and PHY status\nStatus: G.994 Training\n"},
                {R::BitsBoth, "Tone number Bit Allocation\n40 9\n"}},
            "the line is not in showtime (Status: G.994 Training)", "", 0, {}, {}},
        {"broadcom VDSL without band plan", TRouterFamily::Broadcom,
            {{R::State, BcmShow}, {R::BitsBoth, "Tone number Bit Allocation\n40 9\n"},
                {R::BandsBoth, "Discovery Phase (Initial) Band Plan\nUS: (7,31)\n"}},
            "the router sent no band plan", "", 0, {}, {}},
        {"broadcom all zero", TRouterFamily::Broadcom,
            {{R::State, BcmShow}, {R::BitsBoth, "Tone number Bit Allocation\n40 0\n41 0\n"}, {R::BandsBoth, BcmBands}},
            "the router sent no bits per tone", "", 0, {}, {}},

        {"lantiq 17a, lower and upper hex, values past nNumData", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, LqVdsl}, {R::Profile, "nReturn=0 nProfile=6\r\n"},
                {R::BitsUp, "nReturn=0 nDirection=0 nNumData=4096\r\nnFormat=nBit(hex) nData=\"\r\n"
                            "00 00 00 00 00 00 00 0a 0B \"\r\n"},
                {R::BitsDown, "nReturn=0 nDirection=1 nNumData=36\r\nnFormat=nBit(hex) nData=\"\r\n"
                              + std::string(33 * 3, '0').replace(0, 0, "") + "\r\n"},
                {R::BandsUp, LqBandsUp}, {R::BandsDown, LqBandsDown}},
            "", "VDSL2 17a", 4096, {{7, 10}, {8, 11}}, Vdsl17},
        {"lantiq missing closing quote, grouped across lines, bad token skipped", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, LqVdsl}, {R::Profile, "nReturn=0 nProfile=8"},
                {R::BitsDown, "nReturn=0 nDirection=1 nNumData=40\r\nnFormat=nBit(hex) nData=\"\r\n"
                              "00 01 02\r\n03 zz 0f 10f\r\nstray"},
                {R::BandsUp, LqBandsUp}, {R::BandsDown, LqBandsDown}},
            "", "VDSL2 35b", 8192, {{1, 1}, {3, 3}, {4, 0}, {5, 15}, {6, 0}, {7, 0}}, Vdsl17},
        {"lantiq ADSL2+ without bands takes the annex default", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, "nReturn=0 XTSE1=0x00 XTSE6=0x01 XTSE8=0x00"},
                {R::BitsDown, "nReturn=0 nNumData=512 nData=\"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0C\""}},
            "", "ADSL2+", 512, {{40, 12}}, {{{6, 31}}, {{32, 511}}}},
        {"lantiq no TC sync", TRouterFamily::Lantiq, {{R::State, "nReturn=0 nLineState=0x800"}},
            "the line is not in showtime (nLineState=0x800)", "", 0, {}, {}},
        {"lantiq refused command", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, LqVdsl}, {R::BitsDown, "nReturn=-1\r\n"}},
            "the router refused a command (nReturn=-1)", "", 0, {}, {}},
        {"lantiq VDSL without bands", TRouterFamily::Lantiq,
            {{R::State, LqShow}, {R::Mode, LqVdsl}, {R::Profile, "nReturn=0 nProfile=6"},
                {R::BitsDown, "nReturn=0 nNumData=64 nData=\"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0C\""}},
            "the router sent no band plan", "", 0, {}, {}},

        {"draytek 17a, pieces split at stars, pieces not of four fields", TRouterFamily::Draytek,
            {{R::State, DtShow},
                {R::BitsDown, "DMT Status\r\n  40  41.5  0.5   9 *   41  41.0  0.5   9 *   42  40.5  0.5\r\n"
                              "  43  1.0  0.5  x7 * 4099 41.0 0.5 9 *  860 30.0 0.5 5\r\n 44 1.0 0.5 6\r\n"},
                {R::BitsUp, "  10  20.0  0.5   4 *   11  -32.0  0.0   0\r\n"}, {R::BandsBoth, DtBands}},
            "", "VDSL2 17a", 4096, {{40, 9}, {41, 9}, {42, 0}, {43, 0}, {44, 0}, {10, 4}, {860, 5}}, Vdsl17},
        {"draytek a star in place of a digit cuts no tone or bits short", TRouterFamily::Draytek,
            {{R::State, DtShow},
                {R::BitsDown, "  50  41.5  0.5   9 *  *01  41.0  0.5   6 *   52  40.5  0.5   1*\r\n"
                              "  5*3  40.0  0.5   8 *   54  40.0  0.5  12 *\r\n  -0  1.0  0.5  7 *\r\n"},
                {R::BandsBoth, DtBands}},
            "", "VDSL2 17a", 4096, {{50, 9}, {1, 0}, {51, 0}, {52, 0}, {3, 0}, {53, 0}, {54, 12}, {0, 0}}, Vdsl17},
        {"draytek directions by band plan", TRouterFamily::Draytek,
            {{R::State, DtShow}, {R::BitsDown, "  20 1 1 7 * 40 1 1 8\n"}, {R::BitsUp, "  20 1 1 3 * 40 1 1 2\n"},
                {R::BandsBoth, DtBands}},
            "", "VDSL2 17a", 4096, {{20, 3}, {40, 8}}, Vdsl17},
        {"draytek training", TRouterFamily::Draytek,
            {{R::State, "  Running Mode : 17A    State : TRAINING\n"}, {R::BitsDown, "40 1 1 9 *\n"}},
            "the line is not in showtime (State: TRAINING)", "", 0, {}, {}},
        {"draytek command not known", TRouterFamily::Draytek,
            {{R::State, "Invalid command \"adsl\"\n"}}, "the router did not say the line's state", "", 0, {}, {}},
    };
}

TEST(FamilyParsers, RepliesGiveTheLineOrSayWhyNot)
{
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const TParsedLine line = ParseFamilyReplies(c.family, c.replies);
        EXPECT_EQ(line.Failure, QString::fromLatin1(c.failure));
        if (!line.Ok()) {
            EXPECT_TRUE(line.Bits.empty());
            continue;
        }
        EXPECT_EQ(line.Mode, QString::fromLatin1(c.mode));
        EXPECT_EQ(line.ToneCount, c.tones);
        ASSERT_EQ(line.Bits.size(), std::size_t(c.tones));
        for (const auto& [tone, bits] : c.bits)
            EXPECT_EQ(line.Bits[std::size_t(tone)], bits) << "tone " << tone;
        EXPECT_EQ(line.Bands, c.bands);
    }
}

TEST(FamilyParsers, ModesGiveToneCountAndSpacing)
{
    const struct {
        const char* text;
        const char* mode;
        int tones;
        double spacing;
    } cases[] = {
        {"ADSL2+", "ADSL2+", 512, 4.3125}, {"G.992.5", "ADSL2+", 512, 4.3125}, {"G.992.3", "ADSL2", 256, 4.3125},
        {"8B", "VDSL2 8b", 2048, 4.3125}, {"Profile 17a", "VDSL2 17a", 4096, 4.3125},
        {"30a", "VDSL2 30a", 3479, 8.625}, {"35B", "VDSL2 35b", 8192, 4.3125}, {"Profile BrcmPriv1", "VDSL2 35b", 8192, 4.3125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QString mode = ModeFromText(QString::fromLatin1(c.text));
        EXPECT_EQ(mode, QString::fromLatin1(c.mode));
        const auto plan = LinePlanForMode(mode);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->ToneCount, c.tones);
        EXPECT_EQ(plan->SpacingKHz, c.spacing);
    }
    EXPECT_EQ(ModeFromText(QStringLiteral("T1.413 x")), QString());
}

} // namespace
