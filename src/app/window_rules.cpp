#include "app/window_rules.h"

#include <algorithm>

std::optional<TToneRange> SelectedToneRange(bool rb1, bool rb2, bool rb3)
{
    std::optional<TToneRange> range;
    const bool selected[] = {rb1, rb2, rb3};
    for (std::size_t i = 0; i < ToneRanges.size(); ++i) {
        const TRangePlan& plan = ToneRanges[i];
        if (selected[i])
            range = TToneRange{plan.FirstTone, plan.LastTone, double(plan.LastTone - plan.FirstTone)};
    }
    return range;
}

namespace {

std::optional<TToneRange> LineRange(TRangeChoice choice, int toneCount)
{
    if (toneCount <= ZyxelToneCount) {
        const TRangePlan& plan = RangePlan(choice);
        const int last = std::min(plan.LastTone, toneCount - 1);
        if (plan.FirstTone > last)
            return std::nullopt;
        return TToneRange{plan.FirstTone, last, double(last - plan.FirstTone)};
    }
    const int half = toneCount / 2;
    const int first = choice == TRangeChoice::rc256To512 ? half : 0;
    const int last = choice == TRangeChoice::rc0To255 ? half - 1 : toneCount - 1;
    return TToneRange{first, last, double(last - first)};
}

} // namespace

std::optional<TToneRange> SelectedLineRange(bool rb1, bool rb2, bool rb3, int toneCount)
{
    std::optional<TToneRange> range;
    const std::pair<bool, TRangeChoice> buttons[] = {
        {rb1, TRangeChoice::rc0To255}, {rb2, TRangeChoice::rc256To512}, {rb3, TRangeChoice::rc0To512}};
    for (const auto& [checked, choice] : buttons)
        if (checked)
            range = LineRange(choice, toneCount);
    return range;
}

QString LineRangeCaption(TRangeChoice range, int toneCount)
{
    if (toneCount <= ZyxelToneCount)
        return RangeCaption(range);
    const auto tones = LineRange(range, toneCount);
    return QStringLiteral("%1 - %2").arg(tones->FirstTone).arg(tones->LastTone);
}

int ToneOffset(bool rb1, bool rb2, bool rb3)
{
    const auto range = SelectedToneRange(rb1, rb2, rb3);
    return range ? range->FirstTone : 0;
}

int HelpWindowLeft(int mainLeft, int mainOuterWidth)
{
    // Whole-number halving, truncated toward zero as C++ division does.
    return mainLeft + mainOuterWidth / 2 - 190;
}

int HelpWindowTop(int mainTop)
{
    return mainTop + 100;
}

QString WithFullStop(const QString& text)
{
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        return text + u'.';
    return text;
}

std::string ToWireBytes(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

QString AboutText()
{
    // LF then CR between the two lines, as the box has always shown it.
    return QStringLiteral("Simple Tirvane for the ZyXEL P-660HW-T1") + QStringLiteral("\n\r")
        + QString::fromUtf8(CreditLine);
}

QPoint PlaceOnScreen(const QRect& frame, const QRect& available)
{
    if (available.isEmpty() || available.contains(frame))
        return frame.topLeft();
    // Right and bottom edges first, then left and top, so a frame too large
    // for the area ends with its top-left corner on it.
    int left = std::min(frame.left(), available.right() + 1 - frame.width());
    int top = std::min(frame.top(), available.bottom() + 1 - frame.height());
    left = std::max(left, available.left());
    top = std::max(top, available.top());
    return {left, top};
}

QString RouterWindowCaption(TRouterFamily family)
{
    if (family == TRouterFamily::Zyxel)
        return QString::fromLatin1(WindowCaption);
    const QString caption = QString::fromLatin1(RouterFamilyRow(family).Caption);
    return caption.section(QLatin1Char(' '), 0, 0) + QStringLiteral(" ") + QString::fromLatin1(ApplicationTitle);
}
