// Text helpers and tick arithmetic: splitting off the first field, finding a
// line end, and tick differences across the counter's wrap, against tables.
#include "telnet/net_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct SplitCase {
    const char* Text;
    const char* Delimiter;
    const char* Head;
    const char* Rest;
};

void PrintTo(const SplitCase& C, std::ostream* Out) { *Out << '"' << C.Text << '"'; }

class SplitFirstTable : public testing::TestWithParam<SplitCase> {};
TEST_P(SplitFirstTable, HeadAndRest)
{
    std::string Text = GetParam().Text;
    EXPECT_EQ(SplitFirst(Text, GetParam().Delimiter), GetParam().Head);
    EXPECT_EQ(Text, GetParam().Rest);
}
INSTANTIATE_TEST_SUITE_P(Table, SplitFirstTable,
                         testing::Values(SplitCase{"a.b.c", ".", "a", "b.c"}, SplitCase{"abc", ".", "abc", ""},
                                         SplitCase{" a : b ", ":", "a", "b"}, SplitCase{"::1", ":", "", ":1"},
                                         SplitCase{"a<>b", "<>", "a", "b"}, SplitCase{"a.", ".", "a", ""}));

struct LineEndCase {
    std::string Text;
    int Position;
    std::string LineEnd;
};

void PrintTo(const LineEndCase& C, std::ostream* Out) { *Out << testing::PrintToString(C.Text); }

class FindLineEndTable : public testing::TestWithParam<LineEndCase> {};
TEST_P(FindLineEndTable, PositionAndKind)
{
    std::string LineEnd = "stale";
    EXPECT_EQ(FindLineEnd(GetParam().Text, LineEnd), GetParam().Position);
    EXPECT_EQ(LineEnd, GetParam().LineEnd);
}
INSTANTIATE_TEST_SUITE_P(Table, FindLineEndTable,
                         testing::Values(LineEndCase{"ab\r\ncd", 3, "\r\n"}, LineEndCase{"ab\n\rcd", 3, "\n\r"},
                                         LineEndCase{"ab\rcd", 3, "\r"}, LineEndCase{"ab\ncd", 3, "\n"},
                                         LineEndCase{"ab\r", 3, "\r"}, LineEndCase{"\r\r", 1, "\r"},
                                         LineEndCase{"abc", -1, ""}, LineEndCase{"", -1, ""}));

struct TickCase {
    std::uint32_t Old;
    std::uint32_t New;
    std::uint32_t Diff;
};

void PrintTo(const TickCase& C, std::ostream* Out) { *Out << C.Old << "->" << C.New; }

class TickDiffTable : public testing::TestWithParam<TickCase> {};
TEST_P(TickDiffTable, Difference) { EXPECT_EQ(TickDiff(GetParam().Old, GetParam().New), GetParam().Diff); }
INSTANTIATE_TEST_SUITE_P(Table, TickDiffTable,
                         testing::Values(TickCase{0, 0, 0}, TickCase{10, 25, 15},
                                         TickCase{0xFFFFFFF0u, 0x10u, 0x20u}, TickCase{0xFFFFFFFFu, 0u, 1u},
                                         TickCase{100, 50, 50}, TickCase{0x7FFFFFFFu, 0x80000001u, 2u}));

}  // namespace
