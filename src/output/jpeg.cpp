#include "output/jpeg.h"

#include "output/picture_formats.h"
#include "output/safe_write.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QScreen>
#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// jpeglib.h expects size_t and FILE to be declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// The largest picture the decoder builds: anything bigger is far beyond a
// chart snapshot and would only let a hostile file exhaust memory.
constexpr unsigned long MaxDecodedPixels = 64UL * 1024 * 1024;
// The most memory the library may take for its own work while decoding. A
// progressive or smoothed stream keeps the coefficients of the whole picture
// at its full size, whatever the output scale: a few hundred bytes can claim
// a picture of 65,000 by 65,000 pixels and tens of gigabytes with it. The
// largest picture the decoder builds needs 6 bytes a pixel of coefficients.
constexpr long MaxDecoderMemory = 6L * long(MaxDecodedPixels) + 64L * 1024 * 1024;

TJPEGDefaults& MutableDefaults()
{
    static TJPEGDefaults defaults;
    return defaults;
}

// The screen depth is known only once the application object exists; until
// then the 24-bit decoder stands.
bool PixelFormatPending = false;

// libjpeg reports a fatal error by calling error_exit, which must not return.
// We jump back to the setjmp of the calling routine. Those routines are plain
// C-style functions: no object with a destructor lives in any frame the jump
// crosses, and everything they hand back goes through the job structure.
struct TJpegErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    int Warnings;
    int FirstWarning;
};

extern "C" void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    std::longjmp(err->Jump, 1);
}

// Warnings (level -1) are counted, trace messages dropped; nothing is ever
// printed.
extern "C" void JpegEmitMessage(j_common_ptr cinfo, int msgLevel)
{
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    if (msgLevel < 0) {
        if (err->Warnings == 0)
            err->FirstWarning = err->Pub.msg_code;
        ++err->Warnings;
    }
}

extern "C" void JpegOutputMessage(j_common_ptr) {}

void InitErrorManager(TJpegErrorManager& err)
{
    jpeg_std_error(&err.Pub);
    err.Pub.error_exit = JpegErrorExit;
    err.Pub.emit_message = JpegEmitMessage;
    err.Pub.output_message = JpegOutputMessage;
    err.Warnings = 0;
    err.FirstWarning = 0;
}

// ---------------------------------------------------------------- encoding

void* ReallocGrow(void* block, std::size_t bytes)
{
    return std::realloc(block, bytes);
}

// How the output memory grows; realloc unless a test put in another.
TJpegGrowFn OutputGrowth = ReallocGrow;

// The first block the stream is written into; a chart snapshot needs a few
// times this, so the block doubles a few times.
constexpr std::size_t FirstOutputBlock = 16 * 1024;

// The memory the compressed stream is written into. The block belongs to
// the encoding job, not to libjpeg: the job's pointer is the live one at
// every moment, so after a fatal error in the middle of the picture the
// caller frees exactly that block, once. (libjpeg's own memory destination
// hands its grown block back only at the end of a successful picture.)
struct TJpegDestination {
    jpeg_destination_mgr Pub;
    unsigned char* Block;  // malloc'ed; freed by the job's owner
    std::size_t Capacity;
    std::size_t Written;   // set when the stream is finished
};

// Grows the block to at least bytes, keeping its content. On failure the
// old block stays where it was, still owned by the job, and libjpeg is told
// it ran out of memory.
void GrowBlock(j_compress_ptr cinfo, TJpegDestination& dest, std::size_t bytes)
{
    void* grown = OutputGrowth(dest.Block, bytes);
    if (grown == nullptr)
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest.Block = static_cast<unsigned char*>(grown);
    dest.Capacity = bytes;
}

extern "C" void JpegInitDestination(j_compress_ptr cinfo)
{
    auto& dest = *reinterpret_cast<TJpegDestination*>(cinfo->dest);
    if (dest.Block == nullptr)
        GrowBlock(cinfo, dest, FirstOutputBlock);
    dest.Pub.next_output_byte = dest.Block;
    dest.Pub.free_in_buffer = dest.Capacity;
}

// Called when the whole block is full: double it and go on after the end
// of what is there.
extern "C" boolean JpegEmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto& dest = *reinterpret_cast<TJpegDestination*>(cinfo->dest);
    const std::size_t used = dest.Capacity;
    if (used > std::numeric_limits<std::size_t>::max() / 2)
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    GrowBlock(cinfo, dest, used * 2);
    dest.Pub.next_output_byte = dest.Block + used;
    dest.Pub.free_in_buffer = dest.Capacity - used;
    return TRUE;
}

extern "C" void JpegTermDestination(j_compress_ptr cinfo)
{
    auto& dest = *reinterpret_cast<TJpegDestination*>(cinfo->dest);
    dest.Written = dest.Capacity - dest.Pub.free_in_buffer;
}

struct TEncodeJob {
    // In: rows of red, green, blue bytes, top row first.
    const unsigned char* Pixels;
    int Width;
    int Height;
    long Stride;
    int Quality;
    bool Grayscale;
    bool Progressive;
    // Out: the stream in its block (the caller frees Destination.Block, also
    // after a failure) and the libjpeg message code of a fatal error.
    TJpegDestination Destination;
    int ErrorCode;
};

bool RunEncoder(TEncodeJob& job)
{
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    TJpegErrorManager err;
    InitErrorManager(err);
    cinfo.err = &err.Pub;
    if (setjmp(err.Jump)) {
        job.ErrorCode = err.Pub.msg_code;
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    job.Destination.Pub.init_destination = JpegInitDestination;
    job.Destination.Pub.empty_output_buffer = JpegEmptyOutputBuffer;
    job.Destination.Pub.term_destination = JpegTermDestination;
    cinfo.dest = &job.Destination.Pub;

    cinfo.image_width = JDIMENSION(job.Width);
    cinfo.image_height = JDIMENSION(job.Height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job.Quality, TRUE);
    if (job.Grayscale)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (job.Progressive)
        jpeg_simple_progression(&cinfo);
    // The floating-point DCT is the most exact one; libjpeg's own default
    // is the slow integer method.
    cinfo.dct_method = JDCT_FLOAT;

    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(job.Pixels + long(cinfo.next_scanline) * job.Stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    // The destination is ours: destroying the job leaves the block alone.
    jpeg_destroy_compress(&cinfo);
    return true;
}

// ---------------------------------------------------------------- decoding

struct TDecodeSettings {
    TJPEGScale Scale;
    bool Smoothing;
    bool Grayscale;
    bool EightBit;
    bool BestSpeed;
    bool ProgressiveDisplay;
};

struct TDecodeJob {
    const unsigned char* Data;
    unsigned long Size;
    TDecodeSettings Settings;
    // Header, filled by both passes.
    int ImageWidth;
    int ImageHeight;
    bool StreamGrayscale;
    bool StreamProgressive;
    int OutputWidth;
    int OutputHeight;
    int OutputComponents; // 1 for palette indices or grey, 3 for RGB
    bool Quantized;
    int ColorCount;
    unsigned int Palette[256]; // 0xAARRGGBB
    // Second pass: where the rows go. Null in the header pass.
    unsigned char* Rows;
    long Stride;
    int ErrorCode;
};

void ApplyDecodeSettings(jpeg_decompress_struct& cinfo, const TDecodeSettings& s)
{
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1U << int(s.Scale);
    cinfo.do_block_smoothing = s.Smoothing ? TRUE : FALSE;
    if (s.Grayscale)
        cinfo.out_color_space = JCS_GRAYSCALE;
    else if (cinfo.out_color_space != JCS_GRAYSCALE)
        cinfo.out_color_space = JCS_RGB;
    if (s.EightBit || s.Grayscale) {
        cinfo.quantize_colors = TRUE;
        cinfo.desired_number_of_colors = 236;
    }
    cinfo.dct_method = JDCT_FLOAT;
    const bool fast = s.BestSpeed || (s.ProgressiveDisplay && jpeg_has_multiple_scans(&cinfo));
    if (fast) {
        cinfo.dct_method = JDCT_IFAST;
        cinfo.two_pass_quantize = FALSE;
        cinfo.dither_mode = JDITHER_ORDERED;
    }
    if (s.ProgressiveDisplay && jpeg_has_multiple_scans(&cinfo))
        cinfo.buffered_image = TRUE;
}

void ReadAllRows(jpeg_decompress_struct& cinfo, TDecodeJob& job)
{
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = job.Rows + long(cinfo.output_scanline) * job.Stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
}

// One pass over the stream: the header only (Rows null) or the whole picture.
bool RunDecoder(TDecodeJob& job)
{
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    TJpegErrorManager err;
    InitErrorManager(err);
    cinfo.err = &err.Pub;
    if (setjmp(err.Jump)) {
        job.ErrorCode = err.Pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = MaxDecoderMemory;
    jpeg_mem_src(&cinfo, job.Data, job.Size);
    jpeg_read_header(&cinfo, TRUE);
    job.ImageWidth = int(cinfo.image_width);
    job.ImageHeight = int(cinfo.image_height);
    job.StreamGrayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    job.StreamProgressive = jpeg_has_multiple_scans(&cinfo);
    ApplyDecodeSettings(cinfo, job.Settings);
    jpeg_calc_output_dimensions(&cinfo);
    job.OutputWidth = int(cinfo.output_width);
    job.OutputHeight = int(cinfo.output_height);
    job.OutputComponents = cinfo.output_components;
    job.Quantized = cinfo.quantize_colors != FALSE;
    if (job.Rows == nullptr) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }

    jpeg_start_decompress(&cinfo);
    if (cinfo.buffered_image) {
        // Show each scan as it arrives; with the whole file in memory the
        // last pass leaves the complete picture in the rows.
        do {
            jpeg_start_output(&cinfo, cinfo.input_scan_number);
            ReadAllRows(cinfo, job);
            jpeg_finish_output(&cinfo);
        } while (!jpeg_input_complete(&cinfo));
    } else {
        ReadAllRows(cinfo, job);
    }
    if (job.Quantized) {
        job.ColorCount = cinfo.actual_number_of_colors;
        for (int i = 0; i < job.ColorCount && i < 256; ++i) {
            const unsigned r = cinfo.colormap[0][i];
            const unsigned g = cinfo.out_color_components == 3 ? cinfo.colormap[1][i] : r;
            const unsigned b = cinfo.out_color_components == 3 ? cinfo.colormap[2][i] : r;
            job.Palette[i] = 0xFF000000U | r << 16 | g << 8 | b;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    // libjpeg patches a truncated or corrupt stream with grey and carries
    // on; such a picture is not the file's picture.
    if (err.Warnings > 0) {
        job.ErrorCode = err.FirstWarning;
        return false;
    }
    return true;
}

TDecodeJob MakeDecodeJob(const QByteArray& data, const TJPEGImage& image)
{
    TDecodeJob job;
    std::memset(&job, 0, sizeof job);
    job.Data = reinterpret_cast<const unsigned char*>(data.constData());
    job.Size = static_cast<unsigned long>(data.size());
    job.Settings = TDecodeSettings{image.Scale, image.Smoothing, image.Grayscale,
                                   image.PixelFormat == jf8Bit, image.Performance == jpBestSpeed,
                                   image.ProgressiveDisplay};
    return job;
}

} // namespace

TJpegGrowFn SetJpegOutputGrowth(TJpegGrowFn grow)
{
    const TJpegGrowFn previous = OutputGrowth;
    OutputGrowth = grow != nullptr ? grow : ReallocGrow;
    return previous;
}

EJPEG::EJPEG(int messageCode)
    : std::runtime_error("JPEG error #" + std::to_string(messageCode)), FMessageCode(messageCode)
{
}

const TJPEGDefaults& JPEGDefaults()
{
    if (PixelFormatPending && qGuiApp != nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            MutableDefaults().PixelFormat = screen->depth() <= 8 ? jf8Bit : jf24Bit;
        PixelFormatPending = false;
    }
    return MutableDefaults();
}

void InitJPEGDefaults(int screenBitsPerPixel)
{
    PixelFormatPending = screenBitsPerPixel < 0;
    MutableDefaults().PixelFormat = screenBitsPerPixel >= 0 && screenBitsPerPixel <= 8 ? jf8Bit : jf24Bit;
}

TJPEGImage::TJPEGImage()
{
    const TJPEGDefaults& d = JPEGDefaults();
    CompressionQuality = d.CompressionQuality;
    Grayscale = d.Grayscale;
    ProgressiveEncoding = d.ProgressiveEncoding;
    Performance = d.Performance;
    PixelFormat = d.PixelFormat;
    ProgressiveDisplay = d.ProgressiveDisplay;
    Scale = d.Scale;
    Smoothing = d.Smoothing;
}

void TJPEGImage::Assign(const QImage& picture)
{
    FData.clear();
    FDataWidth = FDataHeight = 0;
    FDataGrayscale = FDataProgressive = false;
    FSource = picture;
}

void TJPEGImage::Compress()
{
    FData.clear();
    FDataWidth = FDataHeight = 0;
    FDataGrayscale = FDataProgressive = false;
    if (FSource.isNull() || FSource.width() == 0 || FSource.height() == 0)
        return;

    // The working copy at 24 bits, red first in every pixel as the encoder
    // takes it: the file's colours are the chart's.
    const QImage rgb = FSource.convertToFormat(QImage::Format_RGB888);
    TEncodeJob job;
    std::memset(&job, 0, sizeof job);
    job.Pixels = rgb.constBits();
    job.Width = rgb.width();
    job.Height = rgb.height();
    job.Stride = long(rgb.bytesPerLine());
    job.Quality = CompressionQuality;
    job.Grayscale = Grayscale;
    job.Progressive = ProgressiveEncoding;
    const bool ok = RunEncoder(job);
    if (ok)
        FData = QByteArray(reinterpret_cast<const char*>(job.Destination.Block),
                           qsizetype(job.Destination.Written));
    // Whatever happened, the job holds the one live block.
    std::free(job.Destination.Block);
    if (!ok)
        throw EJPEG(job.ErrorCode);
    FDataWidth = job.Width;
    FDataHeight = job.Height;
    FDataGrayscale = Grayscale;
    FDataProgressive = ProgressiveEncoding;
}

void TJPEGImage::SaveToFile(const QString& fileName)
{
    if (FData.isEmpty())
        Compress();
    WriteFileReplacing(fileName, FData);
}

void TJPEGImage::SaveToStream(QIODevice& stream)
{
    if (FData.isEmpty())
        Compress();
    if (stream.write(FData) != FData.size())
        throw std::runtime_error("Stream write error");
}

void TJPEGImage::LoadFromStream(QIODevice& stream)
{
    LoadFromBytes(stream.readAll());
}

void TJPEGImage::LoadFromBytes(const QByteArray& bytes)
{
    FSource = QImage();
    FData = bytes;
    FDataWidth = FDataHeight = 0;
    FDataGrayscale = FDataProgressive = false;
    TDecodeJob job = MakeDecodeJob(FData, *this);
    if (!RunDecoder(job)) {
        FData.clear();
        throw EJPEG(job.ErrorCode);
    }
    FDataWidth = job.ImageWidth;
    FDataHeight = job.ImageHeight;
    FDataGrayscale = job.StreamGrayscale;
    FDataProgressive = job.StreamProgressive;
}

QImage TJPEGImage::Decode() const
{
    if (FData.isEmpty())
        return QImage();
    TDecodeJob job = MakeDecodeJob(FData, *this);
    if (!RunDecoder(job))
        throw EJPEG(job.ErrorCode);
    if (job.OutputWidth <= 0 || job.OutputHeight <= 0 ||
        static_cast<unsigned long>(job.OutputWidth) * static_cast<unsigned long>(job.OutputHeight) >
            MaxDecodedPixels)
        throw EJPEG(JERR_IMAGE_TOO_BIG);

    const QImage::Format format = job.Quantized             ? QImage::Format_Indexed8
                                  : job.OutputComponents == 1 ? QImage::Format_Grayscale8
                                                              : QImage::Format_RGB888;
    QImage picture(job.OutputWidth, job.OutputHeight, format);
    if (picture.isNull())
        throw EJPEG(JERR_OUT_OF_MEMORY);
    job.Rows = picture.bits();
    job.Stride = long(picture.bytesPerLine());
    if (!RunDecoder(job))
        throw EJPEG(job.ErrorCode);
    if (job.Quantized) {
        QList<QRgb> colors;
        for (int i = 0; i < job.ColorCount; ++i)
            colors.append(job.Palette[i]);
        picture.setColorTable(colors);
    }
    return picture;
}

int TJPEGImage::Width() const
{
    return FData.isEmpty() ? FSource.width() : FDataWidth;
}

int TJPEGImage::Height() const
{
    return FData.isEmpty() ? FSource.height() : FDataHeight;
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

namespace {

std::optional<QImage> LoadJpegPicture(const QByteArray& bytes)
{
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(bytes);
    QImage picture = jpeg.Decode();
    if (picture.isNull())
        return std::nullopt;
    return picture;
}

} // namespace

void RegisterJpegPictureFormat(int screenBitsPerPixel)
{
    InitJPEGDefaults(screenBitsPerPixel);
    RegisterPictureFormat("jpeg", "JPEG Image File", LoadJpegPicture);
    RegisterPictureFormat("jpg", "JPEG Image File", LoadJpegPicture);
}

void UnregisterJpegPictureFormat()
{
    UnregisterPictureFormat("jpeg");
    UnregisterPictureFormat("jpg");
}
