#include "output/clipboard.h"

#include "output/metafile.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <memory>
#include <stdexcept>

void TClipboard::Assign(const TMetafile& metafile)
{
    if (qGuiApp == nullptr || QGuiApplication::clipboard() == nullptr)
        throw std::runtime_error("Cannot open clipboard");
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto data = std::make_unique<QMimeData>();
    data->setData(SvgMimeType, metafile.Data);
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
