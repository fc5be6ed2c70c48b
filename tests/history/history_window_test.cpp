// The History window on Qt's offscreen platform over a real history file:
// its texts for each kind of store, taking in readings, the commands, the
// read-out of each view, the keys that close it and what it remembers.
#include "app/hover_readout.h"
#include "history/history_views.h"
#include "history/history_window.h"
#include "history/reading_store.h"
#include "reader/output_formats.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QChart>
#include <QDateTimeAxis>
#include <QValueAxis>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXYSeries>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>

namespace {

constexpr std::int64_t Now = 1796644800000; // 2026-12-07 12:00 UTC
constexpr std::int64_t Minute = 60000;
constexpr std::int64_t Forever = std::numeric_limits<std::int64_t>::max();
const QString HostA = QStringLiteral("127.0.0.1");
const QString HostB = QStringLiteral("127.0.0.2");

TReading Reading(std::int64_t minutesAgo, const QString& host = HostA, bool completed = true)
{
    TReading r{Now - minutesAgo * Minute, host, completed, {}};
    for (int tone = 6; tone < ReadingToneCount; tone += 3)
        r.Bits[std::size_t(tone)] = std::uint8_t((tone + minutesAgo) % 16);
    return r;
}

std::unique_ptr<THistoryWindow> Open(TReadingStore& store, THistoryWindow::TPeriod period = THistoryWindow::Last24Hours)
{
    auto window = std::make_unique<THistoryWindow>(store);
    window->SetClock([] { return Now; });
    window->SetPeriod(period);
    window->SetView(THistoryWindow::Waterfall);
    window->resize(900, 600);
    window->show();
    return window;
}

class HistoryWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FStore.Open(FDir.filePath(QStringLiteral("history.sqlite")))); }
    void Record(const std::vector<TReading>& readings)
    {
        for (const auto& r : readings)
            ASSERT_TRUE(FStore.Record(r));
    }

    QTemporaryDir FDir;
    TReadingStore FStore;
};

// Every state of the store gets words instead of an empty frame.
TEST(HistoryWindowTexts, EachKindOfStoreIsNamed)
{
    const struct {
        const char* name;
        bool open;
        std::vector<TReading> readings;
        THistoryWindow::TPeriod period;
        const char* message; // shown instead of the views; empty: the views show
        const char* note;    // above the views
        bool hostChoice;
    } cases[] = {
        {"history off", false, {}, THistoryWindow::Last24Hours, "History is turned off for this run", "", false},
        {"empty store", true, {}, THistoryWindow::Last24Hours, "No readings are stored yet.", "", false},
        {"one reading", true, {Reading(5)}, THistoryWindow::Last24Hours, "", "One reading so far (", false},
        {"several readings", true, {Reading(5), Reading(4)}, THistoryWindow::Last24Hours, "", "", false},
        {"several hosts", true, {Reading(5), Reading(4, HostB)}, THistoryWindow::Last24Hours, "",
         "The store holds readings of 2 hosts; this shows those of 127.0.0.1", true},
        {"period without readings", true, {Reading(2 * 24 * 60)}, THistoryWindow::LastHour,
         "No readings of 127.0.0.1 in the last hour.", "", false},
        {"the same, everything", true, {Reading(2 * 24 * 60)}, THistoryWindow::Everything, "", "One reading", false},
        {"only outages", true, {Reading(3, HostA, false), Reading(2, HostA, false)}, THistoryWindow::Last24Hours, "",
         "Every cycle of this period was incomplete", false},
    };
    // Empty expected: no text at all.
    const auto begins = [](const QString& text, const char* start) {
        return *start == 0 ? text.isEmpty() : text.startsWith(QString::fromUtf8(start));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        TReadingStore store; // left closed: what the monitor has when the file cannot be opened
        ASSERT_TRUE(!c.open || store.Open(dir.filePath(QStringLiteral("h.sqlite"))));
        for (const auto& r : c.readings)
            ASSERT_TRUE(store.Record(r));
        auto window = Open(store, c.period);
        EXPECT_TRUE(begins(window->MessageText(), c.message)) << window->MessageText().toStdString();
        EXPECT_EQ(window->CurrentView() != nullptr, *c.message == 0);
        EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("btExport"))->isEnabled(), *c.message == 0);
        EXPECT_TRUE(begins(window->NoteText(), c.note)) << window->NoteText().toStdString();
        EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cbHost"))->isVisible(), c.hostChoice);
    }
}

// A new reading of the shown host adds one row and moves the period on; one
// of another host only brings the host choice.
TEST_F(HistoryWindowTest, TakesInEachRecordedReading)
{
    Record({Reading(24 * 60 - 1), Reading(30), Reading(20)});
    std::int64_t now = Now;
    auto window = Open(FStore);
    window->SetClock([&now] { return now; });
    ASSERT_EQ(window->Figures().Count(), 3);
    const struct {
        TReading reading;
        std::int64_t clock;
        int count;
        bool hostChoice;
    } steps[] = {
        {Reading(10), Now, 4, false},
        {Reading(-1), Now + 2 * Minute, 4, false}, // the oldest leaves the last 24 hours
        {Reading(-2, HostB), Now + 3 * Minute, 4, true},
        {Reading(-3, HostA, false), Now + 4 * Minute, 5, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.reading.TimeMs);
        now = step.clock;
        ASSERT_TRUE(FStore.Record(step.reading));
        window->TakeIn(step.reading);
        EXPECT_EQ(window->Figures().Count(), step.count);
        EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cbHost"))->isVisible(), step.hostChoice);
        // What was taken in equals what a fresh window reads from the store.
        THistoryWindow fresh(FStore);
        fresh.SetClock([&now] { return now; });
        EXPECT_EQ(fresh.Figures().Waterfall(), window->Figures().Waterfall());
        EXPECT_EQ(fresh.Figures().TotalChanges(), window->Figures().TotalChanges());
    }
}

TEST_F(HistoryWindowTest, ExportedCsvIsTheStoreOfThePeriodAndHost)
{
    Record({Reading(3000), Reading(50), Reading(40, HostB), Reading(30, HostA, false), Reading(20)});
    const std::tuple<THistoryWindow::TPeriod, QString, std::int64_t> cases[] = {
        {THistoryWindow::Last24Hours, HostA, Now - 24 * 60 * Minute},
        {THistoryWindow::Everything, HostA, std::numeric_limits<std::int64_t>::min()},
        {THistoryWindow::Last24Hours, HostB, Now - 24 * 60 * Minute}};
    for (const auto& [period, host, since] : cases) {
        auto window = Open(FStore, period);
        window->SetHost(host);
        QFile file(FDir.filePath(QStringLiteral("out.csv")));
        ASSERT_TRUE(window->ExportCsv(file.fileName()) && file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), FormatCsv(FStore.Readings(since, Forever, host))) << host.toStdString() << period;
    }
}

// Answers the delete command's dialogs: the date, then the confirmation.
TEST_F(HistoryWindowTest, DeleteAsksWithTheCountAndDeletesOnlyOlderReadings)
{
    Record({Reading(300), Reading(200), Reading(100), Reading(10)});
    auto window = Open(FStore);
    QString question;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&question] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        } else if (auto* before = modal ? modal->findChild<QDateTimeEdit*>(QStringLiteral("edBefore")) : nullptr) {
            before->setDateTime(QDateTime::fromMSecsSinceEpoch(Now - 150 * Minute));
            qobject_cast<QDialog*>(modal)->accept();
        }
    });
    answer.start(20);
    window->DeleteOlderClick();
    EXPECT_TRUE(question.startsWith(QStringLiteral("2 readings taken before "))) << question.toStdString();
    EXPECT_TRUE(question.endsWith(QStringLiteral("Delete them?")));
    EXPECT_EQ(FStore.Readings(0, Forever).size(), 2u);
    EXPECT_EQ(window->Figures().Count(), 2);
    EXPECT_TRUE(THistoryWindow::DeleteQuestion(1, Now, 3).startsWith(QStringLiteral("1 reading taken before")));
    EXPECT_TRUE(THistoryWindow::DeleteQuestion(1, Now, 3).endsWith(QStringLiteral(" (of every host) will be deleted for good.\nDelete it?")));
}

TEST_F(HistoryWindowTest, HoverReadsOutTimeToneFrequencyAndBits)
{
    Record({Reading(3), Reading(2, HostA, false), Reading(1)});
    auto window = Open(FStore);
    TWaterfallView* view = window->WaterfallView();
    const TToneViewLayout layout = view->Layout(view->rect());
    const auto label = [&window](const char* name) {
        return window->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    const int rowHeight = layout.Plot.height() / 3;
    for (int row = 0; row < 3; ++row) {
        const int tone = 100 + row;
        const QPoint at(int(std::ceil(layout.ToneX(tone))), layout.Plot.top() + row * rowHeight + rowHeight / 2);
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        ASSERT_EQ(view->CellAt(at), std::make_pair(row, tone));
        const int bits = window->Figures().Bits(row, tone);
        const THoverTexts texts = HoverTexts(tone, 0, bits);
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(window->Figures().Row(row).TimeMs);
        EXPECT_EQ(label("lbTime"), QStringLiteral("Time:   ") + time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        EXPECT_EQ(label("lbTone"), texts.Tone);
        EXPECT_EQ(label("lbFrequency"), texts.Frequency);
        EXPECT_EQ(label("lbBits"), bits < 0 ? QStringLiteral("Bits:   none, the cycle was incomplete") : texts.Bits);
    }
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view, &leave);
    EXPECT_EQ(label("lbTone"), HoverTexts(-1, 0, 0).Tone);
}

QString TimeOf(std::int64_t minutesAgo)
{
    return QDateTime::fromMSecsSinceEpoch(Now - minutesAgo * Minute).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The middle of a tone's column in a tone view, at a height in the plot.
QPoint TonePoint(const THistoryToneView* view, int tone, int y)
{
    const TToneViewLayout layout = view->Layout(view->rect());
    return QPoint(int(std::lround((layout.ToneX(tone) + layout.ToneX(tone + 1)) / 2)), y);
}

// Each view reads out what the pointer is over in its own terms: the
// waterfall a reading's tone, a pause as such; the envelope a tone's latest,
// least and most bits; the change counts a tone's changes; the line rate
// the reading nearest in time.
TEST_F(HistoryWindowTest, ReadOutInEveryView)
{
    // Tone 102 carries (102 + minutes ago) % 16 bits: 10, 9, 8 (the outage
    // at 17 not counted), then a pause of a quarter of an hour, then 8 and 7.
    Record({Reading(20), Reading(19), Reading(18), Reading(17, HostA, false), Reading(2), Reading(1)});
    auto window = Open(FStore);
    const auto label = [&window](const char* name) {
        return window->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    const auto toneTexts = HoverTexts(102, 0, 0);
    const auto waterfallAt = [&window](std::int64_t minutesAgo) {
        TWaterfallView* view = window->WaterfallView();
        const TToneViewLayout layout = view->Layout(view->rect());
        const TWaterfallRows& rows = view->Rows(layout.Plot.height());
        return TonePoint(view, 102, layout.Plot.top() + int(rows.Y(Now - minutesAgo * Minute)));
    };
    // The plot's middle height at the time of a reading, minutes ago.
    const auto trendAt = [&window](std::int64_t minutesAgo) {
        TTrendView* view = window->TrendView();
        QChart* chart = view->Chart();
        const QPointF at = chart->mapToPosition(QPointF(double(Now - minutesAgo * Minute), 0), chart->series().first());
        return view->mapFromScene(chart->mapToScene(QPointF(at.x(), chart->plotArea().center().y())));
    };
    const struct {
        const char* name;
        THistoryWindow::TView view;
        std::function<QPoint()> where;
        QString time, tone, frequency, bits;
    } cases[] = {
        {"waterfall, the newest reading", THistoryWindow::Waterfall, [&] { return waterfallAt(1) - QPoint(0, 2); },
         QStringLiteral("Time:   ") + TimeOf(1), toneTexts.Tone, toneTexts.Frequency, HoverTexts(102, 0, 7).Bits},
        {"waterfall, the oldest", THistoryWindow::Waterfall, [&] { return waterfallAt(20) - QPoint(0, 2); },
         QStringLiteral("Time:   ") + TimeOf(20), toneTexts.Tone, toneTexts.Frequency, HoverTexts(102, 0, 10).Bits},
        {"waterfall, the outage", THistoryWindow::Waterfall, [&] { return waterfallAt(17) - QPoint(0, 2); },
         QStringLiteral("Time:   ") + TimeOf(17), toneTexts.Tone, toneTexts.Frequency,
         QStringLiteral("Bits:   none, the cycle was incomplete")},
        {"waterfall, the pause", THistoryWindow::Waterfall, [&] { return waterfallAt(10); }, QStringLiteral("Time:"),
         toneTexts.Tone, toneTexts.Frequency, QStringLiteral("Bits:   no reading was taken then")},
        {"envelope", THistoryWindow::Envelope,
         [&] { return TonePoint(window->EnvelopeView(), 102, window->EnvelopeView()->height() / 2); },
         QStringLiteral("Latest:   ") + TimeOf(1), toneTexts.Tone, toneTexts.Frequency,
         HoverTexts(102, 0, 7).Bits + QStringLiteral(" (least 7, most 10)")},
        {"bit changes", THistoryWindow::Changes,
         [&] { return TonePoint(window->ChangesView(), 102, window->ChangesView()->height() / 2); },
         QStringLiteral("Time:"), toneTexts.Tone, toneTexts.Frequency, QStringLiteral("Changes:   3")},
        {"line rate, a reading", THistoryWindow::Trend, [&] { return trendAt(19); }, QStringLiteral("Time:   ") + TimeOf(19),
         QStringLiteral("Upstream:   %1 kbit/s").arg(window->Figures().Row(4).UpKbps()), QString(), QString()},
        {"line rate, the outage", THistoryWindow::Trend, [&] { return trendAt(17); },
         QStringLiteral("Time:   ") + TimeOf(17), QStringLiteral("Upstream:   none"), QStringLiteral("Downstream:   none"),
         QStringLiteral("Bits:   none, the cycle was incomplete")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window->SetView(c.view);
        QApplication::processEvents();
        QWidget* target = c.view == THistoryWindow::Trend ? window->TrendView()->viewport() : window->CurrentView();
        const QPoint at = c.where();
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        EXPECT_EQ(label("lbTime"), c.time);
        EXPECT_EQ(label("lbTone"), c.tone);
        if (!c.frequency.isNull()) {
            EXPECT_EQ(label("lbFrequency"), c.frequency);
        }
        if (!c.bits.isNull()) {
            EXPECT_EQ(label("lbBits"), c.bits);
        }
        // Leaving the view clears the read-out.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(target, &leave);
        EXPECT_EQ(label("lbTime"), QStringLiteral("Time:"));
        EXPECT_EQ(label("lbTone"), HoverTexts(-1, 0, 0).Tone);
    }
    // The line rate's read-out names both directions of the reading.
    window->SetView(THistoryWindow::Trend);
    QApplication::processEvents();
    const QPoint at = trendAt(2);
    QMouseEvent move(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->TrendView()->viewport(), &move);
    const TRatePoint& p = window->Figures().Row(1);
    EXPECT_EQ(label("lbTime"), QStringLiteral("Time:   ") + TimeOf(2));
    EXPECT_EQ(label("lbFrequency"), QStringLiteral("Downstream:   %1 kbit/s").arg(p.DownKbps()));
    EXPECT_EQ(label("lbBits"), QStringLiteral("Bits:   %1 up, %2 down").arg(p.UpBits).arg(p.DownBits));
}

TEST_F(HistoryWindowTest, EscapeAndCtrlWClose)
{
    Record({Reading(3)});
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool closes;
    } cases[] = {
        {"Esc", Qt::Key_Escape, Qt::NoModifier, true},
        {"Ctrl+W", Qt::Key_W, Qt::ControlModifier, true},
        {"W alone", Qt::Key_W, Qt::NoModifier, false},
        {"Ctrl+Q is not ours", Qt::Key_Q, Qt::ControlModifier, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto window = Open(FStore);
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // With the focus on a control inside, as a user has it.
        window->findChild<QComboBox*>(QStringLiteral("cbPeriod"))->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(c.key), c.modifiers);
        EXPECT_EQ(window->isVisible(), !c.closes);
    }
}

TEST_F(HistoryWindowTest, HostsAreListedAsAddressesThenNames)
{
    for (const char* host : {"router10", "127.0.0.10", "Router2", "127.0.0.2", "::1", "127.0.0.1"})
        Record({Reading(3, QString::fromLatin1(host))});
    auto window = Open(FStore);
    const QComboBox* hosts = window->findChild<QComboBox*>(QStringLiteral("cbHost"));
    QStringList listed;
    for (int i = 0; i < hosts->count(); ++i)
        listed << hosts->itemText(i);
    EXPECT_EQ(listed, (QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.10", "::1", "Router2", "router10"}));
    EXPECT_EQ(window->Host(), QStringLiteral("127.0.0.1")); // the first, as before
}

// The save dialogs offer names after the host, the period and the view, and
// a saved picture says host and period in its corner.
TEST_F(HistoryWindowTest, SavedFilesAreNamedAfterHostAndPeriod)
{
    Record({Reading(3 * 24 * 60), Reading(30), Reading(20, QStringLiteral("::1")), Reading(10)});
    const auto stamp = [](std::int64_t minutesAgo) {
        return QDateTime::fromMSecsSinceEpoch(Now - minutesAgo * Minute).toString(QStringLiteral("yyyy-MM-dd_HHmm"));
    };
    const auto shown = [](std::int64_t minutesAgo) {
        return QDateTime::fromMSecsSinceEpoch(Now - minutesAgo * Minute).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    const struct {
        THistoryWindow::TPeriod period;
        QString host;
        THistoryWindow::TView view;
        std::int64_t fromMinutesAgo;
        QString viewPart, caption;
    } cases[] = {
        {THistoryWindow::Last24Hours, HostA, THistoryWindow::Waterfall, 24 * 60, "waterfall",
         "127.0.0.1, last 24 hours: "},
        {THistoryWindow::LastHour, HostA, THistoryWindow::Trend, 60, "line-rate", "127.0.0.1, last hour: "},
        // "Everything" starts at the oldest reading shown.
        {THistoryWindow::Everything, HostA, THistoryWindow::Changes, 3 * 24 * 60, "bit-changes",
         "127.0.0.1, everything: "},
        // What a file name cannot hold becomes '_'.
        {THistoryWindow::Last7Days, QStringLiteral("::1"), THistoryWindow::Envelope, 7 * 24 * 60, "envelope",
         "::1, last 7 days: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.viewPart.toStdString());
        auto window = Open(FStore, c.period);
        window->SetHost(c.host);
        window->SetView(c.view);
        QApplication::processEvents();
        const QString stem = QStringLiteral("tirvane-%1-%2-to-%3")
                                 .arg(c.host == HostA ? HostA : QStringLiteral("__1"), stamp(c.fromMinutesAgo), stamp(0));
        EXPECT_EQ(window->DefaultCsvName(), stem + QStringLiteral(".csv"));
        EXPECT_EQ(window->DefaultPictureName(), stem + QLatin1Char('-') + c.viewPart + QStringLiteral(".png"));
        EXPECT_EQ(window->PictureCaption(), c.caption + shown(c.fromMinutesAgo) + QStringLiteral(" to ") + shown(0));

        // The picture: the view, and below it a band with the caption written
        // from its left corner and nothing else.
        const QString path = FDir.filePath(window->DefaultPictureName());
        ASSERT_TRUE(window->SavePicture(path));
        const QImage picture = QImage(path).convertToFormat(QImage::Format_RGB32);
        const QSize view = window->CurrentView()->size();
        ASSERT_EQ(picture.width(), view.width());
        ASSERT_GT(picture.height(), view.height() + 10);
        const int textWidth = window->fontMetrics().horizontalAdvance(window->PictureCaption());
        const auto darkIn = [&picture, &view](int left, int right) {
            int dark = 0;
            for (int y = view.height(); y < picture.height(); ++y)
                for (int x = left; x < right; ++x)
                    dark += qGray(picture.pixel(x, y)) < 128;
            return dark;
        };
        EXPECT_GT(darkIn(0, textWidth / 2), 20);
        EXPECT_EQ(darkIn(textWidth + window->fontMetrics().height(), picture.width()), 0);
    }
}

// The line rate's axes: kbit/s and bits per symbol each at a step of 1, 2
// or 5 times a power of ten, and time from one round time to another with
// ticks at round times.
TEST_F(HistoryWindowTest, LineRateAxesTickAtRoundStepsAndTimes)
{
    const struct {
        const char* name;
        std::vector<std::int64_t> minutesAgo;
    } cases[] = {
        {"a day", {23 * 60 + 59, 12 * 60 + 7, 3}},
        {"ten minutes", {11, 7, 5, 2}},
        {"an hour and a bit", {67, 40, 1}},
    };
    // Steps a reader counts in: seconds and minutes by 1, 2, 5, 10, 15, 30;
    // hours by 1, 2, 3, 4, 6, 12.
    std::vector<std::int64_t> roundSteps;
    for (const std::int64_t unit : {std::int64_t(1000), Minute})
        for (const int n : {1, 2, 5, 10, 15, 30})
            roundSteps.push_back(n * unit);
    for (const int n : {1, 2, 3, 4, 6, 12})
        roundSteps.push_back(n * 60 * Minute);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        TReadingStore store;
        ASSERT_TRUE(store.Open(dir.filePath(QStringLiteral("h.sqlite"))));
        for (const std::int64_t m : c.minutesAgo) {
            TReading r = Reading(m);
            // A thin line: a few bits, so the bits axis needs fractions of ten.
            r.Bits.fill(0);
            r.Bits[40] = std::uint8_t(3 + m % 3);
            ASSERT_TRUE(store.Record(r));
        }
        auto window = Open(store);
        window->resize(1000, 640);
        window->SetView(THistoryWindow::Trend);
        QApplication::processEvents();
        QChart* chart = window->TrendView()->Chart();
        const auto* time = qobject_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).first());
        ASSERT_NE(time, nullptr);
        const std::int64_t from = time->min().toMSecsSinceEpoch();
        const std::int64_t to = time->max().toMSecsSinceEpoch();
        const std::int64_t offset = std::int64_t(time->min().offsetFromUtc()) * 1000;
        ASSERT_GE(time->tickCount(), 3);
        const std::int64_t step = (to - from) / (time->tickCount() - 1);
        EXPECT_EQ(from + step * (time->tickCount() - 1), to);
        EXPECT_NE(std::find(roundSteps.begin(), roundSteps.end(), step), roundSteps.end()) << step;
        EXPECT_EQ(((from + offset) % step + step) % step, 0) << time->min().toString().toStdString();
        EXPECT_LE(from, Now - c.minutesAgo.front() * Minute);
        EXPECT_GE(to, Now);
        const QList<QAbstractAxis*> values = chart->axes(Qt::Vertical);
        ASSERT_EQ(values.size(), 2);
        for (QAbstractAxis* axis : values) {
            const auto* value = qobject_cast<QValueAxis*>(axis);
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(value->tickType(), QValueAxis::TicksDynamic);
            EXPECT_DOUBLE_EQ(value->tickAnchor(), 0);
            EXPECT_DOUBLE_EQ(RoundStep(value->tickInterval()), value->tickInterval()) << value->tickInterval();
            EXPECT_LE(value->max() / value->tickInterval(), 10.5);
        }
        // Both axes span the same line rate.
        EXPECT_DOUBLE_EQ(qobject_cast<QValueAxis*>(values[0])->max(),
                         qobject_cast<QValueAxis*>(values[1])->max() * LineRateKbps(1));
    }
}

// In the file the main window keeps its boxes in, beside what is there.
TEST_F(HistoryWindowTest, RemembersViewPeriodAndPlace)
{
    Record({Reading(3)});
    const QString file = FDir.filePath(QStringLiteral("tirvane.conf"));
    QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("Window/Host"), HostA);
    {
        THistoryWindow window(FStore, nullptr, file);
        window.SetPeriod(THistoryWindow::Last7Days);
        window.SetView(THistoryWindow::Changes);
        window.show();
        window.setGeometry(40, 50, 900, 620);
        window.close();
    }
    THistoryWindow again(FStore, nullptr, file);
    EXPECT_EQ(again.View(), THistoryWindow::Changes);
    EXPECT_EQ(again.Period(), THistoryWindow::Last7Days);
    EXPECT_EQ(again.size(), QSize(900, 620));
    const QSettings written(file, QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("HistoryWindow/period")).toInt(), THistoryWindow::Last7Days);
    EXPECT_EQ(written.value(QStringLiteral("Window/Host")).toString(), HostA);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's settings, nor those of a test running beside this one.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("history_window_test"));
    return RUN_ALL_TESTS();
}
