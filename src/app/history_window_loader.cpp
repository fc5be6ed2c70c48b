// The monitor's History window comes from a module loaded the first time it
// is asked for: beside the program in a build tree, in the program's own
// library folder once installed.
#include "history/history_window_maker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

#include <stdexcept>

THistoryWindowMade MakeHistoryWindow(TReadingStore& store, QWidget* parent, const QString& settingsFile)
{
    static THistoryWindowMaker maker = nullptr;
    if (maker == nullptr) {
        const QString programDir = QCoreApplication::applicationDirPath();
        QString reason = QStringLiteral("%1 is missing").arg(QStringLiteral(TIRVANE_HISTORY_MODULE));
        for (const QString& dir : {programDir + QStringLiteral("/" TIRVANE_HISTORY_MODULE_DIR), programDir}) {
            const QString path = dir + QStringLiteral("/" TIRVANE_HISTORY_MODULE);
            if (!QFileInfo::exists(path))
                continue;
            // Never unloaded: the window's code must stay for as long as it lives.
            QLibrary module(path);
            using TEntry = THistoryWindowMaker (*)();
            if (const auto entry = reinterpret_cast<TEntry>(module.resolve(HistoryModuleEntry))) {
                maker = entry();
                break;
            }
            reason = module.errorString();
        }
        if (maker == nullptr)
            throw std::runtime_error(QStringLiteral("The History window could not be loaded: %1").arg(reason).toStdString());
    }
    return maker(store, parent, settingsFile);
}
