// The window records every cycle into the user's history (in a data folder
// of the test's own, see the tests' main); the router is the simulator.
#include "app/main_window.h"
#include "app/shape.h"
#include "chart/series.h"
#include "history/store/reading_store.h"
#include "history/window/history_window.h"
#include "support/raw_db.h"
#include "support/router_sim_process.h"

#include <QApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace {

class HistoryRecordingTest : public ::testing::Test {
protected:
    HistoryRecordingTest()
    {
        FForm.edHost->setText(QString::fromStdString(FSim.Address()));
        FForm.edPassword->setText(QStringLiteral("1234"));
    }
    static RouterSimProcess::Options OwnAddress()
    {
        RouterSimProcess::Options options;
        options.address = RouterSimProcess::UniqueLoopbackAddress();
        return options;
    }
    // Readings are written on a thread of their own: all of them first.
    std::vector<TReading> Stored()
    {
        FForm.FlushHistory();
        TReadingStore store;
        if (!store.OpenToRead(TReadingStore::DefaultPath()))
            FStoreError = store.ErrorText();
        return store.Readings(0, INT64_MAX, FForm.edHost->text());
    }

    QString FStoreError;
    RouterSimProcess FSim{OwnAddress()};
    TForm1 FForm;
    QSignalSpy FRecorded{&FForm, &TForm1::ReadingRecorded};
};

TEST_F(HistoryRecordingTest, EveryCycleIsStoredAsServedOutagesMarked)
{
    std::vector<std::array<int, 513>> served; // the simulator's line drifts between readings
    for (QAbstractButton* start : std::initializer_list<QAbstractButton*>{FForm.Button1, FForm.rb3, FForm.Button1}) {
        start->click();
        served.push_back(FSim.ExpectedTones());
    }
    const std::vector<TReading> stored = Stored();
    ASSERT_EQ(stored.size(), 3u) << FStoreError.toStdString();
    ASSERT_EQ(FRecorded.size(), 3);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(stored[i].Completed && std::equal(served[i].begin(), served[i].end(), stored[i].Bits.begin())) << i;
        EXPECT_EQ(FRecorded[int(i)][0].value<TReading>(), stored[i]);
    }
    EXPECT_NE(served[0], served[1]);

    FForm.edHost->setText(QString::fromStdString(RouterSimProcess::UniqueLoopbackAddress())); // nobody there
    FForm.Timer1Timer();
    ASSERT_EQ(Stored().size(), 1u);
    EXPECT_FALSE(Stored()[0].Completed);
    EXPECT_TRUE(FForm.findChildren<QMessageBox*>().isEmpty());
}

// Another program holding the store for writing never holds the window: the
// cycle ends with its reading still waiting, which lands once the other lets go.
// A cycle that waited for the store would take the store's whole busy time-out
// longer than one that did not, and would then lose the reading.
TEST_F(HistoryRecordingTest, ACycleNeverWaitsForTheStore)
{
    QElapsedTimer clock;
    clock.start();
    FForm.Button1->click();
    const qint64 free = clock.elapsed(); // a cycle whose reading the store takes at once
    ASSERT_EQ(Stored().size(), 1u);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(TReadingStore::DefaultPath().toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    clock.restart();
    FForm.Button1->click();
    const qint64 held = clock.elapsed();
    EXPECT_LT(held, free + TReadingStore::BusyTimeoutMs * 3 / 4) << "the cycle waited for the store (" << free << " ms free)";
    EXPECT_EQ(FForm.Shape1->BrushColor(), QColor(0, 128, 0));
    // While the store stays busy the reading waits: neither stored nor given up.
    QTest::qWait(TReadingStore::BusyTimeoutMs / 4);
    EXPECT_EQ(FRecorded.size(), 1);
    EXPECT_TRUE(FForm.findChildren<QMessageBox*>().isEmpty());
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Stored().size(), 2u);
    EXPECT_EQ(FRecorded.size(), 2);
    EXPECT_TRUE(FForm.findChildren<QMessageBox*>().isEmpty());
}

TEST_F(HistoryRecordingTest, AStoreThatFailsTurnsHistoryOffOnceAndPlottingGoesOn)
{
    const QString path = TReadingStore::DefaultPath(); // in this test process's own data folder
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
    file.close();
    for (int cycle = 0; cycle < 2; ++cycle) {
        FForm.Button1->click();
        FForm.FlushHistory();
        ASSERT_EQ(FForm.LineSeries18->Count(), 256);
        EXPECT_EQ(FForm.LineSeries18->YValues().Value(40), double(FSim.ExpectedTones()[40]));
        EXPECT_EQ(FForm.Shape1->BrushColor(), QColor(0, 128, 0));
        EXPECT_TRUE(FForm.Timer1->isActive());
        const QList<QMessageBox*> shown = FForm.findChildren<QMessageBox*>(); // one, not modal
        ASSERT_EQ(shown.size(), 1) << cycle;
        EXPECT_TRUE(shown[0]->isVisible() && shown[0]->windowModality() == Qt::NonModal);
        EXPECT_TRUE(shown[0]->text().contains(path) && shown[0]->text().contains("not a database"))
            << shown[0]->text().toStdString();
    }
    EXPECT_EQ(FRecorded.size(), 0);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(4096, 'x'));
    QFile::remove(path);
}

// The History window opens on the host the window plots, wherever that host
// has readings, each time it is asked for.
TEST_F(HistoryRecordingTest, TheHistoryWindowOpensOnTheHostPlotted)
{
    const QString a = QStringLiteral("127.0.0.41"), b = QStringLiteral("127.0.0.42");
    {
        TReadingStore store;
        ASSERT_TRUE(store.Open(TReadingStore::DefaultPath()));
        for (const QString& host : {a, b})
            ASSERT_TRUE(store.Record(ZyxelReading(QDateTime::currentMSecsSinceEpoch() - 60'000, host, true)));
    }
    const struct {
        QString typed;
        QString shown;
    } cases[] = {{b, b}, {a, a}, {QString(), a}, {QStringLiteral("127.0.0.43"), a}, {QStringLiteral(" 127.0.0.42 "), b}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        FForm.edHost->setText(c.typed);
        FForm.History1Click();
        const auto* window = FForm.findChild<THistoryWindow*>();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->Host(), c.shown);
    }
}

// "Delete readings" in the History window the main window opens goes through
// the main window's writer: the button says so until the writer answers and
// the readings are gone from the file. A file another program keeps busy past
// the busy wait loses nothing, and a box says why.
TEST_F(HistoryRecordingTest, DeleteGoesThroughTheMainWindowsWriter)
{
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch(), hour = 3'600'000;
    const QString host = FForm.edHost->text();
    for (const bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "busy" : "free");
        {
            TReadingStore store;
            ASSERT_TRUE(store.Open(TReadingStore::DefaultPath()) && store.DeleteOlderThan(INT64_MAX) >= 0);
            for (const std::int64_t ago : {50 * hour, 40 * hour, hour})
                ASSERT_TRUE(store.Record(ZyxelReading(now - ago, host, true)));
        }
        FForm.History1Click();
        auto* window = FForm.findChild<THistoryWindow*>();
        ASSERT_NE(window, nullptr);
        auto* button = window->findChild<QPushButton*>(QStringLiteral("btDelete"));
        RawDb other(TReadingStore::DefaultPath());
        ASSERT_TRUE(!busy || (other.Exec("BEGIN EXCLUSIVE") && other.Exec("DELETE FROM hosts WHERE id < 0")));
        {
            QTimer answer; // the date, then Yes
            QObject::connect(&answer, &QTimer::timeout, [now, hour] {
                QWidget* modal = QApplication::activeModalWidget();
                if (auto* box = qobject_cast<QMessageBox*>(modal))
                    box->button(QMessageBox::Yes)->click();
                else if (auto* before = modal ? modal->findChild<QDateTimeEdit*>(QStringLiteral("edBefore")) : nullptr) {
                    before->setDateTime(QDateTime::fromMSecsSinceEpoch(now - 30 * hour));
                    qobject_cast<QDialog*>(modal)->accept();
                }
            });
            answer.start(20);
            window->DeleteOlderClick();
        }
        EXPECT_TRUE(button->text().startsWith(QStringLiteral("Deleting readings taken before "))) << button->text().toStdString();
        QElapsedTimer waited;
        waited.start();
        while (!button->isEnabled() && waited.elapsed() < 60'000)
            QTest::qWait(20);
        EXPECT_EQ(button->text(), QStringLiteral("Delete readings older than..."));
        const QList<QMessageBox*> boxes = window->findChildren<QMessageBox*>();
        ASSERT_EQ(boxes.size(), busy ? 1 : 0);
        if (busy) {
            EXPECT_EQ(boxes[0]->text(), QStringLiteral("No readings were deleted: another program kept the history file busy. Try again later."));
            delete boxes[0];
            ASSERT_TRUE(other.Exec("COMMIT"));
        }
        EXPECT_EQ(Stored().size(), busy ? 3u : 1u);
    }
}

} // namespace
