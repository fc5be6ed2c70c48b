// The line's tone plan: how many tones the modem loads, how far apart they
// are, how many symbols a second it sends, which tones carry the upstream,
// and the three ranges the window and the reader offer. Every other file
// takes these from here, so a line of another plan changes this file.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

constexpr int ZyxelToneCount = 513; // tones 0 to 512
constexpr int ZyxelLastTone = ZyxelToneCount - 1;

// Tone spacing of the line, kHz.
constexpr float ZyxelToneSpacingKHz = 4.3125f;


// Upstream tones are 0 to 31; downstream tones the rest.
constexpr int ZyxelUpstreamToneCount = 32;
// Tones below this one are upstream (the bars the window draws green).
constexpr int ZyxelFirstDownstreamTone = ZyxelUpstreamToneCount;

// A run of tones one direction uses, both ends included.
struct TToneBand {
    int First = 0;
    int Last = 0;
    bool operator==(const TToneBand&) const = default;
};

// The direction a tone carries by the line's band plan.
enum class TToneDirection { Upstream, Downstream, Neither };

// Bits per symbol a line carries each way.
struct TDirectionBits {
    int Upstream = 0;
    int Downstream = 0;
    bool operator==(const TDirectionBits&) const = default;
};

// No tone carries more than this many bits; a larger value counts as this.
constexpr int MostBitsPerTone = 15;

// Which tones carry each direction; a VDSL2 plan has several bands a side.
struct TBandPlan {
    std::vector<TToneBand> Upstream;
    std::vector<TToneBand> Downstream;
    bool operator==(const TBandPlan&) const = default;

    // By the bands alone: a tone in neither direction's bands is Neither,
    // whatever bits it holds.
    TToneDirection DirectionOf(int tone) const;
    // The bits of every tone (from tone 0) summed by DirectionOf: a tone in
    // neither direction counts in neither. Every per-direction sum of the
    // program is this one.
    TDirectionBits BitsPerDirection(const std::vector<std::uint8_t>& bits) const;
};

// Each tone's direction by one plan, looked up rather than searched band by
// band: a line's plan stays the same reading after reading, so the table is
// made once per plan, not at every tone of every reading.
class TToneDirections {
public:
    TToneDirections() = default;
    TToneDirections(const TBandPlan& bands, int tones) { Follow(bands, tones); }
    // Made again only when the plan or the tone count differ from the table's.
    void Follow(const TBandPlan& bands, int tones);
    int Count() const { return int(FDirections.size()); }
    // Neither past the table's tones.
    TToneDirection operator[](int tone) const
    {
        return tone >= 0 && tone < Count() ? FDirections[std::size_t(tone)] : TToneDirection::Neither;
    }
    const std::vector<TToneDirection>& All() const { return FDirections; }

private:
    TBandPlan FBands;
    std::vector<TToneDirection> FDirections;
};

// The symbols a second a line sends at its tone spacing: 4,000 at 4.3125 kHz,
// 8,000 at 8.625 kHz (a symbol lasts as long as one period of the spacing,
// less the cyclic extension).
int SymbolRate(double spacingKHz);
// kbit/s of bits per symbol on a line of that spacing.
double LineRateKbps(int bitsPerSymbol, double spacingKHz);

// The ZyXEL line's plan: upstream tones 0 to 31, downstream 32 to 512.
TBandPlan ZyxelBandPlan();

// The three range choices, in the order of the window's radio buttons.
enum class TRangeChoice { rc0To255, rc256To512, rc0To512 };

struct TRangePlan {
    TRangeChoice Choice;
    int FirstTone;
    int LastTone;
};

// The lower half ends where the upper half begins.
constexpr int FirstUpperHalfTone = 256;

inline constexpr std::array<TRangePlan, 3> ToneRanges = {{
    {TRangeChoice::rc0To255, 0, FirstUpperHalfTone - 1},
    {TRangeChoice::rc256To512, FirstUpperHalfTone, ZyxelLastTone},
    {TRangeChoice::rc0To512, 0, ZyxelLastTone},
}};

const TRangePlan& RangePlan(TRangeChoice range);

// The text that names a range choice on the command line and in the
// settings file: "0-255", "256-512", "0-512".
QString RangeChoiceText(TRangeChoice range);
std::optional<TRangeChoice> RangeChoiceFromText(const QString& text);
// All three names for a help or error text: "0-255, 256-512 or 0-512".
QString RangeChoicesText();
// The range on a line whose last tone is lastTone: its lower half, its upper
// half (from tone (lastTone + 1) / 2 on) or all of it. Today's line gives
// the plans above: 0 - 255, 256 - 512, 0 - 512.
TRangePlan LineRange(TRangeChoice range, int lastTone);
// The caption of the range's radio button on such a line: "0 - 255".
QString RangeCaption(TRangeChoice range, int lastTone = ZyxelLastTone);
