// Decoding of the far and near replies as the sampling cycle leaves them in
// the capture buffer: the marker line, CR LF, the reply, CR LF. Each case
// names the tones it expects to be non-zero; every other tone the decoding
// covers must come out 0 (nothing survives from an earlier cycle), and every
// tone outside it must keep its old value.
#include "line/capture_buffer.h"
#include "line/line_data.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace std::string_literals;

namespace {

constexpr std::int32_t Stale = 99; // a value no decoding can produce
const std::string Marker = "xdsl debug bitloadinginfo";
// A table line's label, cut away by the decoding.
const std::string Label = "tone   0- 31: ";
const std::string CutAway = "LLLLLLLLLLLLLL"; // 14 characters, like a label

// Text before the far reply's 118th character and the near reply's 151st,
// without line breaks.
const std::string FarLead(117, 'h');
const std::string NearLead(150, 'h');

struct Decoded {
    TZyxelToneTable tones;
    std::string left; // what the decoding leaves in the buffer
};

template <typename Decode>
Decoded Run(const std::string& reply, Decode decode)
{
    TCaptureBuffer memo;
    memo.Append(Marker);
    memo.Append(reply);
    Decoded d;
    d.tones.fill(Stale);
    decode(memo, d.tones);
    d.left = memo.Text();
    return d;
}

Decoded Far(const std::string& reply) { return Run(reply, DecodeFarEnd); }
Decoded Near(const std::string& reply) { return Run(reply, DecodeNearEnd); }

void ExpectTones(const TZyxelToneTable& tones, int first, int last, const std::map<int, int>& nonZero)
{
    for (int t = 0; t < ZyxelToneCount; ++t) {
        std::int32_t want = Stale;
        if (t >= first && t <= last) {
            const auto it = nonZero.find(t);
            want = it == nonZero.end() ? 0 : it->second;
        }
        EXPECT_EQ(tones[static_cast<std::size_t>(t)], want) << "tone " << t;
    }
}

struct DecodeCase {
    const char* name;
    std::string reply;
    std::map<int, int> nonZero;
    std::string left;
};

// ---- far end: tones 1 to 34 from the line at the reply's 118th character ----

class FarEndDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FarEndDecoding, WritesTonesOneToThirtyFour)
{
    const auto& c = GetParam();
    const auto d = Far(c.reply);
    ExpectTones(d.tones, 1, 34, c.nonZero);
    EXPECT_EQ(d.left, c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FarEndDecoding,
    ::testing::Values(
        DecodeCase{"WorkedExample", FarLead + Label + "a3 0f 12\r\nnext line\r\nras",
                   {{1, 3}, {2, 10}, {3, 15}, {5, 2}, {6, 1}}, "a3 0f 12"},
        DecodeCase{"EmptyReply", "", {}, ""},
        DecodeCase{"ShorterThanItsDigits", FarLead + "tone   0- 3", {}, ""},
        DecodeCase{"OneCharacterShortOfTheData", FarLead + Label.substr(0, 13), {}, ""},
        DecodeCase{"FirstDigitOnly", FarLead + Label + "7", {{2, 7}}, "7"},
        DecodeCase{"DataStringIsTrimmed", FarLead + Label + "  \t12 34  ", {{1, 2}, {2, 1}, {3, 4}, {4, 3}}, "12 34"},
        DecodeCase{"DigitWithSpaceBefore", FarLead + Label + "a3  7 12", {{1, 3}, {2, 10}, {4, 7}, {5, 2}, {6, 1}}, "a3  7 12"},
        DecodeCase{"DigitWithSpaceAfter", FarLead + Label + "a3 7  12", {{1, 3}, {2, 10}, {4, 7}, {5, 2}, {6, 1}}, "a3 7  12"},
        DecodeCase{"UpperAndLowerCaseAlike", FarLead + Label + "AB ab Ff fF",
                   {{1, 11}, {2, 10}, {3, 11}, {4, 10}, {5, 15}, {6, 15}, {7, 15}, {8, 15}}, "AB ab Ff fF"},
        DecodeCase{"ForeignCharactersAreZero", FarLead + Label + "-x gG 1G \xff" "9 :@ 0x",
                   {{6, 1}, {7, 9}}, "-x gG 1G \xff" "9 :@ 0x"},
        DecodeCase{"SeparatorNeverLookedAt", FarLead + Label + "12x34y56", {{1, 2}, {2, 1}, {3, 4}, {4, 3}, {5, 6}, {6, 5}}, "12x34y56"},
        DecodeCase{"SeventeenthByteReachesTones33And34",
                   FarLead + Label + "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 21 43",
                   {{31, 1}, {32, 2}, {33, 3}, {34, 4}},
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 21 43"},
        DecodeCase{"EighteenthByteIgnored",
                   FarLead + Label + "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 55",
                   {}, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 55"},
        // A line break among the 14 cut characters leaves the line too short:
        // the far data string is empty.
        DecodeCase{"BreakInsideTheLabel", FarLead + "tone\r\n  0- 31: a3 0f", {}, ""},
        // The data reaches only to the end of its line.
        DecodeCase{"StopsAtLineEnd", FarLead + Label + "a3\r\n0f", {{1, 3}, {2, 10}}, "a3"},
        // A lone LF is an ordinary character and does not end the line.
        DecodeCase{"LoneLfInsideTheLine", FarLead + Label + "a3\n0f", {{1, 3}, {2, 10}, {3, 15}}, "a3\n0f"},
        DecodeCase{"LineReadAsFirst4096Characters",
                   FarLead + Label + std::string(4081, ' ') + "a3 0f", {{2, 10}}, "a"},
        DecodeCase{"DigitsPast4096Lost", FarLead + Label + std::string(4082, ' ') + "a3 0f", {}, ""},
        DecodeCase{"NulEndsTheReply", FarLead + Label + "a3 5\0f 12"s, {{1, 3}, {2, 10}, {4, 5}}, "a3 5"},
        DecodeCase{"NulBeforeTheDataEmptiesIt", FarLead + "\0"s + Label + "a3", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FarEndDecoding, ReplyOfFewerThan132CharactersClearsEarlierValues)
{
    // 131 characters of digits: none of them reaches the data positions.
    const auto d = Far(std::string(131, '7'));
    ExpectTones(d.tones, 1, 34, {});
}

TEST(FarEndDecoding, DataBeginsAtCharacter132WhenNoBreakFallsBefore)
{
    // Characters 118 to 131 are cut whatever they are; 132 onwards is data.
    const auto d = Far(std::string(131, '7') + "5");
    ExpectTones(d.tones, 1, 34, {{2, 5}});
}

// ---- near end: tones 33 to 512 from the lines after the reply's 151st character ----

class NearEndDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(NearEndDecoding, WritesTones33To512)
{
    const auto& c = GetParam();
    const auto d = Near(c.reply);
    ExpectTones(d.tones, 33, 512, c.nonZero);
    EXPECT_EQ(d.left, c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NearEndDecoding,
    ::testing::Values(
        // The last line is read again, in full, after its cut copy: "en" of
        // "end" lands on tones 41 and 42.
        DecodeCase{"WorkedExample",
                   NearLead + "xyz\r\nABCDEFGHIJKLMN1f 2e \r\nABCDEFGHIJKLMN3d 4c \r\nend",
                   {{33, 15}, {34, 1}, {35, 14}, {36, 2}, {37, 13}, {38, 3}, {39, 12}, {40, 4}, {42, 14}},
                   "1f 2e \r\n3d 4c \r\n\r\nend"},
        DecodeCase{"EmptyReply", "", {}, ""},
        DecodeCase{"ShorterThanItsDigits", NearLead.substr(0, 100), {}, ""},
        // One line after the cut: nothing is moved or cut.
        DecodeCase{"SingleLineStaysWhole", NearLead + "12 34 56",
                   {{33, 2}, {34, 1}, {35, 4}, {36, 3}, {37, 6}, {38, 5}}, "12 34 56"},
        // The reply ends in CR LF: the repeated last line is empty.
        DecodeCase{"ReplyEndingInBreak", NearLead + "x\r\n" + CutAway + "12 34 \r\n",
                   {{33, 2}, {34, 1}, {35, 4}, {36, 3}}, "12 34"},
        // A line that keeps 5 characters after its cut puts later bytes out of step.
        DecodeCase{"OutOfStepLine", NearLead + "x\r\n" + CutAway + "11 22\r\n" + CutAway + "33 44 \r\nras",
                   {{33, 1}, {34, 1}, {35, 2}, {36, 2}, {38, 3}, {40, 4}, {42, 10}},
                   "11 22\r\n33 44 \r\n\r\nras"},
        DecodeCase{"ShortLinesCutToNothing", NearLead + "x\r\nshort\r\n" + CutAway + "9a\r\nz",
                   {{33, 10}, {34, 9}}, "9a\r\n\r\nz"},
        DecodeCase{"LowerAndUpperCase", NearLead + "aB Cd eF",
                   {{33, 11}, {34, 10}, {35, 13}, {36, 12}, {37, 15}, {38, 14}}, "aB Cd eF"},
        // The repeated last line is read as data too, out of step here.
        DecodeCase{"RepeatedLastLineOutOfStep", NearLead + "x\r\n" + CutAway + "aB Cd eF",
                   {{33, 11}, {34, 10}, {35, 13}, {36, 12}, {37, 15}, {38, 14}, {47, 10}, {50, 12}, {52, 14}},
                   "aB Cd eF\r\n" + CutAway + "aB Cd eF"},
        // The text is cut at the NUL, and so is the CR LF that the append
        // would have added, so the last line runs straight on.
        DecodeCase{"NulEndsTheReply", NearLead + "x\r\n" + CutAway + "12 34\0 56\r\nmore"s,
                   {{33, 2}, {34, 1}, {35, 4}, {36, 3}, {45, 1}, {48, 3}},
                   "12 34\r\n" + CutAway + "12 34"},
        // Only 256 bytes are read; what stands beyond is never looked at.
        DecodeCase{"Bytes240To255BeyondTheTable", NearLead + [] {
                       std::string s;
                       for (int k = 0; k < 239; ++k)
                           s += "00 ";
                       return s + "21 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff 77";
                   }(),
                   {{511, 1}, {512, 2}}, [] {
                       std::string s;
                       for (int k = 0; k < 239; ++k)
                           s += "00 ";
                       return s + "21 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff 77";
                   }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NearEndDecoding, LinesReadAsFirst4096CharactersButLastLineWhole)
{
    const std::string longData(5000, '1');
    const auto d = Near(NearLead + "x\r\n" + CutAway + longData + "\r\n" + longData);
    // Lines are read as 4096 characters and lose their first 14; the last line
    // also stays in place uncut, and whole.
    EXPECT_EQ(d.left, std::string(4096 - 14, '1') + "\r\n" + std::string(4096 - 14, '1') + "\r\n" + longData);
    // Every byte reads "11".
    std::map<int, int> ones;
    for (int t = 33; t <= 512; ++t)
        ones[t] = 1;
    ExpectTones(d.tones, 33, 512, ones);
}

TEST(NearEndDecoding, Character151DecidesWhichLineIsOverwritten)
{
    // The 151st character is the first of the data line itself: that line
    // is overwritten by the next one, so its bytes never count.
    const std::string reply = std::string(150, 'h') + CutAway + "ee ee\r\n" + CutAway + "12";
    const auto d = Near(reply);
    // "12", then the repeated last line "LLLLLLLLLLLLLL12": its digits stand
    // at offsets 16 and 17, so byte 5 reads "L1".
    ExpectTones(d.tones, 33, 512, {{33, 2}, {34, 1}, {43, 1}});
    EXPECT_EQ(d.left, "12\r\n" + CutAway + "12");
}

// ---- both decodings together ----

TEST(LineData, ToneZeroIsNeverWritten)
{
    TZyxelToneTable tones;
    tones.fill(Stale);
    TCaptureBuffer memo;
    memo.Append(Marker);
    memo.Append(FarLead + Label + "ff ff");
    DecodeFarEnd(memo, tones);
    memo.Clear();
    memo.Append(Marker);
    memo.Append(NearLead + "ff ff");
    DecodeNearEnd(memo, tones);
    EXPECT_EQ(tones[0], Stale);
}

TEST(LineData, NearOverwritesTheFarEndsTones33And34)
{
    TZyxelToneTable tones{};
    TCaptureBuffer memo;
    memo.Append(Marker);
    memo.Append(FarLead + Label + "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ff");
    DecodeFarEnd(memo, tones);
    ASSERT_EQ(tones[33], 15);
    memo.Clear();
    memo.Append(Marker);
    memo.Append("");
    DecodeNearEnd(memo, tones);
    EXPECT_EQ(tones[33], 0);
    EXPECT_EQ(tones[34], 0);
}

TEST(LineData, ProgramWideTableStartsAtZero)
{
    for (std::int32_t v : ZyxelToneTable())
        EXPECT_EQ(v, 0);
    EXPECT_EQ(&ZyxelToneTable(), &ZyxelToneTable());
}

} // namespace
