// The small registry of picture file formats that can be loaded by their
// extension: the save dialog's preview asks it for the picture in whatever
// file is selected. Formats register at start-up and withdraw at shutdown.
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

// Decodes a whole file's bytes into a picture; nullopt when it cannot.
using TPictureLoader = std::function<std::optional<QImage>(const QByteArray& bytes)>;

void RegisterPictureFormat(const QString& extension, const QString& description,
                           TPictureLoader loader);
void UnregisterPictureFormat(const QString& extension);

// Loads the file by its extension. nullopt when the extension is unknown,
// the file cannot be read or the loader rejects it; never throws.
std::optional<QImage> LoadPictureFile(const QString& fileName);

// Files larger than this are not read for a preview.
constexpr qint64 MaxPictureFileBytes = 256LL * 1024 * 1024;
