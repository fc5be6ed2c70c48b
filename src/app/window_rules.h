// The monitor's small rules that need no widget: which tones a range choice
// plots and where the read-out's tone numbers start, where the help window
// opens, how an error text is finished for its
// message box, and how typed text becomes bytes on the wire. The windows
// call these; the tests check them as tables.
#pragma once

#include "line/router_family.h"
#include "line/tone_plan.h"

#include <QRect>
#include <QString>

#include <optional>
#include <string>

// One of the three range choices: the tones it plots and the bottom-axis
// maximum it sets. Bars stand at X = 0, 1, 2, ... so the maximum is the X of
// the range's last bar, not its tone number.
struct TToneRange {
    int FirstTone;
    int LastTone;
    double AxisMaximum;
};

// The range of the selected choice. The buttons are looked at in the order
// rb1, rb2, rb3, each by itself, so should two ever be selected the later
// one wins; none selected gives no range.
std::optional<TToneRange> SelectedToneRange(bool rb1, bool rb2, bool rb3);

// The same for a line of `toneCount` tones: its lower half, upper half and
// all of it, up to the line's last tone (today's 513 tones: the designed
// ranges; an ADSL2+ line of 512: 256 to 511).
std::optional<TToneRange> SelectedLineRange(bool rb1, bool rb2, bool rb3, int toneCount);
// The caption of a range button for a line of `toneCount` tones: its tones
// ("256 - 511", "2048 - 4095"); the designed one for today's line.
QString LineRangeCaption(TRangeChoice range, int toneCount);

// The tone of bar 0 for the read-out: the selected range's first tone, 0
// when none is selected.
int ToneOffset(bool rb1, bool rb2, bool rb3);

// The help window opens half the main window's outer width to the right of
// its left edge, less 190, and 100 pixels below its top.
int HelpWindowLeft(int mainLeft, int mainOuterWidth);
int HelpWindowTop(int mainTop);

// Where a window whose outer frame is `frame` opens on a screen whose
// available area (less panels and docks) is `available`: where it stands when
// it fits there whole, otherwise moved by the least amount that brings it
// in; a frame larger than the area keeps its top-left corner on it, so the
// caption can always be grabbed. Returns the frame's new top-left corner.
QPoint PlaceOnScreen(const QRect& frame, const QRect& available);

// An error text as the error box shows it: a full stop is appended when the
// last character sorts after "." (so "Failed" gets one, "Failed." and
// "Failed!" do not).
QString WithFullStop(const QString& text);

// Text from an edit box as bytes, one byte per character (Latin-1), so what
// is typed goes out unchanged.
std::string ToWireBytes(const QString& text);

// Texts the monitor shows.
inline constexpr char WindowCaption[] = "ZyXEL Tirvane";
inline constexpr char ApplicationTitle[] = "Tirvane";
inline constexpr char CreditLine[] = "Tirvane \u2014 bit loading at a glance";
inline constexpr char PasswordRequired[] = "Password required!";
// The Prompt box as designed: the ZyXEL's prompt.
inline constexpr char DesignedPrompt[] = ">";
QString AboutText();
// The window's caption for the router family chosen: "ZyXEL Tirvane" as
// designed, "Broadcom Tirvane", "Lantiq Tirvane", "DrayTek Tirvane".
QString RouterWindowCaption(TRouterFamily family);
