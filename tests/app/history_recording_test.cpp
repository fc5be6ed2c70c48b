// The window records every cycle into the user's history: here the history
// lives under a data folder private to this test process (see the tests'
// main), and the router is the simulator on loopback, in a private network
// namespace.
#include "app/main_window.h"
#include "app/shape.h"
#include "chart/series.h"
#include "history/reading_store.h"
#include "support/router_sim_process.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

std::array<int, 513> BitsOf(const TReading& reading)
{
    std::array<int, 513> bits{};
    std::copy(reading.Bits.begin(), reading.Bits.end(), bits.begin());
    return bits;
}

QList<QMessageBox*> HistoryMessages()
{
    QList<QMessageBox*> shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("HistoryOffMessage") && w->isVisible())
            shown << static_cast<QMessageBox*>(w);
    return shown;
}

RouterSimProcess::Options SimOn(const std::string& address)
{
    RouterSimProcess::Options options;
    options.address = address;
    return options;
}

TEST(HistoryRecordingTest, EveryCycleIsStoredAsServed)
{
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    TForm1 form;
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    QSignalSpy recorded(&form, &TForm1::ReadingRecorded);

    // Three ways a cycle starts; each reading is what the router served then
    // (the simulator's line drifts from one reading to the next).
    const std::function<void()> starts[] = {
        [&] { form.Button1->click(); },
        [&] { form.rb3->click(); },
        [&] { form.Timer1Timer(); },
    };
    std::vector<std::array<int, 513>> served;
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    for (const auto& start : starts) {
        start();
        served.push_back(sim.ExpectedTones());
    }
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    form.Button2->click();

    ASSERT_TRUE(form.History()->IsOpen()) << form.History()->ErrorText().toStdString();
    EXPECT_EQ(form.History()->Path(), TReadingStore::DefaultPath());
    const std::vector<TReading> stored
        = form.History()->Readings(0, after + 1, QString::fromStdString(sim.Address()));
    ASSERT_EQ(stored.size(), 3u);
    ASSERT_EQ(recorded.size(), 3);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(stored[i].Completed);
        EXPECT_EQ(BitsOf(stored[i]), served[i]);
        EXPECT_GE(stored[i].TimeMs, before);
        EXPECT_EQ(recorded[int(i)][0].value<TReading>(), stored[i]);
    }
    EXPECT_NE(served[0], served[1]) << "the simulator's line did not drift";
    EXPECT_TRUE(HistoryMessages().isEmpty());
}

TEST(HistoryRecordingTest, AnOutageIsStoredAndMarked)
{
    const std::string nobody = RouterSimProcess::UniqueLoopbackAddress(); // nothing listens here
    TForm1 form;
    form.edHost->setText(QString::fromStdString(nobody));
    form.edPassword->setText(QStringLiteral("1234"));
    form.Button1->click();
    form.Button2->click();
    const std::vector<TReading> stored
        = form.History()->Readings(0, QDateTime::currentMSecsSinceEpoch() + 1, QString::fromStdString(nobody));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_FALSE(stored[0].Completed);
}

TEST(HistoryRecordingTest, AStoreThatFailsTurnsHistoryOffOnceAndPlottingGoesOn)
{
    // Something that is not a history where the user's history belongs.
    const QString path = TReadingStore::DefaultPath();
    const QByteArray notADatabase(4096, 'x');
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QFile::rename(path, path + QStringLiteral(".kept"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(notADatabase);
    }
    RouterSimProcess sim(SimOn(RouterSimProcess::UniqueLoopbackAddress()));
    TForm1 form;
    form.edHost->setText(QString::fromStdString(sim.Address()));
    form.edPassword->setText(QStringLiteral("1234"));
    QSignalSpy recorded(&form, &TForm1::ReadingRecorded);

    for (int cycle = 0; cycle < 2; ++cycle) {
        SCOPED_TRACE(cycle);
        form.Button1->click();
        // The cycle went to its end: bars of what was served, lamp green, timer on.
        ASSERT_EQ(form.LineSeries18->Count(), 256);
        EXPECT_EQ(form.LineSeries18->YValues().Value(40), double(sim.ExpectedTones()[40]));
        EXPECT_EQ(form.Shape1->BrushColor(), QColor(0, 128, 0));
        EXPECT_TRUE(form.Timer1->isActive());
        // One message, naming the file and the reason, not modal, and no more.
        const QList<QMessageBox*> shown = HistoryMessages();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0]->windowModality(), Qt::NonModal);
        EXPECT_TRUE(shown[0]->text().contains(path)) << shown[0]->text().toStdString();
        EXPECT_TRUE(shown[0]->text().contains(QLatin1String("not a database")));
    }
    form.Button2->click();
    EXPECT_FALSE(form.History()->IsOpen());
    EXPECT_EQ(recorded.size(), 0);
    for (QMessageBox* box : HistoryMessages())
        box->close();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), notADatabase);
    file.close();
    QFile::remove(path);
    QFile::rename(path + QStringLiteral(".kept"), path);
}

} // namespace
