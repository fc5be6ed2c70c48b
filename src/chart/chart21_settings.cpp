#include "chart/chart21_settings.h"

namespace {

// An axis that keeps the range it is given whatever the data. The minimum
// goes first, so the maximum is checked against the new range.
void SetFixedRange(TChartAxis& axis, double minimum, double maximum)
{
    axis.Automatic = false;
    axis.AutomaticMaximum = false;
    axis.AutomaticMinimum = false;
    axis.SetMinimum(minimum);
    axis.SetMaximum(maximum);
}

} // namespace

void LoadChart21Settings(const TChartParts& chart)
{
    for (TChartAxis* axis : {&chart.Bottom, &chart.Left, &chart.Right, &chart.Top})
        axis->Loading = true;

    TChartConfig& c = chart.Config;
    c.Color = clWhite;
    c.BevelInner = bvLowered;
    c.BevelOuter = bvRaised;
    c.BevelWidth = 1;
    c.BackWallColor = clWhite;
    c.BackWallBrushColor = clWhite;
    c.BackWallPen = TChartPen{};
    c.View3D = false;
    c.Chart3DPercent = 1;
    c.Perspective = 0;
    c.TitleVisible = true;
    c.TitleText = QStringList{QString()};
    c.TitleAdjustFrame = false;
    c.LegendVisible = false;
    c.LegendAlignment = laLeft;
    c.LegendTopPos = 11;
    c.LegendFont.Color = clRed;
    c.AllowZoom = false;
    c.AllowPanning = pmNone;
    c.MarginLeft = 3;
    c.MarginTop = 0;
    c.MarginRight = 1;
    c.MarginBottom = 0;
    c.SetMaxPointsPerPage(255);
    c.ScaleLastPage = false;
    c.ShowHint = false;
    c.ParentShowHint = false;

    const TColor gridGrey = 0xE5E5E5; // RGB(229,229,229)
    const TChartPen solidGrid{true, gridGrey, 1, psSolid};
    const TChartPen noAxisLine{false, clBlack, 1, psSolid};

    TChartAxis& bottom = chart.Bottom;
    SetFixedRange(bottom, Chart21FirstTone, 512);
    bottom.TitleCaption = QStringLiteral("Tones");
    bottom.LabelStyle = talText;
    bottom.LabelsAngle = 90;
    bottom.LabelsSize = 29;
    bottom.LabelsSeparation = 10;
    bottom.RoundFirstLabel = false;
    bottom.Increment = 5;
    bottom.Grid = solidGrid;
    bottom.Axis = noAxisLine;
    bottom.TickLength = 2;
    bottom.TicksInner.Visible = false;
    bottom.MinorTickCount = 4;
    bottom.MinorTickLength = 2;
    bottom.StartPosition = 2;
    bottom.EndPosition = 98;

    TChartAxis& left = chart.Left;
    SetFixedRange(left, Chart21BitsMinimum, Chart21BitsMaximum);
    left.TitleCaption = QString::fromLatin1(Chart21BitsTitle);
    left.TitleAngle = 90;
    left.LabelStyle = talAuto;
    left.RoundFirstLabel = true;
    left.AxisValuesFormat = QStringLiteral("#,##0.###");
    left.Grid = solidGrid;
    left.Axis = noAxisLine;
    left.TickLength = 4;
    left.TicksInner.Visible = false;
    left.MinorTickCount = 3;
    left.StartPosition = 1;
    left.EndPosition = 98;

    TChartAxis& right = chart.Right;
    SetFixedRange(right, -0.5, 64);
    right.TitleCaption = QStringLiteral("SNR");
    right.TitleFont.Color = clRed;
    right.LabelsFont.Color = clRed;
    right.LabelsSeparation = 1;
    right.Grid = TChartPen{false, gridGrey, 1, psDash};

    TBarSeries& s = chart.Series;
    s.BarWidthPercent = 40;
    s.OffsetPercent = 20;
    s.MultiBar = mbNone;
    s.BarPen = TChartPen{false, clWhite, 8, psSolid};
    s.BarBrushColor = clWhite;
    s.MarksVisible = false;
    s.MarksStyle = smsValue;
    s.MarksArrowLength = 8;
    s.MarksTransparent = true;
    s.SeriesColor = 0xFF8000; // RGB(0,128,255)
    s.BarStyle = bsRectangle;
    s.UseYOrigin = true;
    s.YOrigin = 0;
    s.SideMargins = true;
    s.AutoBarSize = false;
    s.CustomBarWidth = 0;
    s.Active = true;
    s.ColorEachPoint = false;

    for (TChartAxis* axis : {&chart.Bottom, &chart.Left, &chart.Right, &chart.Top})
        axis->Loading = false;
}
