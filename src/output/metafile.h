// The vector picture of the chart: a recording of the chart's drawing as
// SVG, with its size in pixels and its physical frame in hundredths of a
// millimetre taken from the screen, so a program pasting it shows the chart
// at the size it has on screen.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QPainter>
#include <QSize>
#include <QSvgGenerator>

class TMetafile {
public:
    // Size in pixels of the recorded picture.
    int Width = 0;
    int Height = 0;
    // Physical frame, 0.01 mm.
    int MMWidth = 0;
    int MMHeight = 0;
    bool Enhanced = true;
    // The finished recording; empty until its canvas is released.
    QByteArray Data;
};

// The screen's physical size in millimetres and in the pixels a recording is
// drawn in, as the frame of a recording is derived from them.
struct TScreenMetrics {
    int WidthMM;
    int HeightMM;
    int WidthPixels;
    int HeightPixels;
};

// A canvas recording into a new picture for metafile. The recording is
// finished and handed to metafile when the canvas is destroyed.
class TMetafileCanvas {
public:
    TMetafileCanvas(TMetafile& metafile, const TScreenMetrics& screen);
    ~TMetafileCanvas();
    TMetafileCanvas(const TMetafileCanvas&) = delete;
    TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

    QPainter& Canvas() { return FPainter; }

private:
    TMetafile& FMetafile;
    QBuffer FBuffer;
    QSvgGenerator FGenerator;
    QPainter FPainter;
};
