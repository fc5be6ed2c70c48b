// The bit-loading chart widget: one bar series on a bottom (tones) and a
// left (bits) axis, drawn by one routine into any painter. The chart owns its
// four axes and its series; the main window owns the chart. Changes to bars
// or axes only mark the chart for repainting, so a cycle that appends 513
// bars costs one drawing.
#pragma once

#include "chart/chart21_settings.h"
#include "chart/chart_engine.h"
#include "chart/chart_layout.h"
#include "chart/chart_panel.h"
#include "chart/series.h"

#include <memory>

class QEvent;
class QMouseEvent;

// The fonts a drawing uses, with their measures; built once and kept while
// the font settings stay the same.
class TChartFontCache {
public:
    const TFontMeasure& Get(const TChartFont& font);

private:
    TChartFont FKey;
    std::unique_ptr<TFontMeasure> FMeasure;
};

// The axis fonts painting writes with.
struct TChartPaintFonts {
    const TFontMeasure& BottomTitle;
    const TFontMeasure& BottomLabels;
    const TFontMeasure& LeftTitle;
    const TFontMeasure& LeftLabels;
};

class TChart : public TChartPanel {
    Q_OBJECT
public:
    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    TChartAxis& BottomAxis() { return FBottomAxis; }
    TChartAxis& LeftAxis() { return FLeftAxis; }
    TChartAxis& RightAxis() { return FRightAxis; }
    TChartAxis& TopAxis() { return FTopAxis; }
    TBarSeries& Series() { return FSeries; } // LineSeries18
    TChartConfig& Config() { return FConfig; }

    void DrawChart(QPainter& painter, const QRect& rect) override;
    TColor BackColor() const override;

    // The geometry of the last drawing.
    const TChartGeometry& LastGeometry() const { return FGeometry; }

    // A few lines written over the plot area's top left, in every picture of
    // the chart (screen, file, clipboard, paper): the window says there why
    // its last reading failed. Empty: nothing is written.
    void SetNotice(const QString& text);
    const QString& Notice() const { return FNotice; }

    // A line written across the middle of the plot, in every picture of the
    // chart: the window says there that the line has none of the quantity
    // shown, so an empty plot is never taken for a dead line. Empty: none.
    void SetEmptyNote(const QString& text);
    const QString& EmptyNote() const { return FEmptyNote; }

    // While stored settings load, the axes skip their Maximum check.
    void BeginLoading();
    void EndLoading();

signals:
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void MouseLeave();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void RequestRepaint();

    TChartConfig FConfig;
    TChartAxis FBottomAxis{true};
    TChartAxis FLeftAxis{false};
    TChartAxis FRightAxis{false};
    TChartAxis FTopAxis{true};
    TBarSeries FSeries;
    QString FNotice;
    QString FEmptyNote;
    TChartGeometry FGeometry;
    QCursor FInitialCursor;
    TChartFontCache FChartTitleFont;
    TChartFontCache FBottomTitleFont;
    TChartFontCache FBottomLabelsFont;
    TChartFontCache FLeftTitleFont;
    TChartFontCache FLeftLabelsFont;
};

// Applies every stored setting of the main window's chart (chart21_settings.h)
// to the widget, and repaints it once.
void LoadChart21Settings(TChart& chart);

// Paints a computed geometry: panel, walls, axes, labels, ticks, grid and
// bars. Shared by the chart and by anything that must draw exactly the same.
void PaintChart(QPainter& painter, const TChartGeometry& geometry, const TChartConfig& config,
                const TChartAxis& bottomAxis, const TChartAxis& leftAxis,
                const TBarSeries& series, const TChartPaintFonts& fonts);

// Writes `text` inside `plot`, from its top left, on a box of the wall's
// colour so that bars behind it do not hide it; lines too long are wrapped.
// Returns the box it filled (empty when there was no text).
QRect PaintNotice(QPainter& painter, const TWinRect& plot, const QString& text, const QFont& font);

// Writes `text` centred in `plot` on a box of the wall's colour, in grey:
// a plain statement, not a warning. Returns the box (empty without text).
QRect PaintEmptyNote(QPainter& painter, const TWinRect& plot, const QString& text, const QFont& font);
