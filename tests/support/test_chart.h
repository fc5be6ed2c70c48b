// A chart for the picture tests that draws known coloured rectangles, so a
// picture can be checked pixel by pixel without the real chart's layout:
// a grey panel with a black frame, a green (upstream) bar on the left and a
// blue (downstream) bar on the right, all placed relative to the target
// rectangle as the real chart is.
#pragma once

#include "chart/chart_panel.h"

#include <QPainter>

#include <array>
#include <stdexcept>

class TTestChart : public TChartPanel {
public:
    static constexpr QRgb Panel = 0xFFD0D0D0;
    static constexpr QRgb Upstream = 0xFF008000; // RGB(0,128,0)
    static constexpr QRgb Downstream = 0xFF0000FF; // RGB(0,0,255)

    explicit TTestChart(int width = 696, int height = 237)
    {
        resize(width, height);
    }

    void DrawChart(QPainter& painter, const QRect& rect) override
    {
        ++Draws;
        BufferedPaintWhileDrawing = BufferedPaint();
        MetafilingWhileDrawing = IsMetafiling();
        if (ThrowOnDraw)
            throw std::runtime_error("drawing failed");
        painter.fillRect(PanelRect(rect), QColor::fromRgb(Panel));
        painter.setPen(Qt::black);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.fillRect(UpstreamBar(rect), QColor::fromRgb(Upstream));
        painter.fillRect(DownstreamBar(rect), QColor::fromRgb(Downstream));
    }

    TColor BackColor() const override { return Back; }

    // Where the parts land for a chart rectangle.
    static QRect PanelRect(const QRect& r) { return r.adjusted(20, 20, -20, -20); }
    static QRect UpstreamBar(const QRect& r)
    {
        return QRect(r.left() + 40, r.top() + 60, 60, r.height() - 90);
    }
    static QRect DownstreamBar(const QRect& r)
    {
        return QRect(r.left() + r.width() / 2, r.top() + 40, 120, r.height() - 70);
    }

    // Pixels a faithful picture of the chart rectangle r shows in these
    // colours: inside each bar, and the panel clear of both.
    struct TKnownPixel {
        const char* Name;
        QPoint Where;
        QRgb Expected;
    };
    static std::array<TKnownPixel, 3> KnownPixels(const QRect& r)
    {
        return {{
            {"upstream bar", UpstreamBar(r).center(), Upstream},
            {"downstream bar", DownstreamBar(r).center(), Downstream},
            {"panel", QPoint(r.right() - 50, r.top() + 40), Panel},
        }};
    }

    TColor Back = clWhite;
    bool ThrowOnDraw = false;
    int Draws = 0;
    bool BufferedPaintWhileDrawing = true;
    bool MetafilingWhileDrawing = false;
};
