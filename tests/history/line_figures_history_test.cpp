// The History window's line figures and SNR over a period, from small sets of
// readings: counts per 15 minutes across a retrain and a wrap, the report's
// spreads and days, SNR per tone by group and direction, its envelope as rows
// leave, and the newest training's QLN and Hlog.
#include "history/figures/line_figures_history.h"
#include "history/figures/line_pictures.h"
#include "history/figures/snr_history.h"

#include "support/test_main.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<QGuiApplication>; // fonts, on the offscreen platform
    return setUp;
}

namespace {

constexpr std::int64_t Minute = 60'000;
constexpr std::int64_t Day0 = 1'796'601'600'000; // a midnight UTC

TReading Figured(std::int64_t minute, std::uint64_t crc, std::uint64_t es, std::int64_t sinceLinkS,
    double margin = 6.0, TReadingOutcome outcome = TReadingOutcome::LineUp)
{
    TReading r = ZyxelReading(Day0 + minute * Minute, QStringLiteral("127.0.0.1"), outcome == TReadingOutcome::LineUp);
    r.Outcome = outcome;
    if (outcome != TReadingOutcome::LineUp)
        return r;
    r.Figures.Down.Crc = crc;
    r.Figures.Down.Es = es;
    r.Figures.Down.Ses = es / 4;
    r.Figures.Down.MarginDb = margin;
    r.Figures.SinceLinkS = sinceLinkS;
    return r;
}

} // namespace

TEST(LineFiguresHistory, CountsPerQuarterHourStartAfreshAfterARetrain)
{
    const struct {
        const char* name;
        std::vector<TReading> readings;
        std::vector<std::int64_t> crc; // per bucket
        int retrains;
    } cases[] = {
        {"steady growth", {Figured(0, 10, 1, 600), Figured(5, 14, 1, 900), Figured(16, 20, 2, 1560)}, {4, 6}, 0},
        {"a retrain restarts the count", {Figured(0, 100, 5, 6000), Figured(1, 3, 0, 30)}, {3}, 1},
        {"a 32-bit wrap", {Figured(0, 4'294'967'290ULL, 0, 60), Figured(1, 4, 0, 120)}, {10}, 0},
        {"no reading between keeps counting",
            {Figured(0, 10, 0, 60), Figured(1, 0, 0, 0, 0, TReadingOutcome::NoAnswer), Figured(2, 13, 0, 180)}, {3}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        THistoryLineFigures history;
        TLineFiguresStats stats;
        for (const TReading& r : c.readings) {
            history.Add(r);
            stats.Add(r);
        }
        std::vector<std::int64_t> crc;
        for (const TErrorBucket& b : history.Buckets())
            crc.push_back(b.CrcDown);
        crc.erase(crc.begin(), crc.begin() + std::ptrdiff_t(crc.size() - std::min(crc.size(), c.crc.size())));
        EXPECT_EQ(crc, c.crc);
        EXPECT_EQ(stats.Retrains(), c.retrains);
        EXPECT_EQ(int(history.Points().size()), int(c.readings.size()));
    }
}

TEST(LineFiguresHistory, ReportSpreadsAndDays)
{
    TLineFiguresStats stats;
    const double margins[] = {6.0, 2.5, 9.0, 7.0};
    for (int i = 0; i < 4; ++i)
        stats.Add(Figured(i * 720, 0, std::uint64_t(i * 8), 60 + i * 43200, margins[i]));
    const auto spread = stats.MarginDown();
    ASSERT_TRUE(spread.Known);
    EXPECT_EQ(spread.Min, 2.5);
    EXPECT_EQ(spread.Median, 7.0);
    EXPECT_EQ(spread.Max, 9.0);
    EXPECT_FALSE(stats.MarginUp().Known); // never printed: not a margin of 0
    ASSERT_EQ(stats.Days().size(), 2u);
    EXPECT_EQ(stats.Days().begin()->second.EsDown, 8);
    EXPECT_EQ(stats.Days().rbegin()->second.EsDown, 16);
    EXPECT_EQ(stats.Days().rbegin()->second.SesDown, 4);
}

TEST(SnrHistory, TonesTakeTheirGroupsAndDirectionsAndTheEnvelopeFollowsTheRows)
{
    const auto reading = [](std::int64_t minute, float down, float notchDown) {
        TReading r = ZyxelReading(Day0 + minute * Minute, {}, true);
        r.Spectra.Snr.Up = {8, {NotMeasured, 20.0f, 21.0f, 22.0f}}; // tones 0-31
        r.Spectra.Snr.Down.GroupSize = 8;
        r.Spectra.Snr.Down.Groups.assign(65, down);
        r.Spectra.Snr.Down.Groups[10] = notchDown; // tones 80-87
        return r;
    };
    THistorySnr snr;
    snr.Add(reading(0, 40.0f, 12.5f));
    snr.Add(reading(1, 41.0f, 30.0f));
    TReading failed = ZyxelReading(Day0 + 2 * Minute, {}, false);
    snr.Add(failed);
    const struct {
        int row, tone;
        float db;
    } at[] = {{1, 85, 30.0f}, {2, 85, 12.5f}, {1, 40, 41.0f}, {1, 9, 20.0f}, {0, 85, NotMeasured}, {1, 3, NotMeasured}};
    for (const auto& c : at) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " tone " << c.tone);
        const float db = snr.SnrAt(c.row, c.tone);
        EXPECT_TRUE(db == c.db || (!IsMeasured(db) && !IsMeasured(c.db))) << db;
    }
    EXPECT_EQ(snr.Min(85), 12.5f);
    EXPECT_EQ(snr.Max(85), 30.0f);
    EXPECT_EQ(snr.Latest(85), 30.0f);
    snr.DropOldest(1);
    EXPECT_EQ(snr.Min(85), 30.0f); // the notch left with its row
    EXPECT_FALSE(IsMeasured(snr.Min(3)));

    TReading trained = reading(3, 40.0f, 40.0f);
    trained.Spectra.Qln.Down = {8, std::vector<float>(65, -140.0f)};
    snr.Add(trained);
    snr.Add(reading(4, 40.0f, 40.0f)); // no QLN: the training's stays
    EXPECT_EQ(snr.TrainingMs(), trained.TimeMs);
    EXPECT_EQ(snr.Training().Qln.Down.At(100), -140.0f);
    // Carried to later readings, QLN and Hlog keep the time they were
    // measured: the training, or the link's coming up where it is printed.
    const struct {
        const char* name;
        float qln;
        std::optional<std::int64_t> sinceLinkS;
        std::int64_t trainingMs;
    } carried[] = {
        {"carried over", -140.0f, {}, trained.TimeMs},
        {"trained anew", -130.0f, {}, Day0 + 6 * Minute},
        {"link up 90 s before", -130.0f, 90, Day0 + 7 * Minute - 90'000},
    };
    int minute = 5;
    for (const auto& c : carried) {
        SCOPED_TRACE(c.name);
        TReading later = reading(minute++, 40.0f, 40.0f);
        later.Spectra.Qln.Down = {8, std::vector<float>(65, c.qln)};
        later.Figures.SinceLinkS = c.sinceLinkS;
        snr.Add(later);
        EXPECT_EQ(snr.TrainingMs(), c.trainingMs);
    }

    // A row of another group size: its groups cover other tones, and the
    // newest row still gives the latest.
    TReading wider = reading(5, 35.0f, 35.0f);
    wider.Spectra.Snr.Down = {16, std::vector<float>(33, 45.0f)};
    wider.Spectra.Snr.Down.Groups[5] = 10.0f; // tones 80-95
    snr.Add(wider);
    EXPECT_EQ(snr.Latest(85), 10.0f);
    EXPECT_EQ(snr.Min(85), 10.0f);
    EXPECT_EQ(snr.Max(40), 45.0f);
    EXPECT_EQ(snr.Min(40), 40.0f);
    EXPECT_EQ(snr.Latest(40), 45.0f);
}

// The pictures, painted as the window and the report paint them: what the
// router gave nothing of says so, a line down is grey across the figures, a
// downstream tone's SNR bar is blue and an upstream one's green.
TEST(LinePictures, PaintWhatTheReadingsHold)
{
    QImage image(900, 600, QImage::Format_RGB32);
    const auto paint = [&](const auto& draw) {
        image.fill(Qt::red);
        QPainter painter(&image);
        draw(painter);
    };
    const auto sawText = [](const QImage& drawn, const QImage& blank) { return drawn != blank; };

    THistoryLineFigures figures;
    for (std::int64_t minute = 0; minute < 60; ++minute)
        figures.Add(Figured(minute, std::uint64_t(minute), 0, 60 * minute, 6,
            minute >= 20 && minute < 30 ? TReadingOutcome::LineDown : TReadingOutcome::LineUp));
    const TLineFiguresLayout layout = LineFiguresLayout(image.rect(), QFontMetrics(QFont()), Day0, Day0 + 60 * Minute);
    paint([&](QPainter& p) { PaintLineFigures(p, layout, figures); });
    const int downX = int(layout.X(Day0 + 25 * Minute)), upX = int(layout.X(Day0 + 45 * Minute));
    const int y = layout.Rates.center().y();
    EXPECT_EQ(QColor(image.pixel(downX, y)), QColor(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(QColor(image.pixel(upX, y)), QColor(Qt::white));
    EXPECT_TRUE(LineFiguresReadout(figures, Day0 + 25 * Minute).endsWith(QStringLiteral("the line was down")));
    // A level curve is as thick wherever it falls between two pixel rows.
    THistoryLineFigures level;
    for (std::int64_t minute = 0; minute < 60; ++minute)
        level.Add(Figured(minute, 0, 0, 60 * minute, minute < 30 ? 3.0 : 5.0));
    for (const int height : {600, 601, 602, 603, 604}) {
        QImage tall(900, height, QImage::Format_RGB32);
        QPainter painter(&tall);
        const TLineFiguresLayout at = LineFiguresLayout(tall.rect(), QFontMetrics(QFont()), Day0, Day0 + 60 * Minute);
        PaintLineFigures(painter, at, level);
        int thickness = 0;
        for (int y = at.Levels.top(); y <= at.Levels.bottom(); ++y)
            thickness += QColor(tall.pixel(int(at.X(Day0 + 15 * Minute)), y)) == QColor(Qt::blue);
        EXPECT_EQ(thickness, 2 * std::max(1, at.LineHeight / 14)) << height;
        // This quiet line's error axis ticks at whole counts, 0 and 1: no half.
        int ticks = 0;
        for (int y = at.Errors.top() - 2; y <= at.Errors.bottom() + 2; ++y)
            ticks += QColor(tall.pixel(at.Errors.left() - 2, y)) == QColor(Qt::black);
        EXPECT_EQ(ticks, 2) << height;
    }

    THistorySnr snr;
    THistoryFigures rows;
    TReading r = ZyxelReading(Day0, {}, true);
    r.Spectra.Snr.Up = {1, std::vector<float>(32, 30.0f)};
    r.Spectra.Snr.Down = {1, std::vector<float>(513, 30.0f)};
    snr.Add(r);
    rows.Add(r);
    paint([&](QPainter& p) { PaintSnrEnvelope(p, image.rect(), snr); });
    const TTonePictureLayout tones = TonePictureLayout(image.rect(), QFontMetrics(QFont()), 513, 0, 40, false);
    const int barY = int(tones.Y(10));
    EXPECT_EQ(QColor(image.pixel(int(tones.ToneX(300)) + 1, barY)), QColor(Qt::blue));
    EXPECT_EQ(QColor(image.pixel(int(tones.ToneX(16)) + 1, barY)), QColor(0, 0x80, 0));
    // The waterfall's legend: a swatch every 10 dB down the ramp, so its
    // labels are round, then the colour of a tone not measured.
    paint([&](QPainter& p) { PaintSnrWaterfall(p, image.rect(), rows, snr, Day0, Day0 + Minute); });
    const QRect legend = TonePictureLayout(image.rect(), QFontMetrics(QFont()), 513, 0, 1, true).Legend;
    std::vector<QRgb> swatches, expected;
    for (int y = legend.top(); y <= legend.bottom(); ++y) {
        const QRgb c = image.pixel(legend.left() + 1, y);
        if (c != qRgb(255, 255, 255) && (swatches.empty() || swatches.back() != c))
            swatches.push_back(c);
    }
    for (float db = SnrColorHighDb; db >= SnrColorLowDb; db -= 10)
        expected.push_back(SnrColor(db));
    expected.push_back(SnrNotMeasuredColor);
    EXPECT_EQ(swatches, expected);

    THistorySnr none;
    none.Add(ZyxelReading(Day0, {}, true));
    // Where the picture says nothing was measured, the read-out is empty.
    THistoryLineFigures refused;
    refused.Add(Figured(0, 0, 0, 0, 6.0, TReadingOutcome::LoginRefused));
    EXPECT_EQ(LineFiguresReadout(refused, Day0), QString());
    EXPECT_EQ(SnrReadout(none, 100, 4.3125), QString());
    QImage blank(image.size(), QImage::Format_RGB32);
    blank.fill(Qt::white);
    for (const auto& draw : std::initializer_list<std::function<void(QPainter&)>>{
             [&](QPainter& p) { PaintSnrEnvelope(p, image.rect(), none); },
             [&](QPainter& p) { PaintTraining(p, image.rect(), none); },
             [&](QPainter& p) { PaintSnrWaterfall(p, image.rect(), rows, none, Day0, Day0 + Minute); }}) {
        paint(draw);
        EXPECT_TRUE(sawText(image, blank));
        EXPECT_FALSE(image.pixelColor(450, 300) == QColor(Qt::red)); // painted over, no zeros drawn
    }
}
