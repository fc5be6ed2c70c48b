#include "chart/chart_engine.h"

#include <algorithm>
#include <climits>
#include <cmath>

int Nearest(double x)
{
    // The program never leaves the default rounding mode, round to nearest
    // with ties to even, which is exactly the rounding wanted here.
    const double r = std::nearbyint(x);
    if (!(r >= double(INT_MIN) && r <= double(INT_MAX)))
        return r < 0 ? INT_MIN : INT_MAX;
    return int(r);
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return 0;
    const long long p = static_cast<long long>(a) * b;
    long long q = p / c;
    const long long rem = p % c;
    // Halves go away from zero.
    if (2 * std::llabs(rem) >= std::llabs(static_cast<long long>(c)))
        q += ((p < 0) != (c < 0)) ? -1 : 1;
    return int(std::clamp<long long>(q, INT_MIN, INT_MAX));
}

QFont TChartFont::ToQFont() const
{
    QFont font(Name);
    // Points at the screen's 96 pixels per inch; pixel sizes keep every
    // target (image, SVG, printer under a scaled painter) at the same layout.
    font.setPixelSize(std::max(1, MulDiv(Size, 96, 72)));
    font.setBold(Bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

int TAxisScale::ValueToPixel(double value) const
{
    const double range = Range();
    if (range == 0.0)
        return Centre();
    const double t = (value - Minimum) * Length() / range;
    if (!(std::fabs(t) < 2147483647.0))
        return Centre();
    // The pixel itself may still leave int for an axis placed far out; the
    // sum is done wide and kept at the int edge.
    const long long n = Nearest(t);
    const long long pixel = Horizontal ? StartPixel + n : EndPixel - n;
    if (pixel > INT_MAX)
        return INT_MAX;
    if (pixel < INT_MIN)
        return INT_MIN;
    return int(pixel);
}

double TAxisScale::PixelToValue(int pixel) const
{
    const int length = Length();
    if (length < 1)
        return 0.0;
    const double offset = double(pixel - StartPixel) * Range() / length;
    return Horizontal ? Minimum + offset : Maximum - offset;
}

TChartAxis::TChartAxis(bool horizontal) : FHorizontal(horizontal) {}

void TChartAxis::Changed() const
{
    if (OnChange)
        OnChange();
}

void TChartAxis::SetMinimum(double value)
{
    if (value == FMinimum)
        return;
    FMinimum = value;
    Changed();
}

void TChartAxis::SetMaximum(double value)
{
    if (!Loading && value < FMinimum)
        throw AxisException("Axis Maximum Value must be >= Minimum");
    if (value == FMaximum)
        return;
    FMaximum = value;
    Changed();
}

void TChartConfig::SetMaxPointsPerPage(int value)
{
    if (value < 0)
        throw ChartException("MaxPointsPerPage must be >= 0");
    FMaxPointsPerPage = value;
}
