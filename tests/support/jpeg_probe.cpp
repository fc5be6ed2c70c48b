#include "support/jpeg_probe.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

struct TProbeError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    int Warnings;
};

extern "C" void ProbeErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<TProbeError*>(cinfo->err)->Jump, 1);
}

extern "C" void ProbeEmit(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++reinterpret_cast<TProbeError*>(cinfo->err)->Warnings;
}

// No objects with destructors in this frame: it is the target of longjmp.
bool RunProbe(const QByteArray& bytes, TJpegProbe& probe, unsigned char* rows, long stride, bool headerOnly)
{
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    TProbeError err;
    jpeg_std_error(&err.Pub);
    err.Pub.error_exit = ProbeErrorExit;
    err.Pub.emit_message = ProbeEmit;
    err.Warnings = 0;
    cinfo.err = &err.Pub;
    if (setjmp(err.Jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    probe.Width = int(cinfo.image_width);
    probe.Height = int(cinfo.image_height);
    probe.Components = cinfo.num_components;
    probe.Progressive = cinfo.progressive_mode != FALSE;
    probe.SawJFIF = cinfo.saw_JFIF_marker != FALSE;
    probe.JFIFMajor = cinfo.JFIF_major_version;
    probe.JFIFMinor = cinfo.JFIF_minor_version;
    probe.DensityUnit = cinfo.density_unit;
    probe.XDensity = cinfo.X_density;
    probe.YDensity = cinfo.Y_density;
    for (int t = 0; t < 2; ++t)
        if (cinfo.quant_tbl_ptrs[t])
            for (int i = 0; i < 64; ++i)
                probe.QuantTables[t][i] = cinfo.quant_tbl_ptrs[t]->quantval[i];
    if (headerOnly) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rows + long(cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return err.Warnings == 0;
}

} // namespace

std::optional<TJpegProbe> ProbeJpeg(const QByteArray& bytes)
{
    TJpegProbe probe;
    if (!RunProbe(bytes, probe, nullptr, 0, true))
        return std::nullopt;
    QImage pixels(probe.Width, probe.Height, QImage::Format_RGB888);
    if (pixels.isNull() || !RunProbe(bytes, probe, pixels.bits(), long(pixels.bytesPerLine()), false))
        return std::nullopt;
    probe.Pixels = pixels;
    return probe;
}

QByteArray ReadFileBytes(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

std::optional<TJpegProbe> ProbeJpegFile(const QString& fileName)
{
    return ProbeJpeg(ReadFileBytes(fileName));
}

bool Near(QRgb actual, QRgb expected, int tolerance)
{
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}
