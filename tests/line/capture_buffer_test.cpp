// The capture buffer's line rules: CR LF is the only line break, a final
// empty line is not counted, reads stop at 4096 characters, replacing a
// missing line does nothing, appends start a new line only where needed, and
// every text handed in stops at its first NUL.
#include "line/capture_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

TCaptureBuffer WithText(const std::string& text)
{
    TCaptureBuffer memo;
    memo.SetText(text);
    return memo;
}

struct LinesCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines; // every line as read, in order
};

class CaptureBufferLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(CaptureBufferLines, CountsAndReadsLines)
{
    const auto& c = GetParam();
    const auto memo = WithText(c.text);
    ASSERT_EQ(memo.LineCount(), static_cast<int>(c.lines.size()));
    for (std::size_t i = 0; i < c.lines.size(); ++i)
        EXPECT_EQ(memo.Line(static_cast<int>(i)), c.lines[i]) << "line " << i;
    // A line past the end, or before the start, reads as empty.
    EXPECT_EQ(memo.Line(static_cast<int>(c.lines.size())), "");
    EXPECT_EQ(memo.Line(-1), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CaptureBufferLines,
    ::testing::Values(
        LinesCase{"Empty", "", {}},
        LinesCase{"OneLineNoBreak", "a", {"a"}},
        LinesCase{"FinalBreakNotALine", "a\r\n", {"a"}},
        LinesCase{"TwoLines", "a\r\nb", {"a", "b"}},
        LinesCase{"OnlyABreak", "\r\n", {""}},
        LinesCase{"EmptyLinesInside", "\r\n\r\nx\r\n", {"", "", "x"}},
        LinesCase{"LoneLfIsText", "a\nb\r\nc", {"a\nb", "c"}},
        LinesCase{"LoneCrIsText", "a\rb\r\n", {"a\rb"}},
        LinesCase{"LfCrIsNotABreak", "a\n\rb", {"a\n\rb"}},
        LinesCase{"CrBeforeBreak", "a\r\r\nb", {"a\r", "b"}},
        LinesCase{"LfAfterBreak", "a\r\n\nb", {"a", "\nb"}},
        LinesCase{"ReadStopsAt4096", std::string(5000, 'x') + "\r\nend",
                  {std::string(4096, 'x'), "end"}},
        LinesCase{"ExactlyFourThousandNinetySix", std::string(4096, 'y'), {std::string(4096, 'y')}},
        LinesCase{"HighBytesKept", "\xff\x80\r\n\x01", {"\xff\x80", "\x01"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct EditCase {
    const char* name;
    std::string before;
    int line;
    std::string replacement;
    std::string after;
};

class CaptureBufferSetLine : public ::testing::TestWithParam<EditCase> {};

TEST_P(CaptureBufferSetLine, ReplacesOnlyThatLinesCharacters)
{
    const auto& c = GetParam();
    auto memo = WithText(c.before);
    memo.SetLine(c.line, c.replacement);
    EXPECT_EQ(memo.Text(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CaptureBufferSetLine,
    ::testing::Values(
        EditCase{"FirstLine", "ab\r\ncd", 0, "X", "X\r\ncd"},
        EditCase{"LastLineWithoutBreak", "ab\r\ncd", 1, "XYZ", "ab\r\nXYZ"},
        EditCase{"MiddleLineKeepsBreaks", "a\r\nb\r\nc\r\n", 1, "", "a\r\n\r\nc\r\n"},
        EditCase{"MissingLineChangesNothing", "a\r\n", 1, "X", "a\r\n"},
        EditCase{"NegativeLineChangesNothing", "a", -1, "X", "a"},
        EditCase{"EmptyBufferChangesNothing", "", 0, "X", ""},
        EditCase{"LongLineReplacedWhole", std::string(5000, 'x') + "\r\nb", 0, "s", "s\r\nb"},
        EditCase{"NulCutsReplacement", "ab\r\ncd", 0, "12\0 34"s, "12\r\ncd"},
        EditCase{"TextWithBreaksAddsLines", "a\r\nb", 0, "1\r\n2", "1\r\n2\r\nb"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AppendCase {
    const char* name;
    std::string before;
    std::vector<std::string> appended;
    std::string after;
    int lines;
};

class CaptureBufferAppend : public ::testing::TestWithParam<AppendCase> {};

TEST_P(CaptureBufferAppend, AddsLineBreaksWhereTheRuleSays)
{
    const auto& c = GetParam();
    auto memo = WithText(c.before);
    for (const auto& s : c.appended)
        memo.Append(s);
    EXPECT_EQ(memo.Text(), c.after);
    EXPECT_EQ(memo.LineCount(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CaptureBufferAppend,
    ::testing::Values(
        AppendCase{"ToEmpty", "", {"abc"}, "abc\r\n", 1},
        AppendCase{"AfterBreak", "a\r\n", {"b"}, "a\r\nb\r\n", 2},
        AppendCase{"WithoutFinalBreak", "a", {"b"}, "a\r\nb", 2},
        AppendCase{"EmptyLine", "", {""}, "\r\n", 1},
        AppendCase{"MarkerThenReply", "", {"xdsl debug bitloadinginfo", " r\r\nras"},
                   "xdsl debug bitloadinginfo\r\n r\r\nras\r\n", 3},
        AppendCase{"NulLosesRestAndBreak", "", {"ab\0cd"s}, "ab", 1},
        AppendCase{"NulThenAppendStartsNewLine", "", {"ab\0cd"s, "ef"}, "ab\r\nef", 2},
        AppendCase{"NulAfterNoBreakKeepsLeadingBreak", "a", {"b\0c"s}, "a\r\nb", 2},
        AppendCase{"NulFirstAddsNothing", "a\r\n", {"\0b"s}, "a\r\n", 1},
        AppendCase{"LoneCrDoesNotEndTheText", "a\r", {"b"}, "a\r\r\nb", 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct SetTextCase {
    const char* name;
    std::string text;
    std::string kept;
};

class CaptureBufferSetText : public ::testing::TestWithParam<SetTextCase> {};

TEST_P(CaptureBufferSetText, TakesTextUpToFirstNul)
{
    const auto& c = GetParam();
    auto memo = WithText("old\r\n");
    memo.SetText(c.text);
    EXPECT_EQ(memo.Text(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CaptureBufferSetText,
    ::testing::Values(SetTextCase{"Plain", "a\r\nb", "a\r\nb"},
                      SetTextCase{"NulInside", "a\r\n\0b"s, "a\r\n"},
                      SetTextCase{"NulFirst", "\0abc"s, ""},
                      SetTextCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureBuffer, ClearEmptiesEverything)
{
    auto memo = WithText("a\r\nb\r\n");
    memo.Clear();
    EXPECT_EQ(memo.LineCount(), 0);
    memo.Append("c");
    EXPECT_EQ(memo.Text(), "c\r\n");
}

} // namespace
