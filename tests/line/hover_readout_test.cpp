// The read-out's texts and their number form.
#include "line/hover_readout.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

namespace {

class CLocale : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(FSaved); }

private:
    QLocale FSaved;
};

using FormatGeneralTest = CLocale;
using HoverTextsTest = CLocale;

TEST_F(FormatGeneralTest, Table)
{
    const struct { long double v; const char* text; } cases[] = {
        {0.0L, "0"},
        {9.0L, "9"},
        {33 * 4.3125L, "142.3125"},
        {300 * 4.3125L, "1293.75"},
        {512 * 4.3125L, "2208"},
        {-2.5L, "-2.5"},
        {0.1L + 0.2L, "0.3"},                 // rounded at 15 digits
        {0.1 + 0.2, "0.3"},                   // the double sum too
        {1.0L / 3, "0.333333333333333"},
        {123456789012345.0L, "123456789012345"},
        {1e15L, "1E15"},                      // too many whole digits
        {1234567890123456.0L, "1.23456789012346E15"},
        {0.00001L, "0.00001"},
        {0.0000015L, "1.5E-6"},
        {-0.0L, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatGeneral(c.v), QString::fromLatin1(c.text)) << double(c.v);
}

TEST_F(FormatGeneralTest, NonNumbers)
{
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::infinity()), QStringLiteral("INF"));
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<long double>::infinity()), QStringLiteral("-INF"));
    EXPECT_EQ(FormatGeneral(std::numeric_limits<long double>::quiet_NaN()), QStringLiteral("NAN"));
}

TEST_F(FormatGeneralTest, LocaleDecimalSeparatorNoGrouping)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatGeneral(33 * 4.3125L), QStringLiteral("142,3125"));
    EXPECT_EQ(FormatGeneral(512 * 4.3125L), QStringLiteral("2208"));
    EXPECT_EQ(FormatGeneral(1.5e-6L), QStringLiteral("1,5E-6"));
}

TEST_F(HoverTextsTest, Table)
{
    const struct { int index, offset; double bits; const char* tone; const char* freq; const char* bitsText; } cases[] = {
        {-1, 256, 7, "Tone number:", "Frequency:", "Bits:"},
        {0, 0, 0, "Tone number:   0", "Frequency:       0 KHz", "Bits:                  0"},
        {33, 0, 9, "Tone number:   33", "Frequency:       142.3125 KHz", "Bits:                  9"},
        {44, 256, 12, "Tone number:   300", "Frequency:       1293.75 KHz", "Bits:                  12"},
        {256, 256, 2, "Tone number:   512", "Frequency:       2208 KHz", "Bits:                  2"},
        {512, 0, 15, "Tone number:   512", "Frequency:       2208 KHz", "Bits:                  15"},
        {1, 0, 2.5, "Tone number:   1", "Frequency:       4.3125 KHz", "Bits:                  2.5"},
    };
    for (const auto& c : cases) {
        const THoverTexts t = HoverTexts(c.index, c.offset, c.bits);
        EXPECT_EQ(t.Tone, QString::fromLatin1(c.tone));
        EXPECT_EQ(t.Frequency, QString::fromLatin1(c.freq));
        EXPECT_EQ(t.Bits, QString::fromLatin1(c.bitsText));
    }
}

} // namespace
