// The monitor's History window and printing commands come from modules
// loaded the first time they are asked for: beside the program in a build
// tree, in the program's own library folder once installed.
#include "history/window/history_window_maker.h"
#include "output/printing_commands.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

#include <stdexcept>

namespace {

// The entry point `entry` of module `file`, which is then never unloaded:
// its code must stay for as long as anything it made lives. Throws with
// `what` for the user when the module or its entry point cannot be had.
QFunctionPointer ModuleEntry(const QString& file, const char* entry, const QString& what)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    QString reason = QStringLiteral("%1 is missing").arg(file);
    for (const QString& dir : {programDir + QStringLiteral("/" TIRVANE_MODULE_DIR), programDir}) {
        const QString path = dir + QLatin1Char('/') + file;
        if (!QFileInfo::exists(path))
            continue;
        QLibrary module(path);
        if (const QFunctionPointer found = module.resolve(entry))
            return found;
        reason = module.errorString();
    }
    throw std::runtime_error(QStringLiteral("%1 could not be loaded: %2").arg(what, reason).toStdString());
}

} // namespace

THistoryWindowMade MakeHistoryWindow(const QString& storePath, QWidget* parent, const QString& settingsFile)
{
    static THistoryWindowMaker maker = nullptr;
    if (maker == nullptr) {
        using TEntry = THistoryWindowMaker (*)();
        maker = reinterpret_cast<TEntry>(ModuleEntry(QStringLiteral("tirvane-history.so"), HistoryModuleEntry,
            QStringLiteral("The History window")))();
    }
    return maker(storePath, parent, settingsFile);
}

const TPrintingCommands& PrintingCommands()
{
    static const TPrintingCommands* commands = nullptr;
    if (commands == nullptr) {
        using TEntry = const TPrintingCommands* (*)();
        commands = reinterpret_cast<TEntry>(ModuleEntry(QStringLiteral("tirvane-printing.so"), PrintingModuleEntry,
            QStringLiteral("Printing")))();
    }
    return *commands;
}
