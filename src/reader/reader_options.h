// tirvane-read's command line, parsed into what one run does. No password
// here: it never travels on the command line, where every user can read it.
#pragma once

#include "line/output_formats.h"
#include "line/router_family.h"
#include "line/tone_plan.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

struct TReaderOptions {
    // Reading the line.
    QString Host;
    TRouterFamily Router = TRouterFamily::Zyxel;
    QString Username;
    QString Prompt = QStringLiteral(">");
    int Port = 23;
    QString PasswordFile;
    int IntervalSeconds = 0;
    int Count = 1; // 0: until stopped
    bool Record = false;
    bool ReadFigures = false; // the commands that give the line's figures too

    // Both.
    TToneSpan Span;
    // The range asked for; on lines of other lengths it is the lower half,
    // the upper half or all of the line, as the window's buttons are.
    std::optional<TRangeChoice> Range;
    std::optional<TOutputFormat> Format; // none: table on a terminal, csv otherwise
    TToneQuantity Quantity = TToneQuantity::Bits; // what a CSV row holds per tone
    QString HistoryPath;                 // empty: the user's own store
    QString OutputPath;                  // empty: standard output

    // Printing the store instead.
    bool Export = false;
    bool Events = false; // the events of the period instead of its readings
    std::int64_t SinceMs = 0;
    std::int64_t UntilMs = INT64_MAX;
    QString ExportHost; // empty: every host
    QString ExportLine; // a line of the recorder's configuration instead of a host
};

struct TReaderHelp {
    QString Text;
};
struct TReaderVersion {};
struct TReaderUsageError {
    QString Text;
};

using TReaderCommand = std::variant<TReaderOptions, TReaderHelp, TReaderVersion, TReaderUsageError>;

// arguments as QCoreApplication::arguments() gives them, program name first.
TReaderCommand ParseReaderOptions(const QStringList& arguments);
