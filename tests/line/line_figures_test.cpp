// The line's figures and counters from what each family prints, with its
// marks for not measured, DrayTek's broken decimals and the counter blocks
// that are not the ones since the link came up; and counters turned into
// counts across a retrain, a wrap and a jump.
#include "line/counter_counts.h"
#include "line/family_parsers.h"
#include "line/figure_parsers.h"

#include <gtest/gtest.h>

namespace {

using R = TReplyRole;

constexpr char BcmStats[] = "xdslctl: ADSL driver and PHY status\r\nStatus: Showtime\r\n"
    "Max:\tUpstream rate = 40000 Kbps, Downstream rate = 100000 Kbps\r\n"
    "Bearer:\t0, Upstream rate = 20000 Kbps, Downstream rate = 80000 Kbps\r\n"
    "Bearer:\t1, Upstream rate = 0 Kbps, Downstream rate = 0 Kbps\r\n"
    "                Down            Up\r\nSNR (dB):        8.3             6.1\r\n"
    "Attn(dB):        21.4            0.0\r\nPwr(dBm):        13.2            N/A\r\n"
    "Bitswap:        5120/5133       311/311\r\n"
    "Total time = 5 days 2 hours 3 min 4 sec\r\nFEC:  999999  9999\r\nCRC:  999  99\r\n"
    "Latest 15 minutes time = 7 min 3 sec\r\nCRC:  5  5\r\n"
    "Since Link time = 3 hours 12 min 5 sec\r\nFEC:            88213           417\r\n"
    "CRC:            12              3\r\nES:             9               2\r\nSES:  0  0\r\nUAS:  0  0\r\n";

TLineFigures Figures(const char* state, TDirectionFigures down, TDirectionFigures up,
    std::optional<std::uint64_t> retrains = {}, std::optional<std::int64_t> sinceLink = {})
{
    return {QString::fromLatin1(state), down, up, retrains, sinceLink};
}

TDirectionFigures Direction(std::optional<double> rate, std::optional<double> attainable, std::optional<double> margin,
    std::optional<double> attenuation, std::optional<double> signal, std::optional<double> power,
    std::optional<std::uint64_t> crc = {}, std::optional<std::uint64_t> fec = {}, std::optional<std::uint64_t> es = {},
    std::optional<std::uint64_t> ses = {}, std::optional<std::uint64_t> uas = {},
    std::optional<std::uint64_t> swaps = {})
{
    return {rate, attainable, margin, attenuation, signal, power, crc, fec, es, ses, uas, swaps};
}

TEST(LineFiguresTest, EachFamilyPrintsItsFigures)
{
    const std::optional<double> none;
    const struct {
        const char* name;
        TRouterFamily family;
        TFamilyReplies replies;
        std::vector<std::string> zyxel; // the ZyXEL's replies instead
        TLineFigures expected;
    } cases[] = {
        {"broadcom: Since Link counts, 0.0 and N/A not measured, bearer 1 not the line's", TRouterFamily::Broadcom,
            {{R::State, BcmStats}}, {},
            Figures("Showtime", Direction(80000, 100000, 8.3, 21.4, none, 13.2, 12, 88213, 9, 0, 0, 5120),
                Direction(20000, 40000, 6.1, none, none, none, 3, 417, 2, 0, 0, 311), {}, 11525)},
        {"broadcom without Since Link counts since power-up", TRouterFamily::Broadcom,
            {{R::State, "Status: Idle\r\nTotal time = 1 day 5 sec\r\nCRC: 7 8\r\nPrevious 1 day time = 1 day\r\n"
                        "CRC: 1 1\r\n"}}, {},
            Figures("Idle", Direction(none, none, none, none, none, none, 7), Direction(none, none, none, none, none, none, 8))},
        {"lantiq: markers, a refused reply, counters not valid", TRouterFamily::Lantiq,
            {{R::State, "nReturn=0 nLineState=0x801\r\n"},
                {R::FiguresUp, "nReturn=0 nDirection=0 nDeltDataType=1 LATN=1271 SATN=1271 SNR=-641 ATTNDR=12000000 "
                               "ACTPS=-901 ACTATP=-512\r\n"},
                {R::FiguresDown, "nReturn=0 nDirection=1 nDeltDataType=1 LATN=183 SATN=179 SNR=92 ATTNDR=61234000 "
                                 "ACTPS=-389 ACTATP=141\r\n"},
                {R::RateDown, "nReturn=0 nChannel=0 nDirection=1 ActualDataRate=50000000\r\n"},
                {R::RateUp, "nReturn=-1\r\n"},
                {R::CountersDown, "nReturn=0 nElapsedTime=86233 bValid=1 nCodeViolations=4 nFEC=127\r\n"},
                {R::CountersUp, "nReturn=0 nElapsedTime=86233 bValid=0 nCodeViolations=9 nFEC=9\r\n"},
                {R::SecondsDown, "nReturn=0 nDirection=0 nHistoryInterval=0 nElapsedTime=86233 bValid=1 nES=3 "
                                 "nSES=0 nLOSS=0 nUAS=41 nLOFS=0 nFECS=127\r\n"},
                {R::RetrainsDown, "nReturn=0 nDirection=0 nFullInits=6 nFailedFullInits=1\r\n"},
                {R::RetrainsUp, "nReturn=0 nDirection=1 nFullInits=2\r\n"}}, {},
            Figures("0x801", Direction(50000, 61234, 9.2, 18.3, 17.9, 14.1, 4, 127, 3, 0, 41),
                Direction(none, 12000, none, none, none, none), 6, 86233)},
        {"lantiq attenuation per band, weighted by the bands' widths", TRouterFamily::Lantiq,
            {{R::FiguresDown, "nReturn=0 LATN[0]=100 LATN[1]=400 LATN[2]=1271 SNR[0]=60 SNR[1]=60\r\n"},
                {R::BandsDown, "nReturn=0 nData=\"\r\n(00,(0033,0859),(0033,0859))\r\n(01,(1216,1629),(0,0))\r\n"
                               "(02,(2000,2100),(0,0))\r\n\"\r\n"}}, {},
            Figures("", Direction(none, none, 6.0, 20.0, none, none), {})},
        {"draytek: broken decimals, N/A, the rest from more", TRouterFamily::Draytek,
            {{R::State, "  Running Mode            :      17A       State                : SHOWTIME\r\n"
                        "  DS Actual Rate          : 68000000 bps   US Actual Rate       : 20000000 bps\r\n"
                        "  NE Current Attenuation  :       17 dB    Cur SNR Margin       :        7  dB\r\n"
                        "  Far Current Attenuation :      N/A dB    Far SNR Margin       :       -1  dB\r\n"
                        "  DS actual PSD           :     7. 4 dB    US actual PSD        :   -12. 5 dB\r\n"
                        "  NE CRC Count            :      215       FE CRC Count         :       38\r\n"
                        "  Xdsl Reset Times        :        0       Xdsl Link Times      :        2\r\n"},
                {R::FiguresMore, "                    Near End        Far End    Note\r\n"
                                 "   ES            :         9             2      (seconds)\r\n"
                                 "   UAS           :        44            44      (seconds)\r\n"
                                 "   Interleave Delay :      8             0\r\n"}}, {},
            Figures("SHOWTIME", Direction(68000, none, 7, 17, none, 7.4, 215, none, 9, none, 44),
                Direction(20000, none, -1, none, none, -12.5, 38, none, 2, none, 44), 2)},
        {"zyxel: directions from the words, fast and interleaved summed", TRouterFamily::Zyxel, {},
            {"noise margin upstream: 11.5 db\r\noutput power downstream: 16 db\r\nattenuation upstream: 13 db\r\n"
             "tone   0- 31: 00 11 22\r\n",
                "noise margin downstream:  6 db\r\noutput power upstream: 6 db\r\nattenuation downstream: 33 db\r\n",
                "near-end FEC error fast: 2\r\nnear-end FEC error interleaved: 12\r\nnear-end CRC error interleaved: 3\r\n"
                "far-end CRC error fast: 1\r\nfar-end CRC error interleaved: 4\r\nADSL uptime   1 day, 2:41:07\r\n",
                "near-end interleaved channel bit rate: 8000 kbps\r\nnear-end fast channel bit rate: 0 kbps\r\n",
                "current modem status: up\r\n"},
            Figures("up", Direction(8000, none, 6, 33, none, 16, 3, 14), Direction(none, none, 11.5, 13, none, 6, 5),
                {}, 86400 + 9667)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.family == TRouterFamily::Zyxel) {
            EXPECT_EQ(ZyxelFigures({c.zyxel.begin(), c.zyxel.end()}), c.expected);
            continue;
        }
        // Through the family's parser: a figures reply it refused, or a
        // line that is no reading, keeps the figures all the same.
        EXPECT_EQ(ParseFamilyReplies(c.family, c.replies).Figures, c.expected);
    }
}

// Figures replies are no part of the bits: the pipe refusing one of them
// leaves the line a reading.
TEST(LineFiguresTest, ARefusedFiguresCommandKeepsTheReading)
{
    TFamilyReplies replies = {{R::State, "nReturn=0 nLineState=0x801\r\n"},
        {R::Mode, "nReturn=0 XTSE6=0x01\r\n"}, {R::BitsDown, "nReturn=0 nNumData=512 nData=\"00 0A 0B\"\r\n"},
        {R::CountersUp, "nReturn=-1\r\n"}};
    const TParsedLine line = ParseLantiq(replies);
    EXPECT_TRUE(line.Ok()) << line.Failure.toStdString();
    EXPECT_EQ(line.Figures.State, QStringLiteral("0x801"));
}

TEST(LineFiguresTest, CountsBetweenReadings)
{
    constexpr std::uint64_t Half = std::uint64_t(1) << 31;
    constexpr std::uint64_t Top = (std::uint64_t(1) << 32) - 1;
    const struct {
        const char* name;
        std::uint64_t before, after;
        std::optional<std::uint64_t> increase;
    } cases[] = {
        {"growth", 100, 130, 30},
        {"none", 7, 7, 0},
        {"a retrain starts afresh", 5000, 12, 12},
        {"a fall from below 2^31 is a reset, not a wrap", Half - 1, 3, 3},
        {"a wrap from 2^31 up", Top - 9, 5, 15},
        {"a jump of 2^31 is dropped", 0, Half, std::nullopt},
        {"a wrap as large as 2^31 is dropped", Half + 1, Half - 1, std::nullopt},
        {"a jump just under 2^31 is a count", 10, Half + 9, Half - 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CounterIncrease(c.before, c.after), c.increase) << c.name;
    EXPECT_EQ(CounterIncrease(std::optional<std::uint64_t>(), std::optional<std::uint64_t>(4)), std::nullopt);

    // Retrains seen from the count and from the time since the link came up.
    TLineFigures before, after;
    before.SinceLinkS = 500;
    after.SinceLinkS = 20;
    EXPECT_EQ(RetrainedBetween(before, after), true);
    after.SinceLinkS = 800;
    EXPECT_EQ(RetrainedBetween(before, after), false);
    before.Retrains = 3;
    after.Retrains = 4;
    EXPECT_EQ(RetrainedBetween(before, after), true);
    EXPECT_EQ(RetrainedBetween({}, {}), std::nullopt);
}

TEST(LineFiguresTest, NumbersAndDurationsAsPrinted)
{
    const struct {
        const char* text;
        std::optional<double> number;
    } numbers[] = {{"7. 4", 7.4}, {"-12. 5", -12.5}, {" 8.3 ", 8.3}, {"12", 12}, {"N/A", {}}, {"-", {}},
        {"7 4", {}}, {"4.", {}}, {"", {}}};
    for (const auto& c : numbers)
        EXPECT_EQ(FigureNumber(c.text), c.number) << c.text;
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } durations[] = {{"3 hours 12 min 5 sec", 11525}, {"5 days 2 hours 3 min 4 sec", 439384}, {"2:41:07", 9667},
        {"1 day, 0:00:09", 86409}, {"30 sec", 30}, {"", {}}, {"soon", {}},
        {"99999999999999999 days", {}}};
    for (const auto& c : durations)
        EXPECT_EQ(DurationSeconds(c.text), c.seconds) << c.text;
}

} // namespace
