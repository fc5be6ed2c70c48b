// The save dialog's preview decoder on arbitrary bytes saved as a .jpg
// file: it may refuse them, never crash. The same bytes then go through the
// decoder once more with the other decoder settings (palette output, fast
// DCT, reduced scale, progressive display), chosen by the last byte.
#include "output/jpeg.h"
#include "output/picture_formats.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
std::string FilePath;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterJpegPictureFormat();
    FilePath = "/dev/shm/fuzz_jpeg_preview_" + std::to_string(::getpid()) + ".jpg";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (std::FILE* f = std::fopen(FilePath.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    if (const auto picture = LoadPictureFile(QString::fromStdString(FilePath)))
        if (!picture->isNull())
            (void)picture->pixel(picture->width() - 1, picture->height() - 1);

    if (size == 0)
        return 0;
    const std::uint8_t choice = data[size - 1];
    TJPEGImage jpeg;
    jpeg.PixelFormat = (choice & 1) ? jf8Bit : jf24Bit;
    jpeg.Performance = (choice & 2) ? jpBestSpeed : jpBestQuality;
    jpeg.Scale = TJPEGScale((choice >> 2) & 3);
    jpeg.ProgressiveDisplay = (choice & 16) != 0;
    jpeg.Grayscale = (choice & 32) != 0;
    jpeg.Smoothing = (choice & 64) == 0;
    try {
        jpeg.LoadFromBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        const QImage picture = jpeg.Decode();
        if (!picture.isNull())
            (void)picture.pixel(0, 0);
    } catch (const EJPEG&) {
        // Refused: that is all a broken file may do.
    }
    return 0;
}
