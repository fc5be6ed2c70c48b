// The History window on Qt's offscreen platform over a real history file:
// its texts for each kind of store, taking in readings, the commands, the
// read-out of each view, the keys that close it and what it remembers.
#include "line/hover_readout.h"
#include "history/figures/history_views.h"
#include "history/window/history_window.h"
#include "history/window/history_window_maker.h"
#include "history/store/reading_store.h"
#include "line/output_formats.h"
#include "recorder/recorder_config.h"
#include "support/test_main.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sqlite3.h>

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
    TReading r = ZyxelReading(Now - minutesAgo * Minute, host, completed);
    for (int tone = 6; tone < ZyxelToneCount; tone += 3)
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
        const char* damage = nullptr; // done to the file before the window opens
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
        {"a damaged block", true, {Reading(5), Reading(4), Reading(200)}, THistoryWindow::Last24Hours, "",
         "Could not read the readings of 127.0.0.1 from", false, "UPDATE blocks SET data = x'00' WHERE id = 2"},
        {"nothing readable", true, {Reading(200)}, THistoryWindow::Last24Hours,
         "No readings of 127.0.0.1 in the last 24 hours.\nChoose a longer period, or \"Everything\".\nCould not read",
         "", false, "UPDATE blocks SET data = x'00'"},
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
        if (c.damage) {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(store.Path()).constData(), &db);
            ASSERT_EQ(sqlite3_exec(db, c.damage, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
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

// The window the monitor's module makes is handed the file, not the main
// window's store: it reads through a connection of its own beside the
// writer's, and a file it cannot use turns it off instead of failing.
TEST_F(HistoryWindowTest, ReadsTheFileThroughAStoreOfItsOwn)
{
    Record({Reading(30), Reading(20)});
    const struct {
        const char* name;
        QString path;
        int count;
        const char* message;
    } cases[] = {
        {"the writer's file", FDir.filePath(QStringLiteral("history.sqlite")), 2, ""},
        {"a folder where the file should be", FDir.path(), 0, "History is turned off for this run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const THistoryWindowMade made = MakeHistoryWindow(c.path, nullptr, FDir.filePath(QStringLiteral("w.ini")));
        const std::unique_ptr<QWidget> owner(made.Window);
        auto* window = qobject_cast<THistoryWindow*>(made.Window);
        ASSERT_NE(window, nullptr);
        window->SetClock([] { return Now; });
        window->SetPeriod(THistoryWindow::Last24Hours);
        // Read on a thread of its own, saying so; what is recorded meanwhile is taken in once.
        EXPECT_EQ(window->MessageText().startsWith(QStringLiteral("Reading the history of 127.0.0.1...")), c.count > 0);
        const TReading during = Reading(15);
        ASSERT_TRUE(FStore.Record(during));
        made.TakeIn(during);
        window->WaitForLoad();
        EXPECT_EQ(window->Figures().Count(), c.count ? c.count + 1 : 0);
        const QString message = window->MessageText();
        EXPECT_TRUE(*c.message == 0 ? message.isEmpty() : message.startsWith(QString::fromUtf8(c.message)))
            << message.toStdString();
        if (c.count == 0)
            continue;
        // What the writer records after the window opened reaches it too.
        const TReading later = Reading(10);
        ASSERT_TRUE(FStore.Record(later));
        made.TakeIn(later);
        EXPECT_EQ(window->Figures().Count(), c.count + 2);
        window->SetPeriod(THistoryWindow::Everything);
        window->WaitForLoad();
        EXPECT_EQ(window->Figures().Count(), c.count + 2);
    }
}

// What another program records into the file reaches a window on it within
// seconds while it shows, and at once when it is shown again; a host it
// records for the first time joins the host choice.
TEST_F(HistoryWindowTest, FollowsWhatAnotherProgramRecords)
{
    Record({Reading(30)});
    THistoryWindow window(FStore.Path(), nullptr, FDir.filePath(QStringLiteral("w.ini")));
    window.SetClock([] { return Now; });
    window.show();
    TReadingStore other; // a connection of its own, as another program has
    ASSERT_TRUE(other.Open(FStore.Path()));
    const auto* hosts = window.findChild<QComboBox*>(QStringLiteral("cbHost"));
    // Recorded while the window is hidden or not; the rows and hosts it shows then.
    const std::tuple<bool, QString, int, int> cases[] = {
        {false, HostA, 2, 1}, {true, HostA, 3, 1}, {false, HostB, 3, 2}, {false, QStringLiteral("127.0.0.3"), 3, 3}};
    int minutesAgo = 20;
    for (const auto& [hidden, host, rows, hostCount] : cases) {
        SCOPED_TRACE(host.toStdString() + (hidden ? ", hidden" : ""));
        if (hidden)
            window.hide();
        ASSERT_TRUE(other.Record(Reading(--minutesAgo, host)));
        window.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return hosts->count() == hostCount && window.Figures().Count() == rows; }, 20000))
            << window.Figures().Count() << " rows, " << hosts->count() << " hosts";
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

// Runs the delete command, answering its dialogs: the date, then Yes to
// the confirmation, whose text it returns.
QString DeleteOlder(THistoryWindow& window, std::int64_t beforeMs)
{
    QString question;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&question, beforeMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        } else if (auto* before = modal ? modal->findChild<QDateTimeEdit*>(QStringLiteral("edBefore")) : nullptr) {
            before->setDateTime(QDateTime::fromMSecsSinceEpoch(beforeMs));
            qobject_cast<QDialog*>(modal)->accept();
        }
    });
    answer.start(20);
    window.DeleteOlderClick();
    return question;
}

TEST_F(HistoryWindowTest, DeleteAsksWithTheCountAndDeletesOnlyOlderReadings)
{
    Record({Reading(300), Reading(200), Reading(100), Reading(10)});
    auto window = Open(FStore);
    const QString question = DeleteOlder(*window, Now - 150 * Minute);
    EXPECT_TRUE(question.startsWith(QStringLiteral("2 readings taken before "))) << question.toStdString();
    EXPECT_TRUE(question.endsWith(QStringLiteral("Delete them?")));
    EXPECT_EQ(FStore.Readings(0, Forever).size(), 2u);
    EXPECT_EQ(window->Figures().Count(), 2);
    EXPECT_TRUE(THistoryWindow::DeleteQuestion(1, Now, 3).startsWith(QStringLiteral("1 reading taken before")));
    EXPECT_TRUE(THistoryWindow::DeleteQuestion(1, Now, 3).endsWith(QStringLiteral(" (of every host) will be deleted for good.\nDelete it?")));
}

// With a writer to delete through, the window hands it the time and leaves
// its own store alone; Delete waits, saying so, through readings taken in
// meanwhile, until the writer answers (-1: its store is off; a box says so).
TEST_F(HistoryWindowTest, DeleteThroughTheWriterWaitsForItsAnswer)
{
    for (const std::int64_t answer : {2, -1}) {
        ASSERT_GE(FStore.DeleteOlderThan(Forever), 0);
        Record({Reading(300), Reading(200), Reading(100), Reading(10), Reading(5)});
        auto window = Open(FStore);
        auto* button = window->findChild<QPushButton*>(QStringLiteral("btDelete"));
        std::vector<std::int64_t> handed;
        window->SetDeleter([&handed](std::int64_t before) { handed.push_back(before); });
        const std::int64_t cut = Now - 150 * Minute;
        DeleteOlder(*window, cut);
        window->TakeIn(Reading(1));
        EXPECT_EQ(handed, std::vector<std::int64_t>{cut});
        EXPECT_EQ(FStore.CountOlderThan(cut), 2);
        EXPECT_TRUE(!button->isEnabled() && button->text().startsWith(QStringLiteral("Deleting readings taken before ")));
        if (answer >= 0) // as the writer would have
            FStore.DeleteOlderThan(cut);
        window->Deleted(cut, answer);
        EXPECT_EQ(window->Figures().Count(), answer >= 0 ? 3 : 5);
        EXPECT_TRUE(button->isEnabled() && button->text() == QStringLiteral("Delete readings older than..."));
        EXPECT_EQ(window->findChildren<QMessageBox*>().size(), answer >= 0 ? 0u : 1u);
    }
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

QString TimeOf(std::int64_t minutesAgo, const char* format = "yyyy-MM-dd HH:mm:ss")
{
    return QDateTime::fromMSecsSinceEpoch(Now - minutesAgo * Minute).toString(QString::fromLatin1(format));
}

// Each view reads out what the pointer is over in its own terms: the
// waterfall a reading's tone or a pause; the envelope a tone's latest, least
// and most bits; the change counts its changes; the line rate the reading
// nearest in time.
TEST_F(HistoryWindowTest, ReadOutInEveryView)
{
    // Tone 102 carries (102 + minutes ago) % 16 bits: 10, 9, 8, the outage,
    // a quarter of an hour's pause, 8 and 7.
    Record({Reading(20), Reading(19), Reading(18), Reading(17, HostA, false), Reading(2), Reading(1)});
    auto window = Open(FStore);
    const auto label = [&window](const char* name) { return window->findChild<QLabel*>(name)->text(); };
    // The middle of tone 102's column at a time (waterfall) or mid-height.
    const auto toneAt = [&window](std::int64_t minutesAgo) {
        auto* view = static_cast<THistoryToneView*>(window->CurrentView());
        const TToneViewLayout l = view->Layout(view->rect());
        const int y = minutesAgo < 0 ? l.Plot.center().y()
                                     : l.Plot.top() + int(window->WaterfallView()->Rows(l.Plot.height()).Y(Now - minutesAgo * Minute)) - 2;
        return QPoint(int(std::lround((l.ToneX(102) + l.ToneX(103)) / 2)), y);
    };
    const auto rateAt = [&window](std::int64_t minutesAgo) {
        const TLineRateLayout& l = window->TrendView()->Layout();
        return QPoint(int(std::lround(l.X(Now - minutesAgo * Minute))), l.Plot.center().y());
    };
    const THoverTexts tone = HoverTexts(102, 0, 0);
    const TRatePoint& r19 = window->Figures().Row(4);
    const struct {
        const char* name;
        THistoryWindow::TView view;
        QPoint at;
        QString time, tone, frequency, bits;
    } cases[] = {
        {"waterfall, newest", THistoryWindow::Waterfall, toneAt(1), "Time:   " + TimeOf(1), tone.Tone, tone.Frequency,
         HoverTexts(102, 0, 7).Bits},
        {"waterfall, oldest", THistoryWindow::Waterfall, toneAt(20), "Time:   " + TimeOf(20), tone.Tone, tone.Frequency,
         HoverTexts(102, 0, 10).Bits},
        {"waterfall, outage", THistoryWindow::Waterfall, toneAt(17), "Time:   " + TimeOf(17), tone.Tone, tone.Frequency,
         "Bits:   none, the cycle was incomplete"},
        {"waterfall, pause", THistoryWindow::Waterfall, toneAt(10), "Time:", tone.Tone, tone.Frequency,
         "Bits:   no reading was taken then"},
        {"envelope", THistoryWindow::Envelope, {}, "Latest:   " + TimeOf(1), tone.Tone, tone.Frequency,
         HoverTexts(102, 0, 7).Bits + " (least 7, most 10)"},
        {"bit changes", THistoryWindow::Changes, {}, "Time:", tone.Tone, tone.Frequency, "Changes:   3"},
        {"line rate", THistoryWindow::Trend, {}, "Time:   " + TimeOf(19),
         QStringLiteral("Upstream:   %1 kbit/s").arg(r19.UpKbps()), QStringLiteral("Downstream:   %1 kbit/s").arg(r19.DownKbps()),
         QStringLiteral("Bits:   %1 up, %2 down").arg(r19.UpBits).arg(r19.DownBits)},
        {"line rate, outage", THistoryWindow::Trend, {}, "Time:   " + TimeOf(17), "Upstream:   none", "Downstream:   none",
         "Bits:   none, the cycle was incomplete"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window->SetView(c.view);
        QApplication::processEvents();
        const bool trend = c.view == THistoryWindow::Trend;
        QWidget* target = window->CurrentView();
        const QPoint at = trend ? rateAt(c.time.endsWith(TimeOf(19)) ? 19 : 17) : c.at.isNull() ? toneAt(-1) : c.at;
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        EXPECT_EQ(QStringList({label("lbTime"), label("lbTone"), label("lbFrequency"), label("lbBits")}).join(" | ").toStdString(),
                  QStringList({c.time, c.tone, c.frequency, c.bits}).join(" | ").toStdString());
        QEvent leave(QEvent::Leave); // leaving clears it
        QApplication::sendEvent(target, &leave);
        EXPECT_EQ(label("lbTime") + label("lbTone"), "Time:" + HoverTexts(-1, 0, 0).Tone);
    }
}

TEST_F(HistoryWindowTest, EscapeAndCtrlWClose)
{
    Record({Reading(3)});
    const std::tuple<int, Qt::KeyboardModifiers, bool> cases[] = {{Qt::Key_Escape, Qt::NoModifier, true},
                                                                  {Qt::Key_W, Qt::ControlModifier, true},
                                                                  {Qt::Key_W, Qt::NoModifier, false},
                                                                  {Qt::Key_Q, Qt::ControlModifier, false}};
    for (const auto& [key, modifiers, closes] : cases) {
        auto window = Open(FStore);
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->findChild<QComboBox*>("cbPeriod")->setFocus(); // on a control inside, as a user has it
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
        EXPECT_EQ(window->isVisible(), !closes) << key;
    }
}

TEST_F(HistoryWindowTest, HostsAreListedAsAddressesThenNames)
{
    for (const char* host : {"router10", "127.0.0.10", "Router2", "127.0.0.2", "::1", "127.0.0.1"})
        Record({Reading(3, QString::fromLatin1(host))});
    auto window = Open(FStore);
    const QComboBox* hosts = window->findChild<QComboBox*>("cbHost");
    QStringList listed;
    for (int i = 0; i < hosts->count(); ++i)
        listed << hosts->itemText(i);
    EXPECT_EQ(listed, (QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.10", "::1", "Router2", "router10"}));
}

// A host the recorder's configuration names is listed by its lines' names
// with its address, the others by their address, and all of them so without
// a configuration that reads; the name chooses the host's readings.
TEST_F(HistoryWindowTest, HostsGoByTheirConfiguredNames)
{
    Record({Reading(3), Reading(2, HostB), Reading(1, QStringLiteral("127.0.0.3"))});
    const QStringList plain{HostA, HostB, QStringLiteral("127.0.0.3")};
    const std::pair<const char*, QStringList> cases[] = {
        {nullptr, plain}, // no configuration
        {"[home]\nhost = 127.0.0.2\npassword_file = p\n[office]\nhost = 127.0.0.3\npassword_file = p\n"
         "[office2]\nhost = 127.0.0.3\nport = 2323\npassword_file = p\n",
         {HostA, "home (127.0.0.2)", "office, office2 (127.0.0.3)"}},
        {"[home]\nhost = 127.0.0.2\n", plain}, // does not read: no password_file
    };
    QFile config(DefaultRecorderConfigPath());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(config).absolutePath()));
    for (const auto& [text, listed] : cases) {
        SCOPED_TRACE(listed.join(' ').toStdString());
        config.remove();
        ASSERT_TRUE(!text || (config.open(QIODevice::WriteOnly) && config.write(text) > 0));
        config.close();
        auto window = Open(FStore);
        auto* hosts = window->findChild<QComboBox*>("cbHost");
        for (int i = 0; i < hosts->count(); ++i)
            EXPECT_EQ(hosts->itemText(i), listed.value(i));
        hosts->setCurrentIndex(1);
        EXPECT_EQ(window->Figures().NewestMs(), Reading(2).TimeMs);
    }
    config.remove();
}

// The save dialogs offer names after the host, the period and the view; a
// saved picture says host and period in a band in its bottom-left corner.
TEST_F(HistoryWindowTest, SavedFilesAreNamedAfterHostAndPeriod)
{
    Record({Reading(3 * 24 * 60), Reading(30), Reading(20, QStringLiteral("::1")), Reading(10)});
    const struct {
        THistoryWindow::TPeriod period;
        QString host;
        THistoryWindow::TView view;
        std::int64_t fromMinutesAgo; // "Everything" starts at the oldest reading
        QString name, caption;
    } cases[] = {
        {THistoryWindow::Last24Hours, HostA, THistoryWindow::Waterfall, 24 * 60, HostA, "127.0.0.1, last 24 hours: "},
        {THistoryWindow::Everything, HostA, THistoryWindow::Trend, 3 * 24 * 60, HostA, "127.0.0.1, everything: "},
        {THistoryWindow::Last7Days, "::1", THistoryWindow::Envelope, 7 * 24 * 60, "__1", "::1, last 7 days: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption.toStdString());
        auto window = Open(FStore, c.period);
        window->SetHost(c.host);
        window->SetView(c.view);
        QApplication::processEvents();
        const QString stem = "tirvane-" + c.name + "-" + TimeOf(c.fromMinutesAgo, "yyyy-MM-dd_HHmm") + "-to-" + TimeOf(0, "yyyy-MM-dd_HHmm");
        const QString view = QStringList{"-waterfall", "-envelope", "", "-line-rate"}[c.view];
        EXPECT_EQ(QStringList({window->DefaultCsvName(), window->DefaultPictureName()}),
                  QStringList({stem + ".csv", stem + view + ".png"}));
        EXPECT_EQ(window->PictureCaption(), c.caption + TimeOf(c.fromMinutesAgo, "yyyy-MM-dd HH:mm") + " to " + TimeOf(0, "yyyy-MM-dd HH:mm"));

        const QString path = FDir.filePath(window->DefaultPictureName());
        ASSERT_TRUE(window->SavePicture(path));
        const QImage picture(path);
        const QSize shown = window->CurrentView()->size();
        ASSERT_TRUE(picture.width() == shown.width() && picture.height() > shown.height() + 10);
        const int textEnd = window->fontMetrics().horizontalAdvance(window->PictureCaption()) + window->fontMetrics().height();
        int left = 0, right = 0; // dark pixels in the band under the caption and beyond it
        for (int y = shown.height(); y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                (x < textEnd ? left : right) += qGray(picture.pixel(x, y)) < 128;
        EXPECT_GT(left, 20);
        EXPECT_EQ(right, 0);
    }
}

// The line rate's axes tick at 1, 2 or 5 times a power of ten, each its
// own, and at round times from one round time to another.
TEST_F(HistoryWindowTest, LineRateAxesTickAtRoundStepsAndTimes)
{
    const std::vector<std::int64_t> cases[] = {{23 * 60 + 59, 12 * 60 + 7, 3}, {11, 7, 5, 2}, {67, 40, 1}};
    for (const auto& minutesAgo : cases) {
        SCOPED_TRACE(minutesAgo.front());
        QTemporaryDir dir;
        TReadingStore store;
        ASSERT_TRUE(store.Open(dir.filePath(QStringLiteral("h.sqlite"))));
        for (const std::int64_t m : minutesAgo) {
            TReading r = ZyxelReading(Now - m * Minute, HostA, true);
            r.Bits[40] = std::uint8_t(3 + m % 3); // a thin line: the bits axis needs fractions
            ASSERT_TRUE(store.Record(r));
        }
        auto window = Open(store);
        window->SetView(THistoryWindow::Trend);
        QApplication::processEvents();
        const TLineRateLayout& l = window->TrendView()->Layout();
        const std::int64_t from = l.Ticks.FirstMs, to = l.Ticks.LastMs;
        const std::int64_t step = (to - from) / std::max(1, l.Ticks.Count() - 1);
        EXPECT_TRUE(from <= Now - minutesAgo.front() * Minute && to >= Now && l.Ticks.Count() >= 3);
        EXPECT_EQ(from + step * (l.Ticks.Count() - 1), to);
        // Seconds or minutes by 1, 2, 5, 10, 15 or 30; hours by 1, 2, 3, 4, 6 or 12.
        const std::int64_t unit = step >= 60 * Minute ? 60 * Minute : step >= Minute ? Minute : 1000;
        const QList<std::int64_t> counts = unit > Minute ? QList<std::int64_t>{1, 2, 3, 4, 6, 12} : QList<std::int64_t>{1, 2, 5, 10, 15, 30};
        EXPECT_TRUE(step % unit == 0 && counts.contains(step / unit)) << step;
        EXPECT_EQ((from + QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc() * std::int64_t(1000)) % step, 0);
        // Both value axes tick from 0 at a round step of their own.
        for (const auto& [top, interval] : {std::pair{l.RateTop, l.RateStep}, std::pair{l.BitsTop, l.BitsStep}}) {
            EXPECT_DOUBLE_EQ(RoundStep(interval), interval);
            EXPECT_LE(top / interval, 10.5);
        }
        EXPECT_DOUBLE_EQ(l.RateTop, l.BitsTop * LineRateKbps(1, ZyxelToneSpacingKHz)); // the same line rate
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

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    setUp.AfterApplication = [] { QApplication::setApplicationName(QStringLiteral("history_window_test")); };
    return setUp;
}

namespace {

// A steady line minutes ago; `bits` on the downstream tones 32-131.
TReading Steady(std::int64_t minutesAgo, bool completed = true, int bits = 10)
{
    TReading r = ZyxelReading(Now - minutesAgo * Minute, HostA, completed);
    std::fill(r.Bits.begin() + 32, r.Bits.begin() + 132, std::uint8_t(bits));
    return r;
}

} // namespace

// The Events view lists the period's events; choosing one marks its time on
// the waterfall. Readings taken in while the window is open add theirs.
TEST_F(HistoryWindowTest, EventsViewListsTheEventsAndShowsTheChosenOnTheWaterfall)
{
    std::vector<TReading> readings;
    for (int ago = 60; ago > 30; --ago)
        readings.push_back(Steady(ago, ago > 40 || ago <= 37)); // outage 40 to 37 minutes ago
    for (int ago = 30; ago > 20; --ago)
        readings.push_back(Steady(ago, true, 12)); // resync 31 to 30 minutes ago
    Record(readings);
    auto window = Open(FStore);
    window->SetView(THistoryWindow::Events);
    EXPECT_EQ(window->CurrentView(), static_cast<QWidget*>(window->EventsTable()));

    const struct {
        const char* kind;
        std::int64_t startAgo, endAgo;
        const char* duration;
        const char* figures;
    } expected[] = {
        {"outage", 40, 37, "3 min", "3 incomplete cycles"},
        {"resync", 31, 30, "1 min", "100 of 100 loaded tones changed"},
    };
    ASSERT_EQ(window->EventsTable()->rowCount(), int(std::size(expected)));
    for (int row = 0; row < int(std::size(expected)); ++row) {
        SCOPED_TRACE(row);
        const auto& e = expected[row];
        EXPECT_EQ(window->EventsTable()->item(row, 0)->text(), QString::fromLatin1(e.kind));
        EXPECT_EQ(window->EventsTable()->item(row, 2)->text(), QString::fromLatin1(e.duration));
        EXPECT_EQ(window->EventsTable()->item(row, 3)->text(), QString::fromLatin1(e.figures));
        window->SetView(THistoryWindow::Events);
        window->ShowEvent(row);
        EXPECT_EQ(window->View(), THistoryWindow::Waterfall);
        EXPECT_EQ(window->WaterfallView()->Mark(), std::make_pair(Now - e.startAgo * Minute, Now - e.endAgo * Minute));
        // The mark is drawn: its colour is on the waterfall's picture.
        const QImage picture = window->WaterfallView()->grab().toImage();
        bool marked = false;
        for (int y = 0; y < picture.height() && !marked; ++y)
            for (int x = 0; x < picture.width() && !marked; ++x)
                marked = picture.pixel(x, y) == TWaterfallView::MarkColor;
        EXPECT_TRUE(marked);
    }

    // An outage begun after the window opened is listed, going on.
    window->TakeIn(Steady(19, false));
    window->TakeIn(Steady(18, false));
    ASSERT_EQ(window->EventsTable()->rowCount(), 3);
    EXPECT_EQ(window->EventsTable()->item(2, 0)->text(), QStringLiteral("outage"));
    EXPECT_EQ(window->EventsTable()->item(2, 2)->text(), QStringLiteral("1 min so far"));

    // "Line report..." writes the shown period's report with these events.
    const QString pdf = FDir.filePath(QStringLiteral("report.pdf"));
    ASSERT_TRUE(window->WriteReport(pdf));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString out = QString::fromUtf8(text.readAllStandardOutput()).simplified();
    for (const char* expected : {"Line report: 127.0.0.1", "Time in outages: 3 min (1 outage)", "Resyncs: 1",
                                 "3 incomplete cycles", "100 of 100 loaded tones changed"})
        EXPECT_TRUE(out.contains(QLatin1String(expected))) << expected << "\n" << out.toStdString();
}

namespace {

// A VDSL2 line of 4096 tones at 8.625 kHz: every tone 10 bits but `notch`.
TReading LongReading(std::int64_t minutesAgo, int notch, int bits)
{
    TReading r = Reading(minutesAgo);
    r.Bits.assign(4096, 10);
    r.Bits[std::size_t(notch)] = std::uint8_t(bits);
    r.SpacingKHz = 8.625;
    r.Bands = {{{0, 31}, {870, 1205}}, {{33, 859}}};
    r.Mode = QStringLiteral("VDSL2 17a");
    return r;
}

} // namespace

// On a line longer than the plot is wide, the pointer over a column names
// the tone whose value the column shows, at the line's own spacing; the
// bars take their colour from the line's band plan.
TEST_F(HistoryWindowTest, LongLineReadOutAndBandColours)
{
    constexpr int Notch = 2001;
    Record({LongReading(3, Notch, 0), LongReading(2, Notch, 10), LongReading(1, Notch, 0)});
    auto window = Open(FStore);
    const auto label = [&window](const char* name) { return window->findChild<QLabel*>(name)->text(); };
    const auto texts = [](int tone, int bits) { return HoverTexts(tone, 0, bits, 8.625); };
    const struct {
        const char* name;
        THistoryWindow::TView view;
        bool firstOfColumn; // the read-out names the column's first tone, not the notch
        QString bits;
    } cases[] = {
        {"waterfall: the lowest bits", THistoryWindow::Waterfall, false, texts(Notch, 0).Bits},
        {"envelope: the highest latest", THistoryWindow::Envelope, true, texts(0, 10).Bits + " (least 10, most 10)"},
        {"bit changes: the most", THistoryWindow::Changes, false, "Changes:   2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window->SetView(c.view);
        QApplication::processEvents();
        auto* view = static_cast<THistoryToneView*>(window->CurrentView());
        const TToneViewLayout l = view->Layout(view->rect());
        ASSERT_TRUE(l.Columns.Binned());
        const int column = l.Columns.ColumnOf(Notch);
        const int y = c.view == THistoryWindow::Waterfall
                          ? l.Plot.top() + int(window->WaterfallView()->Rows(l.Plot.height()).Y(Now - Minute)) - 2
                          : l.Plot.center().y();
        const QPoint at(l.Plot.left() + column, y);
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        const int tone = c.firstOfColumn ? l.Columns.FirstTone(column) : Notch;
        EXPECT_EQ(label("lbTone"), texts(tone, 0).Tone);
        EXPECT_EQ(label("lbFrequency"), texts(tone, 0).Frequency);
        EXPECT_EQ(label("lbBits"), c.bits);
    }
    EXPECT_EQ(texts(1000, 0).Frequency, HoverTexts(2000, 0, 0).Frequency); // twice 4.3125 kHz apart

    // Envelope bars: green in both upstream bands, blue downstream and in
    // the gap between the bands.
    window->SetView(THistoryWindow::Envelope);
    QApplication::processEvents();
    auto* view = static_cast<THistoryToneView*>(window->CurrentView());
    const TToneViewLayout l = view->Layout(view->rect());
    const QImage picture = view->grab().toImage();
    const int y = int(std::lround(l.ValueY(5)));
    const struct {
        int tone;
        TColor colour;
    } bars[] = {{10, clGreen}, {500, clBlue}, {1000, clGreen}, {1200, clGreen}, {3000, clBlue}};
    for (const auto& b : bars) {
        const int x = l.Plot.left() + l.Columns.ColumnOf(b.tone);
        EXPECT_EQ(QColor(picture.pixel(x, y)), ToQColor(b.colour)) << "tone " << b.tone;
    }
    // Above the plot, a mark where the direction changes (and only there).
    const struct {
        int tone;
        bool marked;
    } marks[] = {{32, true}, {870, true}, {1206, true}, {600, false}, {1600, false}, {3000, false}};
    for (const auto& m : marks) {
        const QColor above(picture.pixel(int(std::lround(l.ToneX(m.tone))), l.Plot.top() - l.LineHeight / 2));
        EXPECT_EQ(above == QColor(Qt::black), m.marked) << "tone " << m.tone;
    }
    // However narrow the picture, a direction's word ends before the next
    // mark and never runs into the next word: a band too narrow goes unnamed.
    for (const int width : {900, 400, 250}) {
        const TToneViewLayout narrow = ToneViewLayout(THistoryPicture::Envelope, window->Figures(),
            QRect(0, 0, width, 300), view->fontMetrics());
        const auto& words = narrow.DirectionWords;
        for (std::size_t i = 1; i < words.size(); ++i)
            EXPECT_LT(words[i - 1].first.right(), words[i].first.left()) << width << " " << words[i].second.toStdString();
        EXPECT_EQ(words.size() == narrow.DirectionEdges.size() + 1, width == 900) << width;
    }
}

// The line's figures and SNR the store kept reach the History window's views
// of them, whose read-outs name what the pointer is over; a line that gave
// none says so.
TEST_F(HistoryWindowTest, LineFiguresAndSnrViewsShowWhatTheStoreKept)
{
    std::vector<TReading> readings;
    for (int ago = 30; ago > 0; --ago) {
        TReading r = Reading(ago);
        r.Outcome = TReadingOutcome::LineUp;
        r.Figures.Down.MarginDb = 6.5;
        r.Figures.Up.MarginDb = 9.0;
        r.Figures.Down.Crc = std::uint64_t(100 - ago);
        r.Spectra.Snr.Down = {8, std::vector<float>(65, 31.5f)};
        r.Spectra.Snr.Up = {8, std::vector<float>(4, 20.0f)};
        readings.push_back(r);
    }
    Record(readings);
    auto window = Open(FStore);
    const struct {
        THistoryWindow::TView view;
        double x, y; // where the pointer is, as shares of the view
        const char* readout;
    } cases[] = {
        {THistoryWindow::LineFigures, 0.5, 0.3, "margin 6.5 / 9 dB"},
        {THistoryWindow::SnrEnvelope, 0.6, 0.5, "SNR 31.5 dB"},
        {THistoryWindow::SnrWaterfall, 0.6, 0.5, "SNR 31.5 dB"},
        {THistoryWindow::QlnHlog, 0.6, 0.3, "QLN not measured"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readout);
        window->SetView(c.view);
        QApplication::processEvents();
        THistoryPictureView* view = window->PictureView(c.view);
        ASSERT_EQ(window->CurrentView(), view);
        const QPoint at(int(view->width() * c.x), int(view->height() * c.y));
        EXPECT_TRUE(view->ReadoutAt(at).contains(QString::fromLatin1(c.readout))) << view->ReadoutAt(at).toStdString();
        // The window's read-out shows the sentence whole, not its first quarter.
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
            Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        QApplication::processEvents();
        const auto* shown = window->findChild<QLabel*>(QStringLiteral("lbTime"));
        EXPECT_EQ(shown->text(), view->ReadoutAt(at));
        EXPECT_GE(shown->width(), shown->fontMetrics().horizontalAdvance(shown->text()));
    }
}
