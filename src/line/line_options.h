// The options both programs take on their command line: which router, the
// user name to log in with, how its prompt ends and which tones. The monitor
// and tirvane-read word their help each in their own way and add options of
// their own; the names and what a given value means are stated here once.
#pragma once

#include "line/router_family.h"
#include "line/tone_plan.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

enum class TLineOption { Host, Username, Prompt, Range, Router };

struct TLineOptionRow {
    TLineOption Option;
    const char* Name; // after "--"
};

inline constexpr std::array<TLineOptionRow, 5> LineOptionTable = {{
    {TLineOption::Host, "host"},
    {TLineOption::Username, "username"},
    {TLineOption::Prompt, "prompt"},
    {TLineOption::Range, "range"},
    {TLineOption::Router, "router"},
}};

// A program's help for one option: what it does and what its value is called.
struct TLineOptionHelp {
    QString Description;
    QString ValueName;
};

struct TLineOptionSet {
    QCommandLineOption Host;
    QCommandLineOption Username;
    QCommandLineOption Prompt;
    QCommandLineOption Range;
    QCommandLineOption Router;
};

// The shared options with the program's help, given in the table's order
// (a help left out gives an option without a description).
TLineOptionSet MakeLineOptions(const std::array<TLineOptionHelp, LineOptionTable.size()>& help);

// What the command line gave for the shared options; an option not given
// stays empty. A range text that names none of the three ranges is kept in
// UnknownRange for the program's own error.
struct TLineOptionValues {
    std::optional<QString> Host;
    std::optional<QString> Username;
    std::optional<QString> Prompt;
    std::optional<TRangeChoice> Range;
    std::optional<QString> UnknownRange;
    std::optional<TRouterFamily> Router;
    std::optional<QString> UnknownRouter; // a name of no family, for the program's own error
};

TLineOptionValues ReadLineOptions(const QCommandLineParser& parser, const TLineOptionSet& options);

// The Host box's text as address and telnet port: "router", "router:2323",
// "[::1]:2323" or "[::1]"; a bare IPv6 address ("::1", "fe80::1") is all
// address. A port that is no number from 1 to 65535 makes no port: the
// whole text is the address, and looking it up says what is wrong.
struct THostAndPort {
    QString Host;
    std::optional<int> Port;
};
THostAndPort SplitHostPort(const QString& text);
// The text that splits back into host and port ("[::1]:2323" for an IPv6
// address).
QString JoinHostPort(const QString& host, int port);

// "2026-12-07", "2026-12-07T18:00", "2026-12-07T18:00:00Z", "...+01:00": a
// time without an offset is the local time, a date its first moment.
std::optional<std::int64_t> ParseIsoTime(const QString& text);
