// The simulator's other families without a socket, against what those
// routers print (written out here, not read with the monitor's parsers): the
// line of each profile, and the replies to each family's commands.
#include "router_sim/family_reply.h"
#include "router_sim/figure_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace routersim;

namespace {

bool InBands(const std::vector<Band>& bands, int tone)
{
    for (const Band& b : bands)
        if (tone >= b.first && tone <= b.last)
            return true;
    return false;
}

// A profile's line: its tones, spacing and rows, bits only in its bands
// and never above 15, the same for the same seed and reading, a few tones
// apart from the next reading.
TEST(FamilySimulator, EachProfileIsItsLine)
{
    const struct {
        const char* name;
        int tones, rows;
        double spacing;
        int lastUp, lastDown; // the last tone of each direction's last band
    } cases[] = {
        {"adsl2+", 512, 512, 4.3125, 31, 511},
        {"8b", 2048, 4096, 4.3125, 1205, 2047},
        {"17a", 4096, 4096, 4.3125, 2782, 4095},
        {"30a", 3479, 4096, 8.625, 1391, 3478},
        {"35b", 8192, 8192, 4.3125, 2782, 8191},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Profile> profile = ProfileFromName(c.name);
        ASSERT_TRUE(profile);
        const FamilyLine line = MakeFamilyLine(*profile, 7, 0);
        EXPECT_EQ(line.toneCount, c.tones);
        EXPECT_EQ(int(line.bits.size()), c.tones);
        EXPECT_EQ(line.printedRows, c.rows);
        EXPECT_EQ(line.spacingKHz, c.spacing);
        EXPECT_EQ(line.up.back().last, c.lastUp);
        EXPECT_EQ(line.down.back().last, c.lastDown);
        int loaded = 0, changed = 0;
        const FamilyLine next = MakeFamilyLine(*profile, 7, 1);
        for (int tone = 0; tone < c.tones; ++tone) {
            const int bits = line.bits[std::size_t(tone)];
            EXPECT_TRUE(bits >= 0 && bits <= 15) << tone;
            if (!InBands(line.up, tone) && !InBands(line.down, tone)) {
                EXPECT_EQ(bits, 0) << tone;
            }
            loaded += bits > 0;
            changed += next.bits[std::size_t(tone)] != bits;
        }
        EXPECT_GT(loaded, c.tones / 2);
        EXPECT_TRUE(changed > 0 && changed < c.tones / 4) << changed;
        EXPECT_EQ(MakeFamilyLine(*profile, 7, 0).bits, line.bits);
    }
    EXPECT_FALSE(ProfileFromName("17b"));
}

// Each family's replies as its routers print them; a command it does not
// know gets none.
TEST(FamilySimulator, RepliesAsTheRoutersPrintThem)
{
    const struct {
        const char* family;
        const char* profile;
        bool showtime;
        const char* command;
        std::vector<std::string> holds; // fragments, in this order
        int lines;                      // -1: not counted
    } cases[] = {
        {"broadcom", "17a", true, "xdslctl info --stats",
            {"xdslctl: ADSL driver and PHY status\r\n", "Status: Showtime\r\n", "Mode:\t\t\tVDSL2 Annex B\r\n",
                "VDSL2 Profile:\tProfile 17a\r\n"}, -1},
        {"broadcom", "35b", true, "xdslctl info --show", {"VDSL2 Profile:\tProfile BrcmPriv1\r\n"}, -1},
        {"broadcom", "adsl2+", true, "xdslctl info --stats", {"Mode:\t\t\tADSL2+ Annex A\r\n"}, -1},
        {"broadcom", "17a", false, "xdslctl info --Bits", {"Status: G.994 Training\r\n"}, 3},
        {"broadcom", "8b", true, "xdslctl info --Bits", {"Tone number      Bit Allocation\r\n", "   0\t\t0\r\n",
            "\r\n4095\t\t"}, 11 + 4096},
        {"broadcom", "17a", true, "xdslctl info --pbParams", {"Medley Phase (Final) Band Plan\r\n",
            "US: (7,31) (870,1205) (1972,2782)\r\n", "DS: (33,859) (1216,1971) (2783,4095)\r\n"}, -1},
        {"broadcom", "adsl2+", true, "xdslctl info --pbParams", {"Currently not in VDSL modulation\r\n"}, -1},
        {"lantiq", "17a", true, "dsl_cpe_pipe lsg", {"nReturn=0 nLineState=0x801\r\n"}, 1},
        {"lantiq", "17a", false, "dsl_cpe_pipe lsg", {"nReturn=0 nLineState=0x300\r\n"}, 1},
        {"lantiq", "17a", false, "dsl_cpe_pipe g997bansg 1", {"nReturn=-1\r\n"}, 1},
        {"lantiq", "35b", true, "dsl_cpe_pipe bpstg", {"nReturn=0 nProfile=8\r\n"}, 1},
        {"lantiq", "17a", true, "dsl_cpe_pipe bpstg", {"nReturn=0 nProfile=6\r\n"}, 1},
        {"lantiq", "adsl2+", true, "dsl_cpe_pipe g997xtusesg", {"XTSE6=0x01", "XTSE8=0x00"}, 1},
        {"lantiq", "17a", true, "dsl_cpe_pipe g997bansg 1",
            {"nReturn=0 nDirection=1 nNumData=4096\r\nnFormat=nBit(hex) nData=\"\r\n00 00 00 ", " \"\r\n"}, 3},
        {"lantiq", "17a", true, "dsl_cpe_pipe bbsg 0",
            {"nReturn=0 nDirection=0 nNumData=3\r\n", "(00,(0007,0031),(0007,0031))\r\n",
                "(02,(1972,2782),(0000,0000))\r\n\"\r\n"}, 6},
        {"draytek", "30a", true, "adsl status", {"Running Mode            :       30A", "State                : SHOWTIME"}, 10},
        {"draytek", "30a", false, "adsl status", {"State                : TRAINING"}, 2},
        {"draytek", "adsl2+", true, "adsl showbins", {"DMT Status:\r\n", "    0   0.0  0.5   0 *    1   0.0  0.5   0 *"},
            1 + 171},
        {"draytek", "17a", true, "adsl status bandinfo",
            {"US: Band 0  Limits=[   7-  31]\r\n", "    Band 1  Limits=[ 870-1205]\r\n", "DS: Band 0  Limits=[  33- 859]\r\n"},
            6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + c.profile + " " + c.command);
        const Family family = *FamilyFromName(c.family);
        const Profile profile = *ProfileFromName(c.profile);
        const std::optional<std::string> reply
            = FamilyReply(family, profile, MakeFamilyLine(profile, 3, 0), c.showtime, c.command, LineFigures{});
        ASSERT_TRUE(reply);
        std::size_t at = 0;
        for (const std::string& fragment : c.holds) {
            const std::size_t found = reply->find(fragment, at);
            EXPECT_NE(found, std::string::npos) << fragment;
            at = found == std::string::npos ? at : found + fragment.size();
        }
        if (c.lines >= 0) {
            EXPECT_EQ(int(std::count(reply->begin(), reply->end(), '\n')), c.lines);
        }
        EXPECT_EQ(reply->find('\n') , reply->find("\r\n") + 1); // CR LF line ends
    }
    for (const auto& [family, command] : {std::pair{"broadcom", "xdslctl reboot"}, std::pair{"lantiq", "lsg"},
             std::pair{"lantiq", "dsl_cpe_pipe g997sansg 9"}, std::pair{"draytek", "vdsl status"}}) {
        EXPECT_FALSE(FamilyReply(*FamilyFromName(family), Profile::V17a, MakeFamilyLine(Profile::V17a, 3, 0), true, command,
            LineFigures{}))
            << family << " " << command;
    }
}

// The bits table of a reply starts at its first row of figures after the
// heads, which is where faults may spoil it.
TEST(FamilySimulator, TheTableStartsAfterItsHeads)
{
    const struct {
        std::string reply;
        std::string startsWith;
    } cases[] = {
        {"Status: Showtime\r\n\r\nTone number      Bit Allocation\r\n   0\t\t0\r\n   1\t\t0\r\n", "   0\t\t0"},
        {"nReturn=0 nDirection=1 nNumData=2\r\nnFormat=nBit(hex) nData=\"\r\n0A 0B \"\r\n", "0A 0B"},
        {"DMT Status:\r\n    0   0.0  0.5   0 *\r\n", "    0   0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reply.substr(FamilyTableStart(c.reply), c.startsWith.size()), c.startsWith) << c.reply;
}

} // namespace
