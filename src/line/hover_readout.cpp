#include "line/hover_readout.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

THoverTexts HoverTexts(int index, int toneOffset, double bits, double spacingKHz)
{
    if (index < 0)
        return {QStringLiteral("Tone number:"), QStringLiteral("Frequency:"), QStringLiteral("Bits:")};
    const int tone = index + toneOffset;
    return {QStringLiteral("Tone number:   ") + QString::number(tone),
            QStringLiteral("Frequency:       ") + ToneFrequencyText(tone, spacingKHz) + QStringLiteral(" KHz"),
            QStringLiteral("Bits:                  ") + FormatGeneral(bits)};
}

QString ToneFrequencyText(int tone)
{
    return FormatGeneral(static_cast<long double>(tone) * ZyxelToneSpacingKHz);
}

QString ToneFrequencyText(int tone, double spacingKHz)
{
    return FormatGeneral(static_cast<long double>(tone) * spacingKHz);
}

QString FormatGeneral(long double v)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (v == 0)
        return QStringLiteral("0");

    constexpr int precision = 15;
    // Fifteen significant digits, rounded once, as "d.dddddddddddddde+X".
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*Le", precision - 1, v);
    const std::string text(buffer);
    const std::size_t e = text.find('e');
    const int exponent = std::atoi(text.c_str() + e + 1);
    std::string digits;
    bool negative = false;
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] == '-')
            negative = true;
        else if (text[i] >= '0' && text[i] <= '9')
            digits += text[i];
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const QString point = QLocale().decimalPoint();
    QString out = negative ? QStringLiteral("-") : QString();
    const int count = int(digits.size());
    if (exponent >= precision || exponent < -5) {
        // Too large or too small for plain digits: d.dddE+X.
        out += QChar(digits[0]);
        if (count > 1)
            out += point + QString::fromLatin1(digits.c_str() + 1);
        out += QStringLiteral("E") + (exponent < 0 ? QStringLiteral("-") : QString())
               + QString::number(std::abs(exponent));
        return out;
    }
    if (exponent < 0) {
        out += QStringLiteral("0") + point + QString(-exponent - 1, QLatin1Char('0'))
               + QString::fromLatin1(digits.c_str());
        return out;
    }
    const int whole = exponent + 1;
    if (count <= whole) {
        out += QString::fromLatin1(digits.c_str()) + QString(whole - count, QLatin1Char('0'));
    } else {
        out += QString::fromLatin1(digits.c_str(), whole) + point
               + QString::fromLatin1(digits.c_str() + whole);
    }
    return out;
}
