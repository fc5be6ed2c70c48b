// The window's rules without widgets: ranges and the read-out's tone offset,
// bar colours, the help window's place, the error text's full stop and typed
// text as bytes.
#include "app/window_rules.h"
#include "history/figures/history_figures.h"

#include <gtest/gtest.h>

namespace {

struct RangeCase {
    bool rb1, rb2, rb3;
    int first, last;
    double maximum;
};

TEST(WindowRules, EachChoicePlotsItsTonesWithTheMaximumAtItsLastBar)
{
    const RangeCase cases[] = {
        {true, false, false, 0, 255, 255.0},
        // The maximum is the X of the last bar (bars start at X 0), not 512.
        {false, true, false, 256, 512, 256.0},
        {false, false, true, 0, 512, 512.0},
        // Looked at in order, each by itself: the later choice wins.
        {true, true, false, 256, 512, 256.0},
        {false, true, true, 0, 512, 512.0},
        {true, false, true, 0, 512, 512.0},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rb1 << c.rb2 << c.rb3);
        const auto range = SelectedToneRange(c.rb1, c.rb2, c.rb3);
        ASSERT_TRUE(range.has_value());
        EXPECT_EQ(range->FirstTone, c.first);
        EXPECT_EQ(range->LastTone, c.last);
        EXPECT_EQ(range->AxisMaximum, c.maximum);
        EXPECT_EQ(range->LastTone - range->FirstTone, int(range->AxisMaximum));
    }
    EXPECT_FALSE(SelectedToneRange(false, false, false).has_value());
}

TEST(ToneOffset, RangeChoicesInOrder)
{
    const struct { bool rb1, rb2, rb3; int offset; } cases[] = {
        {true, false, false, 0},   {false, true, false, 256}, {false, false, true, 0},
        {false, false, false, 0},  {true, true, false, 256},  {false, true, true, 0},
        {true, true, true, 0},     {true, false, true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToneOffset(c.rb1, c.rb2, c.rb3), c.offset) << c.rb1 << c.rb2 << c.rb3;
}

TEST(WindowRules, UpstreamTonesAreGreenAndDownstreamBlue)
{
    const struct {
        int tone;
        TColor colour;
    } cases[] = {{0, clGreen}, {31, clGreen}, {32, clBlue}, {256, clBlue}, {512, clBlue}};
    for (const auto& c : cases)
        EXPECT_EQ(ToneColor(c.tone), c.colour) << "tone " << c.tone;
    EXPECT_EQ(ToQColor(clGreen), QColor(0, 128, 0));
    EXPECT_EQ(ToQColor(clBlue), QColor(0, 0, 255));
}

TEST(WindowRules, HelpWindowOpensRightOfTheMainWindowsMiddle)
{
    const struct {
        int left, width, expected;
    } cases[] = {
        {382, 707, 545}, // 382 + 353 - 190: half of an odd width rounds down
        {382, 708, 546},
        {0, 699, 159},
        {-500, 707, -337}, // a window partly off screen to the left
        {-500, 1, -690},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpWindowLeft(c.left, c.width), c.expected) << c.left << " + " << c.width;
    EXPECT_EQ(HelpWindowTop(403), 503);
    EXPECT_EQ(HelpWindowTop(-120), -20);
}

TEST(WindowRules, FullStopOnlyAfterCharactersThatSortAfterTheStop)
{
    const struct {
        const char16_t* text;
        const char16_t* shown;
    } cases[] = {
        {u"", u""},
        {u"Printing in progress", u"Printing in progress."},
        {u"Cannot open clipboard.", u"Cannot open clipboard."},
        {u"Password required!", u"Password required!"}, // '!' sorts before '.'
        {u"Axis Maximum Value must be >= Minimum", u"Axis Maximum Value must be >= Minimum."},
        {u"JPEG error #42", u"JPEG error #42."}, // digits sort after '.'
        {u"a list -", u"a list -"},             // '-' sorts just before '.'
        {u"a path /", u"a path /."},            // '/' just after
        {u"(see above)", u"(see above)"},
        {u"Cannot create file \"x.jpg\"", u"Cannot create file \"x.jpg\""},
        {u"t\u00e9l\u00e9", u"t\u00e9l\u00e9."},
        {u"ends in a line break\n", u"ends in a line break\n"},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(WithFullStop(text), QString::fromUtf16(c.shown)) << text.toStdString();
    }
}

TEST(WindowRules, TypedTextGoesOutOneBytePerCharacter)
{
    const struct {
        const char16_t* typed;
        std::string bytes;
    } cases[] = {
        {u"1234", "1234"},
        {u" pass word ", " pass word "}, // sent as typed: no trimming
        {u"p\u00e4ss\u00ff", std::string("p\xe4ss\xff")},
        {u"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToWireBytes(QString::fromUtf16(c.typed)), c.bytes);
}

TEST(WindowRules, AboutTextHasItsLinesSeparatedByLineFeedThenReturn)
{
    const QString about = AboutText();
    EXPECT_TRUE(about.startsWith(QStringLiteral("Simple Tirvane for the ZyXEL P-660HW-T1\n\r")));
    EXPECT_GT(about.size(), QStringLiteral("Simple Tirvane for the ZyXEL P-660HW-T1\n\r").size());
}

// The window opens where it was designed (or remembered) when the screen's
// available area holds it whole, and is otherwise moved by the least amount.
TEST(WindowRules, AWindowOpensOnTheScreensAvailableArea)
{
    const QSize design(707, 475);
    const struct {
        const char* what;
        QPoint at;
        QSize outer;
        QRect available;
        QPoint expected;
    } cases[] = {
        {"fits at the designed place", {382, 403}, design, {0, 0, 1600, 1000}, {382, 403}},
        {"fits exactly", {0, 0}, design, {0, 0, 707, 475}, {0, 0}},
        {"1366 x 768 less a 32-pixel panel", {382, 403}, design, {0, 0, 1366, 736}, {382, 261}},
        {"past the right edge", {1000, 100}, design, {0, 0, 1366, 768}, {659, 100}},
        {"above and left of a panel", {-50, 10}, design, {40, 30, 1326, 738}, {40, 30}},
        {"a screen to the right", {382, 403}, design, {1920, 0, 1366, 768}, {1920, 293}},
        // Scale 2 on 1600 x 1000: 800 x 500 logical, less a panel.
        {"larger than the area", {382, 403}, {707, 530}, {0, 24, 800, 476}, {93, 24}},
        {"no area known", {382, 403}, design, {}, {382, 403}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaceOnScreen(QRect(c.at, c.outer), c.available), c.expected) << c.what;
}

} // namespace
