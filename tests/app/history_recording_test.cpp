// The window records every cycle into the user's history (in a data folder
// of the test's own, see the tests' main); the router is the simulator.
#include "app/main_window.h"
#include "app/shape.h"
#include "chart/series.h"
#include "history/reading_store.h"
#include "support/router_sim_process.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Monitor {
    explicit Monitor(const std::string& host)
    {
        form.edHost->setText(QString::fromStdString(host));
        form.edPassword->setText(QStringLiteral("1234"));
    }
    std::vector<TReading> Stored(const std::string& host)
    {
        return form.History()->Readings(0, QDateTime::currentMSecsSinceEpoch() + 1, QString::fromStdString(host));
    }
    TForm1 form;
    QSignalSpy recorded{&form, &TForm1::ReadingRecorded};
};

RouterSimProcess::Options SimOnItsOwnAddress()
{
    RouterSimProcess::Options options;
    options.address = RouterSimProcess::UniqueLoopbackAddress();
    return options;
}

QList<QWidget*> HistoryMessages()
{
    QList<QWidget*> shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("HistoryOffMessage") && w->isVisible())
            shown << w;
    return shown;
}

TEST(HistoryRecordingTest, EveryCycleIsStoredAsServedOutagesMarked)
{
    RouterSimProcess sim(SimOnItsOwnAddress());
    Monitor monitor(sim.Address());
    std::vector<std::array<int, 513>> served; // the simulator's line drifts between readings
    for (const auto& start : std::initializer_list<std::function<void()>>{[&] { monitor.form.Button1->click(); },
             [&] { monitor.form.rb3->click(); }, [&] { monitor.form.Timer1Timer(); }}) {
        start();
        served.push_back(sim.ExpectedTones());
    }
    const std::vector<TReading> stored = monitor.Stored(sim.Address());
    ASSERT_EQ(stored.size(), 3u) << monitor.form.History()->ErrorText().toStdString();
    ASSERT_EQ(monitor.recorded.size(), 3);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(stored[i].Completed);
        EXPECT_TRUE(std::equal(served[i].begin(), served[i].end(), stored[i].Bits.begin())) << i;
        EXPECT_EQ(monitor.recorded[int(i)][0].value<TReading>(), stored[i]);
    }
    EXPECT_NE(served[0], served[1]);

    const std::string nobody = RouterSimProcess::UniqueLoopbackAddress();
    monitor.form.edHost->setText(QString::fromStdString(nobody));
    monitor.form.Button1->click();
    monitor.form.Button2->click();
    ASSERT_EQ(monitor.Stored(nobody).size(), 1u);
    EXPECT_FALSE(monitor.Stored(nobody)[0].Completed);
    EXPECT_TRUE(HistoryMessages().isEmpty());
}

TEST(HistoryRecordingTest, AStoreThatFailsTurnsHistoryOffOnceAndPlottingGoesOn)
{
    const QString path = TReadingStore::DefaultPath();
    const QByteArray notADatabase(4096, 'x');
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::rename(path, path + ".kept");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(notADatabase) == notADatabase.size());
    file.close();
    RouterSimProcess sim(SimOnItsOwnAddress());
    Monitor monitor(sim.Address());
    for (int cycle = 0; cycle < 2; ++cycle) {
        monitor.form.Button1->click();
        ASSERT_EQ(monitor.form.LineSeries18->Count(), 256);
        EXPECT_EQ(monitor.form.LineSeries18->YValues().Value(40), double(sim.ExpectedTones()[40]));
        EXPECT_EQ(monitor.form.Shape1->BrushColor(), QColor(0, 128, 0));
        EXPECT_TRUE(monitor.form.Timer1->isActive());
        const QList<QWidget*> shown = HistoryMessages(); // one, not modal, naming file and reason
        ASSERT_EQ(shown.size(), 1) << cycle;
        EXPECT_EQ(shown[0]->windowModality(), Qt::NonModal);
        const QString text = static_cast<QMessageBox*>(shown[0])->text();
        EXPECT_TRUE(text.contains(path) && text.contains("not a database")) << text.toStdString();
    }
    monitor.form.Button2->click();
    EXPECT_EQ(monitor.recorded.size(), 0);
    HistoryMessages()[0]->close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), notADatabase);
    QFile::remove(path);
    QFile::rename(path + ".kept", path);
}

} // namespace
