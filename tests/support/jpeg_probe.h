// Reads a JPEG file back with libjpeg itself, independently of the program's
// decoder: the header markers, the quantisation tables and the pixels.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <optional>

struct TJpegProbe {
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool Progressive = false;
    bool SawJFIF = false;
    int JFIFMajor = 0;
    int JFIFMinor = 0;
    int DensityUnit = -1;
    int XDensity = 0;
    int YDensity = 0;
    std::array<std::array<int, 64>, 2> QuantTables{}; // natural order
    QImage Pixels; // RGB888
};

// nullopt when libjpeg rejects the stream or warns about it.
std::optional<TJpegProbe> ProbeJpeg(const QByteArray& bytes);
std::optional<TJpegProbe> ProbeJpegFile(const QString& fileName);

// Reads a whole file; empty when it cannot.
QByteArray ReadFileBytes(const QString& fileName);

// True when the colours differ by at most tolerance in every channel.
bool Near(QRgb actual, QRgb expected, int tolerance);
