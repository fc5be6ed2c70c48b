#include "output/metafile.h"

#include "chart/chart_engine.h"

#include <QRegularExpression>

#include <stdexcept>

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
