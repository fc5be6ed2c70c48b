#include "output/metafile.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <cstdint>
#include <stdexcept>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return 0;
    // Rounded half away from zero.
    std::int64_t p = std::int64_t(a) * b;
    std::int64_t q = c;
    if (q < 0) {
        p = -p;
        q = -q;
    }
    const std::int64_t r = (p >= 0 ? p + q / 2 : p - q / 2) / q;
    return int(r);
}

TScreenMetrics PrimaryScreenMetrics()
{
    const QScreen* screen = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    if (screen == nullptr || screen->physicalSize().isEmpty() || screen->size().isEmpty())
        // No screen to ask: a standard 96-pixels-per-inch one.
        return TScreenMetrics{MulDiv(1024, 254, 960), MulDiv(768, 254, 960), 1024, 768};
    const QSize pixels = screen->size() * screen->devicePixelRatio();
    return TScreenMetrics{qRound(screen->physicalSize().width()), qRound(screen->physicalSize().height()),
                          pixels.width(), pixels.height()};
}

TMetafileCanvas::TMetafileCanvas(TMetafile& metafile, const TScreenMetrics& screen)
    : FMetafile(metafile)
{
    FMetafile.MMWidth = MulDiv(FMetafile.Width, screen.WidthMM * 100, screen.WidthPixels);
    FMetafile.MMHeight = MulDiv(FMetafile.Height, screen.HeightMM * 100, screen.HeightPixels);
    FBuffer.open(QIODevice::WriteOnly);
    FGenerator.setOutputDevice(&FBuffer);
    // Logical units are screen pixels: the chart draws as it does on screen.
    FGenerator.setSize(QSize(FMetafile.Width, FMetafile.Height));
    FGenerator.setViewBox(QRect(0, 0, FMetafile.Width, FMetafile.Height));
    // The picture carries no description of its own.
    FGenerator.setTitle(QString());
    FGenerator.setDescription(QString());
    if (!FPainter.begin(&FGenerator))
        throw std::runtime_error("Out of system resources");
}

TMetafileCanvas::~TMetafileCanvas()
{
    if (FPainter.isActive())
        FPainter.end();
    QByteArray svg = FBuffer.data();
    // The generator can only state its size through a whole-number
    // resolution; write the frame exactly, in millimetres.
    const QString width = QString::number(FMetafile.MMWidth / 100.0, 'f', 2);
    const QString height = QString::number(FMetafile.MMHeight / 100.0, 'f', 2);
    static const QRegularExpression size(R"(<svg width="[^"]*" height="[^"]*")");
    QString text = QString::fromUtf8(svg);
    text.replace(size, QStringLiteral(R"(<svg width="%1mm" height="%2mm")").arg(width, height));
    FMetafile.Data = text.toUtf8();
}
