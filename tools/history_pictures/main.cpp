// Draws the History window's four views from a day of the router simulator's
// line, one reading a minute with a short outage and a pause in sampling,
// and saves each view as a
// PNG: the pictures of the README. The readings go into a history file in a
// folder of their own, never the user's.
//
//   tirvane-history-pictures OUTPUT_FOLDER [WIDTH HEIGHT]
#include "history/figures/history_views.h"
#include "history/window/history_window.h"
#include "history/store/reading_store.h"
#include "router_sim/line_model.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: tirvane-history-pictures OUTPUT_FOLDER [WIDTH HEIGHT]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QSize size = argc == 4 ? QSize(std::atoi(argv[2]), std::atoi(argv[3])) : QSize(1000, 640);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit()); // no remembered window places of the user's

    TReadingStore store;
    if (!store.Open(home.filePath(QStringLiteral("history.sqlite")))) {
        std::fprintf(stderr, "%s\n", qPrintable(store.ErrorText()));
        return 1;
    }
    // A day, one reading a minute, ending at a fixed time so the pictures do
    // not change from run to run; half an hour of outage in the small hours
    // and, in the morning, an hour and a half when the monitor was not
    // running.
    constexpr int Readings = 24 * 60;
    constexpr std::int64_t End = 1796644800000; // 2026-12-07 12:00 UTC
    const routersim::LineModel line(7);
    TReading reading = ZyxelReading();
    reading.Host = QStringLiteral("127.0.0.1");
    for (int i = 0; i < Readings; ++i) {
        if (i >= 1150 && i < 1240)
            continue;
        reading.TimeMs = End - std::int64_t(Readings - 1 - i) * 60000;
        reading.Completed = i < 900 || i >= 930;
        if (reading.Completed) {
            const auto bits = line.Reading(std::uint32_t(i)).bits;
            for (int tone = 1; tone < ZyxelToneCount; ++tone)
                reading.Bits[std::size_t(tone)] = std::uint8_t(bits[std::size_t(tone)]);
        }
        store.Record(reading);
    }

    THistoryWindow window(store);
    window.SetClock([] { return End; });
    window.SetPeriod(THistoryWindow::Last24Hours);
    const char* const names[] = {"history-waterfall.png", "history-envelope.png", "history-changes.png",
                                 "history-line-rate.png"};
    window.resize(size);
    window.show();
    for (int view = THistoryWindow::Waterfall; view <= THistoryWindow::Trend; ++view) {
        window.SetView(THistoryWindow::TView(view));
        QApplication::processEvents();
        const QString path = QDir(folder).filePath(QString::fromLatin1(names[view]));
        if (!window.SavePicture(path))
            return 1;
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
