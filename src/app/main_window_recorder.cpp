// One poller per router, the window's part: a host that a running recorder
// polls is shown from the recorder's readings as they arrive, and asks the
// router for nothing; any other cycle waits for the router's turn; and a
// refused password stops the sampling, since the same password is refused
// again and some routers lock the account after a few refusals.
#include "app/main_window.h"

#include "app/shape.h"
#include "app/window_rules.h"
#include "chart/chart.h"
#include "chart/series.h"
#include "history/figures/history_figures.h"
#include "history/store/reading_store.h"
#include "recorder/recorder_notice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

namespace {

// How often the window looks for the recorder's next reading.
constexpr int RecorderWatchMs = 2000;
const QColor RecorderLampGreen(0, 128, 0);
const QColor RecorderLampRed(255, 0, 0);

} // namespace

bool TForm1::ShowRecorderReadings(const QString& host)
{
    const QString history = TReadingStore::DefaultPath();
    const std::optional<TRecorderNotice> notice = ReadRecorderNotice(RecorderNoticeFolder(history), host, 23);
    if (!notice) {
        // The recorder has gone: the window's own timer takes over again.
        if (FRecorderWatch && FRecorderWatch->isActive()) {
            FRecorderWatch->stop();
            FRecorderShownMs = -1;
        }
        return false;
    }
    if (!FRecorderWatch) {
        FRecorderWatch = new QTimer(this);
        FRecorderWatch->setInterval(RecorderWatchMs);
        connect(FRecorderWatch, &QTimer::timeout, this, [this] {
            if (!FCycleRunning)
                Button1Click();
        });
    }
    Timer1->stop();
    if (!FRecorderWatch->isActive())
        FRecorderWatch->start();

    const bool failed = notice->LastTimeMs > 0 && !notice->LastFailure.isEmpty();
    const QString when = QDateTime::fromMSecsSinceEpoch(notice->LastTimeMs).time().toString(QStringLiteral("HH:mm:ss"));
    const QString source = QStringLiteral("Readings from the recorder, every %1 s").arg(notice->IntervalSeconds);
    Chart21->SetNotice(failed ? source + QStringLiteral("\n") + when + QStringLiteral("  ") + notice->LastFailure : source);
    Shape1->SetBrushColor(failed || notice->LastTimeMs == 0 ? RecorderLampRed : RecorderLampGreen);
    FLastReading = notice->LastTimeMs == 0 ? source
                                           : when + QStringLiteral(": ")
            + (failed ? notice->LastFailure : QStringLiteral("complete")) + QStringLiteral(" (") + source + QLatin1Char(')');
    UpdateLampTip();
    if (notice->LastTimeMs == FRecorderShownMs || notice->LastTimeMs == 0)
        return true;

    // The recorder's latest reading of the host, as the history holds it.
    TReadingStore store;
    if (!store.OpenToRead(history))
        return true;
    const std::vector<TReading> readings = store.Readings(notice->LastTimeMs, notice->LastTimeMs + 1, host);
    if (readings.empty())
        return true; // still on its way into the file: the next look finds it
    FRecorderShownMs = notice->LastTimeMs;
    const TReading& reading = readings.back();
    // Shown as a reading of the window's own: its bits, plan and spectra.
    ShowReading(reading);
    TakeFigures(reading);
    return true;
}

std::optional<TRouterTurn> TForm1::TakeRouterTurn(const QString& host, std::chrono::steady_clock::time_point deadline)
{
    QString error;
    std::optional<TRouterTurn> turn = TRouterTurn::Take(host, 23, deadline, [this] {
        QCoreApplication::processEvents();
        return !FEndCycle;
    }, &error);
    if (!turn && !FEndCycle)
        Chart21->SetNotice(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + error);
    return turn;
}

void TForm1::StopAfterRefusedPassword(const TTakenReading& taken)
{
    const bool refused = taken.Failure.Cause == TFailureCause::PasswordRefused;
    if (!refused || FCycleStopped)
        return;
    Timer1->stop();
    Shape1->SetBrushColor(RecorderLampRed);
    const QString when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    Chart21->SetNotice(when + QStringLiteral("  The router did not accept the password: sampling stopped"));
    FLastReading = when + QStringLiteral(": The router did not accept the password: sampling stopped");
}
