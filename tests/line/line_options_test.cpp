// The three ranges' names and captions, and the options both programs share
// read from real command lines.
#include "line/line_options.h"

#include <gtest/gtest.h>

namespace {

TEST(TonePlan, RangesAreNamedAndCaptionedFromTheirTones)
{
    const struct {
        TRangeChoice range;
        const char* name;
        const char* caption;
        int first, last;
    } cases[] = {
        {TRangeChoice::rc0To255, "0-255", "0 - 255", 0, 255},
        {TRangeChoice::rc256To512, "256-512", "256 - 512", 256, 512},
        {TRangeChoice::rc0To512, "0-512", "0 - 512", 0, 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RangeChoiceText(c.range), QString::fromLatin1(c.name));
        EXPECT_EQ(RangeCaption(c.range), QString::fromLatin1(c.caption));
        EXPECT_EQ(RangeChoiceFromText(QString::fromLatin1(c.name)), c.range);
        EXPECT_EQ(RangePlan(c.range).FirstTone, c.first);
        EXPECT_EQ(RangePlan(c.range).LastTone, c.last);
    }
    EXPECT_EQ(RangeChoicesText(), QStringLiteral("0-255, 256-512 or 0-512"));
    for (const char* text : {"0 - 255", "0-511", "", "0-255 ", "256-512x"})
        EXPECT_EQ(RangeChoiceFromText(QString::fromLatin1(text)), std::nullopt) << text;
}

// The Host box's text as address and port, and back.
TEST(LineOptions, HostBoxNamesAPort)
{
    const struct {
        const char* text;
        const char* host;
        int port; // 0: none
    } cases[] = {
        {"router", "router", 0},
        {"router:2323", "router", 2323},
        {"127.0.0.9:65535", "127.0.0.9", 65535},
        {"[::1]:2323", "::1", 2323},
        {"[::1]", "::1", 0},
        {"::1", "::1", 0},
        {"fe80::1:23", "fe80::1:23", 0},
        {"router:0", "router:0", 0},
        {"router:65536", "router:65536", 0},
        {"router:+23", "router:+23", 0},
        {"router:", "router:", 0},
        {":23", ":23", 0},
        {"[::1]:x", "[::1]:x", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const THostAndPort split = SplitHostPort(QString::fromLatin1(c.text));
        EXPECT_EQ(split.Host, QString::fromLatin1(c.host));
        EXPECT_EQ(split.Port.value_or(0), c.port);
        if (c.port) {
            const THostAndPort back = SplitHostPort(JoinHostPort(split.Host, c.port));
            EXPECT_EQ(back.Host, split.Host);
            EXPECT_EQ(back.Port, split.Port);
        }
    }
}

// The ranges of a line follow its last tone: halves of 512 tones end at 511.
TEST(TonePlan, RangesFollowTheLinesLastTone)
{
    const struct {
        int lastTone;
        const char* captions[3];
    } cases[] = {
        {512, {"0 - 255", "256 - 512", "0 - 512"}},
        {511, {"0 - 255", "256 - 511", "0 - 511"}},
        {4095, {"0 - 2047", "2048 - 4095", "0 - 4095"}},
        {3478, {"0 - 1738", "1739 - 3478", "0 - 3478"}},
    };
    for (const auto& c : cases) {
        int i = 0;
        for (TRangeChoice range : {TRangeChoice::rc0To255, TRangeChoice::rc256To512, TRangeChoice::rc0To512})
            EXPECT_EQ(RangeCaption(range, c.lastTone), QString::fromLatin1(c.captions[i++])) << c.lastTone;
    }
}

TEST(LineOptions, CommandLinesGiveTheSharedValues)
{
    const struct {
        QStringList args;
        std::optional<QString> host, username, prompt;
        std::optional<TRangeChoice> range;
        std::optional<QString> unknownRange;
    } cases[] = {
        {{}, {}, {}, {}, {}, {}},
        {{"--host", "127.0.0.1"}, "127.0.0.1", {}, {}, {}, {}},
        {{"--host="}, "", {}, {}, {}, {}}, // given but empty is not "not given"
        {{"--username=admin", "--prompt", "ras> "}, {}, "admin", "ras> ", {}, {}},
        {{"--range", "256-512"}, {}, {}, {}, TRangeChoice::rc256To512, {}},
        {{"--range", "0 - 512"}, {}, {}, {}, {}, "0 - 512"},
        {{"--host", "a", "--host", "b"}, "b", {}, {}, {}, {}}, // the last one counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const TLineOptionSet options = MakeLineOptions({{{"h", "H"}, {"u", "U"}, {"p", "P"}, {"r", "R"}}});
        QCommandLineParser parser;
        parser.addOptions({options.Host, options.Username, options.Prompt, options.Range});
        ASSERT_TRUE(parser.parse(QStringList{"prog"} + c.args)) << parser.errorText().toStdString();
        const TLineOptionValues values = ReadLineOptions(parser, options);
        EXPECT_EQ(values.Host, c.host);
        EXPECT_EQ(values.Username, c.username);
        EXPECT_EQ(values.Prompt, c.prompt);
        EXPECT_EQ(values.Range, c.range);
        EXPECT_EQ(values.UnknownRange, c.unknownRange);
    }
}

} // namespace
