#include "support/screen_reading.h"

#include <QFontMetrics>
#include <QPainter>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

namespace support {

namespace {

const QColor BarGreen(0, 128, 0);
const QColor BarBlue(0, 0, 255);

bool IsBarColour(QRgb p, bool* green)
{
    if (IsColour(p, BarGreen, 40)) {
        *green = true;
        return true;
    }
    if (IsColour(p, BarBlue, 40)) {
        *green = false;
        return true;
    }
    return false;
}

// Ink of dark text on a light background: 0 where the background shows,
// 255 where the text is fully dark.
std::vector<int> InkOf(const QImage& shot, const QRect& area)
{
    std::array<int, 256> histogram{};
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++histogram[static_cast<std::size_t>(qGray(shot.pixel(x, y)))];
    const int background = static_cast<int>(
        std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
    std::vector<int> ink;
    ink.reserve(static_cast<std::size_t>(area.width() * area.height()));
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const int dark = background - qGray(shot.pixel(x, y));
            ink.push_back(std::clamp(background > 0 ? dark * 255 / background : 0, 0, 255));
        }
    return ink;
}

struct Template {
    int width = 0;
    int height = 0;
    std::vector<int> ink;
};

// The candidate drawn black on white, cropped to its ink.
Template DrawText(const QString& text, const QFont& font)
{
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(text) + 8;
    const int h = metrics.height() + 4;
    QImage canvas(w, h, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(4, 2 + metrics.ascent(), text);
    }
    int left = w, right = -1, top = h, bottom = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (qGray(canvas.pixel(x, y)) < 250) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    Template t;
    if (right < 0)
        return t;
    t.width = right - left + 1;
    t.height = bottom - top + 1;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            t.ink.push_back(255 - qGray(canvas.pixel(x, y)));
    return t;
}

} // namespace

bool IsColour(QRgb pixel, QColor colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance
        && std::abs(qGreen(pixel) - colour.green()) <= tolerance
        && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

std::optional<QPoint> FindLamp(const QImage& shot, const QRect& area, QColor fill)
{
    const QRect bounds = area.intersected(shot.rect().adjusted(1, 1, -12, -12));
    for (int y = bounds.top(); y <= bounds.bottom(); ++y)
        for (int x = bounds.left(); x <= bounds.right(); ++x) {
            if (!IsColour(shot.pixel(x, y), fill) || IsColour(shot.pixel(x - 1, y), fill)
                || IsColour(shot.pixel(x, y - 1), fill))
                continue;
            bool whole = true;
            for (int dy = 0; dy < 11 && whole; ++dy)
                for (int dx = 0; dx < 11 && whole; ++dx)
                    whole = IsColour(shot.pixel(x + dx, y + dy), fill);
            if (whole)
                return QPoint(x - 1, y - 1);
        }
    return std::nullopt;
}

QColor LampColour(const QImage& shot, QPoint lampTopLeft)
{
    return QColor(shot.pixel(lampTopLeft + QPoint(6, 6)));
}

std::vector<BarColumn> FindBars(const QImage& shot, const QRect& plot)
{
    const QRect area = plot.intersected(shot.rect());
    std::vector<BarColumn> longest;
    for (int x = area.left(); x <= area.right(); ++x) {
        BarColumn best;
        best.x = -1;
        int runTop = -1;
        bool runGreen = false;
        for (int y = area.top(); y <= area.bottom() + 1; ++y) {
            bool green = false;
            const bool coloured = y <= area.bottom() && IsBarColour(shot.pixel(x, y), &green);
            if (coloured && runTop >= 0 && green == runGreen)
                continue;
            if (runTop >= 0) {
                const int height = y - runTop;
                if (best.x < 0 || height > best.Height())
                    best = BarColumn{x, runTop, y - 1, runGreen};
                runTop = -1;
            }
            if (coloured) {
                runTop = y;
                runGreen = green;
            }
        }
        if (best.x >= 0 && best.Height() >= 2)
            longest.push_back(best);
    }
    std::map<int, int> bottoms;
    for (const BarColumn& c : longest)
        ++bottoms[c.bottom];
    if (bottoms.empty())
        return {};
    const int zero = std::max_element(bottoms.begin(), bottoms.end(), [](auto a, auto b) {
                         return a.second < b.second;
                     })->first;
    std::vector<BarColumn> bars;
    for (const BarColumn& c : longest)
        if (c.bottom == zero)
            bars.push_back(c);
    return bars;
}

int CountColouredColumns(const QImage& shot, const QRect& plot, bool greenOnly)
{
    const QRect area = plot.intersected(shot.rect());
    int count = 0;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y) {
            bool green = false;
            if (IsBarColour(shot.pixel(x, y), &green) && (green || !greenOnly)) {
                ++count;
                break;
            }
        }
    return count;
}

double TotalInk(const QImage& shot, const QRect& area)
{
    double total = 0;
    for (int v : InkOf(shot, area.intersected(shot.rect())))
        total += v;
    return total;
}

std::vector<double> ScoreTexts(const QImage& shot, const QRect& area, const QStringList& candidates,
                               const QFont& font)
{
    const QRect box = area.intersected(shot.rect());
    const std::vector<int> screen = InkOf(shot, box);
    const int aw = box.width();
    const int ah = box.height();
    double screenTotal = 0;
    for (int v : screen)
        screenTotal += v;

    std::vector<double> scores;
    for (const QString& text : candidates) {
        double best = std::numeric_limits<double>::infinity();
        for (int delta : {-1, 0, 1}) {
            QFont f = font;
            if (font.pixelSize() > 0)
                f.setPixelSize(font.pixelSize() + delta);
            const Template t = DrawText(text, f);
            if (t.width == 0 || t.width > aw || t.height > ah)
                continue;
            for (int oy = 0; oy + t.height <= ah; ++oy)
                for (int ox = 0; ox + t.width <= aw; ++ox) {
                    // Outside the candidate the area should be blank: what ink
                    // lies there counts against it in full.
                    double inside = 0;
                    double difference = 0;
                    for (int y = 0; y < t.height; ++y) {
                        const int* row = &screen[static_cast<std::size_t>((oy + y) * aw + ox)];
                        const int* tr = &t.ink[static_cast<std::size_t>(y * t.width)];
                        for (int x = 0; x < t.width; ++x) {
                            inside += row[x];
                            difference += std::abs(row[x] - tr[x]);
                        }
                    }
                    best = std::min(best, screenTotal - inside + difference);
                }
        }
        scores.push_back(best);
    }
    return scores;
}

QImage GrabScreen(const std::string& display)
{
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy)
        return {};
    const Window root = DefaultRootWindow(dpy);
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, root, &attrs);
    XImage* shot = XGetImage(dpy, root, 0, 0, static_cast<unsigned>(attrs.width),
                             static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    QImage out;
    if (shot && shot->bits_per_pixel == 32 && shot->red_mask == 0xff0000
        && shot->green_mask == 0xff00 && shot->blue_mask == 0xff) {
        out = QImage(attrs.width, attrs.height, QImage::Format_RGB32);
        for (int y = 0; y < attrs.height; ++y) {
            const auto* src = reinterpret_cast<const uint32_t*>(shot->data + y * shot->bytes_per_line);
            auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < attrs.width; ++x)
                dst[x] = 0xff000000u | (src[x] & 0xffffffu);
        }
    } else if (shot) {
        out = QImage(attrs.width, attrs.height, QImage::Format_RGB32);
        for (int y = 0; y < attrs.height; ++y)
            for (int x = 0; x < attrs.width; ++x) {
                const unsigned long p = XGetPixel(shot, x, y);
                out.setPixel(x, y, qRgb(static_cast<int>((p & shot->red_mask) >> 16),
                                        static_cast<int>((p & shot->green_mask) >> 8),
                                        static_cast<int>(p & shot->blue_mask)));
            }
    }
    if (shot)
        XDestroyImage(shot);
    XCloseDisplay(dpy);
    return out;
}

} // namespace support
