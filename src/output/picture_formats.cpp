#include "output/picture_formats.h"

#include <QFile>
#include <QFileInfo>

#include <map>

namespace {

struct TPictureFormat {
    QString Description;
    TPictureLoader Loader;
};

std::map<QString, TPictureFormat>& Formats()
{
    static std::map<QString, TPictureFormat> formats;
    return formats;
}

} // namespace

void RegisterPictureFormat(const QString& extension, const QString& description,
                           TPictureLoader loader)
{
    Formats()[extension.toLower()] = TPictureFormat{description, std::move(loader)};
}

void UnregisterPictureFormat(const QString& extension)
{
    Formats().erase(extension.toLower());
}

std::optional<QImage> LoadPictureFile(const QString& fileName)
{
    const auto it = Formats().find(QFileInfo(fileName).suffix().toLower());
    if (it == Formats().end())
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxPictureFileBytes)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    try {
        return it->second.Loader(bytes);
    } catch (...) {
        // A preview shows "(None)" for anything it cannot read; it never
        // reports.
        return std::nullopt;
    }
}
