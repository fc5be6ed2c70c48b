#include "output/clipboard.h"

#include "output/metafile.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QSvgRenderer>

#include <memory>
#include <stdexcept>

namespace {

// The vector picture drawn into pixels at its own size on white: both
// entries then show one and the same picture, and the chart is drawn once.
QByteArray PngBytes(const TMetafile& metafile)
{
    QImage bitmap(metafile.Width, metafile.Height, QImage::Format_RGB32);
    if (bitmap.isNull())
        return {};
    bitmap.fill(Qt::white);
    {
        QSvgRenderer renderer(metafile.Data);
        QPainter painter(&bitmap);
        renderer.render(&painter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !bitmap.save(&buffer, "PNG"))
        return {};
    return bytes;
}

} // namespace

void TClipboard::Assign(const TMetafile& metafile)
{
    if (qGuiApp == nullptr || QGuiApplication::clipboard() == nullptr)
        throw std::runtime_error("Cannot open clipboard");
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto data = std::make_unique<QMimeData>();
    data->setData(SvgMimeType, metafile.Data);
    // Encoded here rather than left to the clipboard's image conversion,
    // which would also offer a dozen other raster types nobody asked for.
    const QByteArray png = PngBytes(metafile);
    if (!png.isEmpty())
        data->setData(PngMimeType, png);
    const QMimeData* ours = data.get();
    // The clipboard owns the entry from here on, also when it refuses it.
    clipboard->setMimeData(data.release(), QClipboard::Clipboard);
    // When the window system would not give us the clipboard, what it now
    // shows is someone else's.
    if (clipboard->mimeData(QClipboard::Clipboard) != ours)
        throw std::runtime_error("Cannot open clipboard");
}

TClipboard& Clipboard()
{
    static TClipboard clipboard;
    return clipboard;
}
