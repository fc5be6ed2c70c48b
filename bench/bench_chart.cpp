// Drawing and hit-test cost of the bit-loading chart.
//
// BM_DrawChart draws the whole chart (layout and painting) with 513 bars,
// and a 4096-tone line whose bars are narrower than a pixel;
// BM_DrawFloor paints the same bars, grid lines and tone labels at fixed
// positions with no layout at all. Their ratio is the price of the layout
// work. BM_HitTest is one mouse move's search for the bar under the pointer.
//
// Run with --png=FILE[:WIDTHxHEIGHT] to write one drawing (696 x 237 unless
// given) instead, for a look.
#include "chart/chart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

QApplication* App = nullptr;

// Plausible bit loading: a few upstream tones, a downstream hump falling off
// with frequency, a notch, and some silent tones.
double BitsForTone(int tone)
{
    if (tone < 6)
        return 0;
    if (tone < 32)
        return 6 + (tone % 5);
    if (tone < 40)
        return 0;
    if (tone > 470)
        return 0;
    const double falloff = 15.0 - (tone - 40) * 0.028;
    const double ripple = std::sin(tone * 0.37) * 1.2;
    if (tone > 180 && tone < 190)
        return 2;
    return std::max(0.0, std::round(falloff + ripple));
}

std::unique_ptr<TChart> MakeChart(int width, int height, int tones = 513)
{
    auto chart = std::make_unique<TChart>();
    LoadChart21Settings(*chart);
    chart->resize(width, height);
    chart->BottomAxis().SetMaximum(tones - 1);
    chart->Series().ClearPoints();
    // A longer line repeats the same shape at its own scale.
    for (int tone = 0; tone < tones; ++tone)
        chart->Series().AppendBar(BitsForTone(tone * 513 / tones), QString::number(tone),
                                  tone < 32 ? clGreen : clBlue);
    return chart;
}

void BM_DrawChart(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    auto chart = MakeChart(width, height, state.range(2));
    QImage image(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        chart->DrawChart(painter, QRect(0, 0, width, height));
    }
}

// The same picture elements at positions worked out once, outside the loop,
// from the chart's own drawing: what painting alone costs.
void BM_DrawFloor(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    auto chart = MakeChart(width, height, state.range(2));
    QImage image(width, height, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        chart->DrawChart(painter, QRect(0, 0, width, height));
    }
    const TChartGeometry g = chart->LastGeometry();
    const TBarSeries& series = chart->Series();
    std::vector<QRect> bars;
    std::vector<QColor> colors;
    const bool binned = series.Count() > g.Plot.Width();
    struct Column {
        int left, top, low, bottom;
        QColor color;
    };
    std::vector<Column> columns;
    for (int i = 0; i < series.Count(); ++i) {
        const TWinRect r = series.BarRectangle(i);
        if (!binned) {
            bars.emplace_back(r.Left, r.Top, std::max(1, r.Right - r.Left - 1), std::max(1, r.Bottom - r.Top - 1));
            colors.push_back(ToQColor(series.ValueColor(i)));
        } else if (!columns.empty() && columns.back().left == r.Left) {
            // A long line's floor: per pixel column its highest tone and a
            // pixel marking its lowest, as drawn.
            if (r.Top < columns.back().top) {
                columns.back().top = r.Top;
                columns.back().color = ToQColor(series.ValueColor(i));
            }
            columns.back().low = std::max(columns.back().low, r.Top);
        } else {
            columns.push_back({r.Left, r.Top, r.Top, r.Bottom, ToQColor(series.ValueColor(i))});
        }
    }
    for (const Column& c : columns) {
        bars.emplace_back(c.left, c.top, 1, std::max(1, c.bottom - c.top));
        colors.push_back(c.color);
        if (c.low > c.top) {
            bars.emplace_back(c.left, c.low, 1, 1);
            colors.push_back(Qt::black);
        }
    }
    QFont font("Arial");
    font.setPixelSize(11);
    const QColor grid(229, 229, 229);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::white);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (const TAxisLabel& l : g.Bottom.Labels) {
            painter.fillRect(QRect(l.Pos, g.Plot.Top, 1, g.Plot.Height()), grid);
            painter.save();
            painter.translate(l.Pos - 6, g.Bottom.LabelPosition + 20);
            painter.rotate(-90);
            painter.drawText(0, 10, l.Text);
            painter.restore();
        }
        for (const TAxisLabel& l : g.Left.Labels) {
            painter.fillRect(QRect(g.Plot.Left, l.Pos, g.Plot.Width(), 1), grid);
            painter.drawText(g.Left.LabelPosition - 12, l.Pos + 4, l.Text);
        }
        for (std::size_t i = 0; i < bars.size(); ++i)
            painter.fillRect(bars[i], colors[i]);
    }
}

void BM_HitTest(benchmark::State& state)
{
    auto chart = MakeChart(696, 237);
    QImage image(696, 237, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        chart->DrawChart(painter, QRect(0, 0, 696, 237));
    }
    TBarSeries& series = chart->Series();
    // Sweep the pointer across the plot, as a hovering mouse does; the far
    // right misses every bar, which is the longest search.
    int x = 0;
    series.CursorPosition = [&x] { return QPoint(x, 150); };
    int found = 0;
    for (auto _ : state) {
        x = (x + 7) % 696;
        found += series.PointIndexAtCursor() >= 0;
    }
    benchmark::DoNotOptimize(found);
}

// Third argument: the line's tones (513 today's, 4096 a VDSL2 17a line).
BENCHMARK(BM_DrawChart)->Args({696, 237, 513})->Args({1920, 1080, 513})->Args({696, 237, 4096})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawFloor)->Args({696, 237, 513})->Args({1920, 1080, 513})->Args({696, 237, 4096})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HitTest)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    App = &app;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--png=", 6) == 0) {
            QString file = QString::fromLocal8Bit(argv[i] + 6);
            int width = 696, height = 237;
            const int colon = file.lastIndexOf(QLatin1Char(':'));
            if (colon > 0) {
                const QStringList size = file.mid(colon + 1).split(QLatin1Char('x'));
                if (size.size() == 2) {
                    width = std::max(10, size[0].toInt());
                    height = std::max(10, size[1].toInt());
                }
                file.truncate(colon);
            }
            auto chart = MakeChart(width, height);
            QImage image(width, height, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            chart->DrawChart(painter, QRect(0, 0, width, height));
            painter.end();
            return image.save(file) ? 0 : 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
