// The router families the monitor speaks to, and for the three that share
// one way of reading (a session, a list of commands, one reply each) the
// commands themselves and what each reply is for.
#pragma once

#include <QString>

#include <array>
#include <optional>
#include <span>
#include <string>

enum class TRouterFamily { Zyxel, Broadcom, Lantiq, Draytek };

struct TRouterFamilyRow {
    TRouterFamily Family;
    const char* Name;    // on the command line and in the settings: "broadcom"
    const char* Caption; // in the Router menu: "Broadcom (xdslctl)"
    const char* User;    // logged in as when the Username box is empty
};

inline constexpr std::array<TRouterFamilyRow, 4> RouterFamilies = {{
    {TRouterFamily::Zyxel, "zyxel", "ZyXEL P-660HW-T1", ""},
    {TRouterFamily::Broadcom, "broadcom", "Broadcom (xdslctl)", "root"},
    {TRouterFamily::Lantiq, "lantiq", "Lantiq (dsl_cpe_pipe)", "root"},
    {TRouterFamily::Draytek, "draytek", "DrayTek Vigor", "admin"},
}};

const TRouterFamilyRow& RouterFamilyRow(TRouterFamily family);
QString RouterFamilyName(TRouterFamily family);
std::optional<TRouterFamily> RouterFamilyFromName(const QString& name);
// "zyxel, broadcom, lantiq or draytek", for help and error texts.
QString RouterFamilyNames();

// What a reply is read for.
enum class TReplyRole {
    State, Mode, Profile, BitsUp, BitsDown, BitsBoth, BandsUp, BandsDown, BandsBoth,
    // The line's figures and counters; a family that prints them in several
    // replies takes as many roles as it needs.
    Figures, FiguresUp, FiguresDown, CountersUp, CountersDown, Retrains, RetrainsUp, RetrainsDown,
    RateUp, RateDown, FiguresMore,
    // Errored, severely errored and unavailable seconds, where a family
    // prints them in replies of their own.
    SecondsUp, SecondsDown,
    // Per-tone quantities.
    SnrUp, SnrDown, SnrBoth, QlnUp, QlnDown, QlnBoth, HlogUp, HlogDown, HlogBoth,
    // The software's version, where the commands' arguments depend on it.
    Version,
};

// When a command is sent: always; only when the line's figures are asked
// for; only when the line has (re)trained since QLN and Hlog were last read
// (they are measured at training, so reading them each cycle costs the router
// for nothing).
enum class TCommandWhen { Always, Figures, Training };

struct TFamilyCommand {
    TReplyRole Role;
    const char* Command;
    TCommandWhen When = TCommandWhen::Always;
    // Sent instead when the Version reply names an older software that takes
    // the arguments in another order; none: the same for every version.
    const char* OlderApi = nullptr;
};

// The commands a cycle sends to a family's command prompt, in order; empty
// for ZyXEL, whose dialogue is its own.
std::span<const TFamilyCommand> FamilyCommands(TRouterFamily family);
