// What a family's parser makes of a cycle's replies: the line with its tone
// count, spacing, bits per tone and band plan, or the plain reason it is not
// a reading. Shared by the three parsers, so each says only what its router
// prints.
#pragma once

#include "line/line_figures.h"
#include "line/router_family.h"
#include "line/tone_plan.h"
#include "line/tone_values.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The replies of one cycle, by what each was asked for.
using TFamilyReplies = std::map<TReplyRole, std::string>;

struct TParsedLine {
    QString Failure; // empty: a reading
    QString Mode;    // "ADSL2+", "VDSL2 17a"
    QString State;   // as the router put it: "Showtime", "0x801", "SHOWTIME"
    bool LineDown = false; // the router said the line is not in showtime
    int ToneCount = 0;
    double SpacingKHz = 0;
    std::vector<std::uint8_t> Bits; // ZyxelToneCount of them
    TBandPlan Bands;
    // What the replies said of the line besides its bits; kept also when the
    // line is not a reading (a line down still has its state and counters).
    TLineFigures Figures;
    TToneSpectra Spectra;

    bool Ok() const { return Failure.isEmpty(); }
};

// The tones and spacing a mode uses: "ADSL2+" 512 at 4.3125 kHz, "VDSL2 30a"
// 3479 at 8.625 kHz, "VDSL2 35b" 8192. None for a mode not known.
struct TLinePlan {
    int ToneCount;
    double SpacingKHz;
};
std::optional<TLinePlan> LinePlanForMode(const QString& mode);

// "VDSL2 " + the profile, lower case ("17a"), when the text names one of
// the VDSL2 profiles; a profile ending "BrcmPriv1" is 35b.
std::optional<QString> VdslModeFromProfile(const QString& text);

// "ADSL2+", "ADSL2" or "ADSL" for a text naming one of them or its
// standard (G.992.5, G.992.3, G.992.1); empty for anything else.
QString AdslModeFromText(const QString& text);
// A VDSL2 profile or an ADSL mode, whichever the text names.
QString ModeFromText(const QString& text);

// The annex A band plan an ADSL line has when the router reports none,
// which is what they print outside VDSL: upstream 6 to 31, downstream to
// the line's last tone.
TBandPlan AdslDefaultBandPlan(int toneCount);

// Builds a line tone by tone: values for tones outside the line and bit
// counts outside 0 to 15 are dropped, never written.
class TLineBuilder {
public:
    // Where a reply's values go: upstream, downstream, or by band plan.
    enum class TDirection { Up, Down, Both };

    void SetMode(const QString& mode) { FLine.Mode = mode; }
    void SetState(const QString& state, bool showtime);
    void Put(TDirection direction, long long tone, long long bits);
    void AddBand(TDirection direction, long long first, long long last);
    // A reply that said it failed, or something else that ends the reading.
    void Fail(const QString& reason);
    // When no band plan came and the mode is ADSL, the annex default.
    void AllowAdslDefaultBands() { FAdslDefault = true; }

    // The line, or the first reason it is none: failure, not in showtime,
    // no mode, no bits, no band plan.
    TParsedLine Finish();

private:
    TParsedLine FLine;
    std::optional<bool> FShowtime;
    bool FAdslDefault = false;
    bool FAnyBits = false;
    // Bits by tone, -1 where the reply said nothing: a line's worth of
    // tones is filled by every reply, so an array beats a tree many times.
    std::vector<std::int8_t> FUp, FDown, FBoth;
    std::vector<TToneBand> FBandsUp, FBandsDown, FBandsBoth;
};

// The lines of a reply, without their CR.
std::vector<std::string_view> ReplyLines(std::string_view text);
// A whole decimal number, or none (no sign, no other characters).
std::optional<long long> WholeNumber(std::string_view text);
// Whitespace-separated fields.
std::vector<std::string_view> Fields(std::string_view text);
