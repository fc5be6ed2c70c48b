// The History window on Qt's offscreen platform over a real history file:
// its texts for each kind of store, taking in readings, the commands, the
// hover read-out and what it remembers.
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
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr std::int64_t Now = 1796644800000; // 2026-12-07 12:00 UTC
constexpr std::int64_t Minute = 60000;

TReading Reading(std::int64_t minutesAgo, const QString& host = QStringLiteral("127.0.0.1"), bool completed = true,
                 int bits = 9)
{
    TReading r;
    r.TimeMs = Now - minutesAgo * Minute;
    r.Host = host;
    r.Completed = completed;
    for (int tone = 6; tone < ReadingToneCount; tone += 3)
        r.Bits[std::size_t(tone)] = std::uint8_t((bits + tone + minutesAgo) % 16);
    return r;
}

class HistoryWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FOpen = FStore.Open(FDir.filePath(QStringLiteral("history.sqlite")));
        ASSERT_TRUE(FOpen) << FStore.ErrorText().toStdString();
    }

    std::unique_ptr<THistoryWindow> Open(THistoryWindow::TPeriod period = THistoryWindow::Last24Hours)
    {
        return Open(FStore, period);
    }

    static std::unique_ptr<THistoryWindow> Open(TReadingStore& store, THistoryWindow::TPeriod period)
    {
        auto window = std::make_unique<THistoryWindow>(store);
        window->SetClock([] { return Now; });
        window->SetPeriod(period);
        window->SetView(THistoryWindow::Waterfall);
        window->resize(900, 600);
        window->show();
        return window;
    }

    void Record(const std::vector<TReading>& readings) { Record(FStore, readings); }
    static void Record(TReadingStore& store, const std::vector<TReading>& readings)
    {
        for (const auto& r : readings)
            ASSERT_TRUE(store.Record(r));
    }

    QTemporaryDir FDir;
    TReadingStore FStore;
    bool FOpen = false;
};

// Every state of the store gets words instead of an empty frame.
TEST_F(HistoryWindowTest, TextsForEachKindOfStore)
{
    const struct {
        const char* name;
        std::vector<TReading> readings;
        THistoryWindow::TPeriod period;
        const char* message; // shown instead of the views; empty: the views show
        const char* note;    // above the views
        bool hostChoice;
    } cases[] = {
        {"empty store", {}, THistoryWindow::Last24Hours, "No readings are stored yet.", "", false},
        {"one reading", {Reading(5)}, THistoryWindow::Last24Hours, "", "One reading so far (", false},
        {"several readings", {Reading(5), Reading(4)}, THistoryWindow::Last24Hours, "", "", false},
        {"several hosts", {Reading(5), Reading(4, QStringLiteral("127.0.0.2"))}, THistoryWindow::Last24Hours, "",
         "The store holds readings of 2 hosts; this shows those of 127.0.0.1", true},
        {"period without readings", {Reading(2 * 24 * 60)}, THistoryWindow::LastHour,
         "No readings of 127.0.0.1 in the last hour.", "", false},
        {"the same reading, everything", {Reading(2 * 24 * 60)}, THistoryWindow::Everything, "", "One reading", false},
        {"only outages", {Reading(3, QStringLiteral("127.0.0.1"), false), Reading(2, QStringLiteral("127.0.0.1"), false)},
         THistoryWindow::Last24Hours, "", "Every cycle of this period was incomplete", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        TReadingStore store;
        ASSERT_TRUE(store.Open(dir.filePath(QStringLiteral("h.sqlite"))));
        Record(store, c.readings);
        auto window = Open(store, c.period);
        // Empty expected: no text at all.
        const auto begins = [](const QString& text, const char* start) {
            return *start == 0 ? text.isEmpty() : text.startsWith(QString::fromUtf8(start));
        };
        EXPECT_TRUE(begins(window->MessageText(), c.message)) << window->MessageText().toStdString();
        EXPECT_EQ(window->CurrentView() != nullptr, *c.message == 0);
        EXPECT_TRUE(begins(window->NoteText(), c.note)) << window->NoteText().toStdString();
        EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cbHost"))->isVisible(), c.hostChoice);
    }
}

TEST_F(HistoryWindowTest, TurnedOffHistorySaysWhy)
{
    TReadingStore off; // never opened: what the main window has when the file cannot be opened
    THistoryWindow window(off);
    window.show();
    EXPECT_TRUE(window.MessageText().startsWith(QStringLiteral("History is turned off for this run")));
    EXPECT_FALSE(window.findChild<QPushButton*>(QStringLiteral("btExport"))->isEnabled());
    EXPECT_FALSE(window.findChild<QPushButton*>(QStringLiteral("btDelete"))->isEnabled());
}

// A new reading of the shown host adds one row and moves the period on; one
// of another host only brings the host choice.
TEST_F(HistoryWindowTest, TakesInEachRecordedReading)
{
    Record({Reading(24 * 60 - 1), Reading(30), Reading(20)});
    std::int64_t now = Now;
    auto window = std::make_unique<THistoryWindow>(FStore);
    window->SetClock([&now] { return now; });
    window->show();
    ASSERT_EQ(window->Figures().Count(), 3);

    const struct {
        TReading reading;
        std::int64_t clock;
        int count;
        bool hostChoice;
    } steps[] = {
        {Reading(10), Now, 4, false},
        {Reading(-1), Now + 2 * Minute, 4, false}, // the oldest leaves the last 24 hours
        {Reading(-2, QStringLiteral("127.0.0.9")), Now + 3 * Minute, 4, true},
        {Reading(-3, QStringLiteral("127.0.0.1"), false), Now + 4 * Minute, 5, true},
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
    Record({Reading(3000), Reading(50), Reading(40, QStringLiteral("127.0.0.2")), Reading(30, QStringLiteral("127.0.0.1"), false),
            Reading(20)});
    const struct {
        THistoryWindow::TPeriod period;
        QString host;
        std::int64_t since;
    } cases[] = {
        {THistoryWindow::Last24Hours, QStringLiteral("127.0.0.1"), Now - 24 * 60 * Minute},
        {THistoryWindow::Everything, QStringLiteral("127.0.0.1"), std::numeric_limits<std::int64_t>::min()},
        {THistoryWindow::Last24Hours, QStringLiteral("127.0.0.2"), Now - 24 * 60 * Minute},
    };
    for (const auto& c : cases) {
        auto window = Open(c.period);
        window->SetHost(c.host);
        const QString path = FDir.filePath(QStringLiteral("out.csv"));
        ASSERT_TRUE(window->ExportCsv(path));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), FormatCsv(FStore.Readings(c.since, std::numeric_limits<std::int64_t>::max(), c.host)))
            << c.host.toStdString() << " " << c.period;
    }
}

// Answers the delete command's dialogs: the date, then the confirmation.
TEST_F(HistoryWindowTest, DeleteAsksWithTheCountAndDeletesOnlyOlderReadings)
{
    Record({Reading(300), Reading(200), Reading(100), Reading(10)});
    auto window = Open();
    QString question;
    QTimer answer;
    answer.setInterval(20);
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
    answer.start();
    window->DeleteOlderClick();
    EXPECT_TRUE(question.startsWith(QStringLiteral("2 readings taken before "))) << question.toStdString();
    EXPECT_EQ(FStore.Readings(0, Now + 1).size(), 2u);
    EXPECT_EQ(window->Figures().Count(), 2);

    const struct {
        std::int64_t count;
        int hosts;
        const char* start;
        const char* end;
    } texts[] = {{1, 1, "1 reading taken before", "Delete it?"},
                 {12, 1, "12 readings taken before", "Delete them?"},
                 {12, 3, "12 readings taken before", "(of every host) will be deleted for good.\nDelete them?"}};
    for (const auto& t : texts) {
        const QString text = THistoryWindow::DeleteQuestion(t.count, Now, t.hosts);
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(t.start)) && text.endsWith(QString::fromUtf8(t.end)))
            << text.toStdString();
    }
}

TEST_F(HistoryWindowTest, HoverReadsOutTimeToneFrequencyAndBits)
{
    Record({Reading(3), Reading(2, QStringLiteral("127.0.0.1"), false), Reading(1)});
    auto window = Open();
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
        EXPECT_EQ(label("lbTime"), QStringLiteral("Time:   ")
                                       + QDateTime::fromMSecsSinceEpoch(window->Figures().Row(row).TimeMs)
                                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        EXPECT_EQ(label("lbTone"), HoverTexts(tone, 0, bits).Tone);
        EXPECT_EQ(label("lbFrequency"), HoverTexts(tone, 0, bits).Frequency);
        EXPECT_EQ(label("lbBits"), bits < 0 ? QStringLiteral("Bits:   none, the cycle was incomplete")
                                            : HoverTexts(tone, 0, bits).Bits);
    }
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view, &leave);
    EXPECT_EQ(label("lbTone"), HoverTexts(-1, 0, 0).Tone);
}

TEST_F(HistoryWindowTest, SavedPictureIsTheShownView)
{
    Record({Reading(3), Reading(1)});
    auto window = Open();
    const QString path = FDir.filePath(QStringLiteral("view.png"));
    for (auto view : {THistoryWindow::Waterfall, THistoryWindow::Envelope, THistoryWindow::Changes, THistoryWindow::Trend}) {
        window->SetView(view);
        ASSERT_TRUE(window->SavePicture(path));
        const QImage saved(path);
        EXPECT_EQ(saved.size(), window->CurrentView()->size()) << view;
        EXPECT_EQ(saved, window->CurrentView()->grab().toImage().convertToFormat(saved.format())) << view;
    }
}

TEST_F(HistoryWindowTest, RemembersViewPeriodAndPlace)
{
    Record({Reading(3)});
    {
        auto window = Open(THistoryWindow::Last7Days);
        window->SetView(THistoryWindow::Changes);
        window->setGeometry(40, 50, 900, 620);
        window->close();
    }
    THistoryWindow again(FStore);
    EXPECT_EQ(again.View(), THistoryWindow::Changes);
    EXPECT_EQ(again.Period(), THistoryWindow::Last7Days);
    EXPECT_EQ(again.size(), QSize(900, 620));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true); // never the user's settings
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tirvane-test"));
    QApplication::setApplicationName(QStringLiteral("history_window_test"));
    QSettings().clear();
    return RUN_ALL_TESTS();
}
