// The texts of the hover read-out: tone number, frequency and bits of the bar
// under the pointer, or the bare captions when there is none. Widget-free so
// the main window's handler only has to put them on its labels.
#pragma once

#include "line/tone_plan.h"

#include <QString>

struct THoverTexts {
    QString Tone;
    QString Frequency;
    QString Bits;
};

// The frequency of a tone in kHz as the read-out writes it ("142.3125").
QString ToneFrequencyText(int tone);
// The same at a line's own spacing (8.625 kHz on 30a lines).
QString ToneFrequencyText(int tone, double spacingKHz);

// The texts for bar `index` of a range whose bar 0 is tone `toneOffset`
// (ToneOffset in window_rules.h); index -1 gives the bare captions.
// The frequency is at the line's spacing, today's 4.3125 kHz unless given.
THoverTexts HoverTexts(int index, int toneOffset, double bits, double spacingKHz = ZyxelToneSpacingKHz);

// General number form: at most 15 significant digits, no trailing zeros, no
// thousands separators, the locale's decimal separator; scientific only for
// very large or very small magnitudes.
QString FormatGeneral(long double v);
