// What the monitor's window starts with: the Host, Username and Prompt boxes
// and the range choice, as remembered from the last run and as the command
// line overrides them, and whether a cycle runs at once. Widget-free: the
// command line is read before any application object or window exists, so a
// usage error or --help never needs a display.
#pragma once

#include "line/router_family.h"
#include "line/tone_plan.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The fields a user types into the window and gets back at the next start.
// The defaults are the window as it was designed. The password is not one of
// them: it is never written anywhere.
struct TStartFields {
    QString Host = QStringLiteral("192.168.1.1");
    QString Username;
    QString Prompt = QStringLiteral(">");
    TRangeChoice Range = TRangeChoice::rc0To255;
    TRouterFamily Router = TRouterFamily::Zyxel; // the Router menu's choice

    bool operator==(const TStartFields&) const = default;
};

// Longer than any host name can be; a longer field is a mistake, not input.
inline constexpr int MaxFieldLength = 255;

// What the command line asks for. Fields it does not name stay as they were
// remembered.
struct TStartOptions {
    std::optional<QString> Host;
    std::optional<QString> Username;
    std::optional<QString> Prompt;
    std::optional<TRangeChoice> Range;
    std::optional<TRouterFamily> Router;
    std::optional<int> Port; // goes into the Host box as host:port
    bool Plot = false;
    QString Password; // from TIRVANE_PASSWORD, and only with Plot
    bool Figures = false; // --figures: cycles read the line's figures this run
};

// --report: a line report written without a window, for a scheduled job.
struct TReportRequest {
    QString Path;
    std::int64_t SinceMs = 0; // default: 30 days before UntilMs
    std::int64_t UntilMs = 0; // default: now
    QString Host;             // empty: the first host of the history
    QString Line;             // a line of the recorder's configuration instead of Host
};

// The remembered fields with the command line's fields put over them.
TStartFields WithOptions(TStartFields fields, const TStartOptions& options);

// The outcome of reading the command line: start the window, or end at once
// with an exit status and a text for standard output (--help, --version,
// status 0) or standard error (a usage error, status 2).
struct TCommandLine {
    bool Start = false;
    int ExitStatus = 0;
    QString Text;
    TStartOptions Options;
    std::optional<TReportRequest> Report; // with Start false and status 0
};

inline constexpr int UsageErrorStatus = 2;

// Reads the program's arguments (the first is the program itself). The
// password for --plot comes from the environment, never from the command
// line: other users can read a command line, not an environment.
TCommandLine ParseCommandLine(const QStringList& arguments, const QString& passwordFromEnvironment);

// The remembered settings: tirvane/tirvane.conf in the user's configuration
// folder.
QString SettingsFilePath();

// The fields a settings file holds. A file that is missing, unreadable or
// holds nonsense never fails the start: each field it cannot give sensibly
// keeps its designed default.
TStartFields ReadStartFields(const QString& settingsFile);

// Writes the fields (never a password); false when the file could not be
// written.
bool WriteStartFields(const QString& settingsFile, const TStartFields& fields);

// Whether the monitor tells the desktop of new line events: on unless
// turned off.
bool ReadNotifyEvents(const QString& settingsFile);
bool WriteNotifyEvents(const QString& settingsFile, bool on);

// The chart's quantity as the settings file names it ("bits", "snr", "qln",
// "hlog"); empty when none was chosen, the window then shows bits.
QString ReadChartQuantity(const QString& settingsFile);
bool WriteChartQuantity(const QString& settingsFile, const QString& quantity);

// Whether cycles read the line's figures: off unless turned on.
bool ReadLineFigures(const QString& settingsFile);
bool WriteLineFigures(const QString& settingsFile, bool on);
