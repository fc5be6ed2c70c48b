// The JPEG picture of the chart: a raster source, the compressed stream built
// from it, and the decoder the save dialog's preview uses. Encoding and
// decoding go straight to libjpeg (interface version 62); this class only
// fixes the parameters handed to it. Widget-free, so the fuzzer and the
// benchmark can link it alone.
//
// Ownership: a TJPEGImage owns its source picture (an implicitly shared
// QImage, so assigning a snapshot copies no pixels) and its compressed bytes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstddef>
#include <stdexcept>

class QIODevice;

// A fatal libjpeg error while encoding or decoding: "JPEG error #%d".
class EJPEG : public std::runtime_error {
public:
    explicit EJPEG(int messageCode);
    int MessageCode() const { return FMessageCode; }

private:
    int FMessageCode;
};

// An operation the picture does not allow (resizing a JPEG directly).
class EInvalidGraphicOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TJPEGPerformance { jpBestQuality, jpBestSpeed };
enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };

// The settings every new picture starts from.
struct TJPEGDefaults {
    int CompressionQuality = 90;
    bool Grayscale = false;
    bool ProgressiveEncoding = false;
    TJPEGPerformance Performance = jpBestQuality;
    TJPEGPixelFormat PixelFormat = jf24Bit;
    bool ProgressiveDisplay = false;
    TJPEGScale Scale = jsFullSize;
    bool Smoothing = true;
};

// The process-wide default record. Decided once at start-up; the program
// never changes it afterwards.
const TJPEGDefaults& JPEGDefaults();

// Sets the decoder pixel format from the screen's depth (bits per pixel times
// colour planes): 8 bits or fewer gets the 8-bit palette decoder. A negative
// depth leaves the choice to the first picture made once the application
// object exists, which asks the primary screen. Tests may call it to try
// both depths.
void InitJPEGDefaults(int screenBitsPerPixel);

class TJPEGImage {
public:
    TJPEGImage();

    // Takes a raster picture as the source and drops any compressed data.
    void Assign(const QImage& picture);

    // Encodes (when there is no compressed data yet) and writes the whole
    // stream. The stream is complete in memory before the file is touched,
    // and the file is replaced only once every byte is on disk: a failed
    // encoding or write leaves any earlier file as it was.
    void SaveToFile(const QString& fileName);
    void SaveToStream(QIODevice& stream);

    // Reads the whole stream and only its header (size, grayscale,
    // progressive). Throws EJPEG when the header cannot be read.
    void LoadFromStream(QIODevice& stream);
    void LoadFromBytes(const QByteArray& bytes);

    // Decodes the compressed data with this picture's decoder settings.
    // Throws EJPEG on a fatal error, and also when libjpeg had to patch
    // the data (a truncated or corrupt stream): a half-grey picture is not a
    // picture of the file.
    QImage Decode() const;

    // Builds the compressed data from the source now.
    void Compress();

    int Width() const;
    int Height() const;
    // A JPEG's size is the size of what it holds: both throw
    // "Cannot change the size of a JPEG image".
    void SetWidth(int value);
    void SetHeight(int value);

    bool Empty() const { return FData.isEmpty() && FSource.isNull(); }
    bool IsGrayscaleData() const { return FDataGrayscale; }
    bool IsProgressiveData() const { return FDataProgressive; }
    const QByteArray& Data() const { return FData; }

    // Settings, copied from the defaults at construction.
    int CompressionQuality;
    bool Grayscale;
    bool ProgressiveEncoding;
    TJPEGPerformance Performance;
    TJPEGPixelFormat PixelFormat;
    bool ProgressiveDisplay;
    TJPEGScale Scale;
    bool Smoothing;

private:
    QImage FSource;
    QByteArray FData;
    int FDataWidth = 0;
    int FDataHeight = 0;
    bool FDataGrayscale = false;
    bool FDataProgressive = false;
};

// How the encoder's output memory grows: realloc-like (keeps the content,
// returns null and leaves the block as it was when it cannot). realloc
// unless set; a null grow puts realloc back. Returns the previous one.
// Tests put in one that fails part-way, to drive the out-of-memory path.
using TJpegGrowFn = void* (*)(void* block, std::size_t bytes);
TJpegGrowFn SetJpegOutputGrowth(TJpegGrowFn grow);

// Makes "jpeg" and "jpg" ("JPEG Image File") loadable by extension for the
// save dialog's preview, and decides the default settings from the screen
// depth (see InitJPEGDefaults; by default the primary screen's, asked as
// soon as there is one). Called once from main; Unregister at exit.
void RegisterJpegPictureFormat(int screenBitsPerPixel = -1);
void UnregisterJpegPictureFormat();
