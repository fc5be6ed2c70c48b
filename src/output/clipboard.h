// The program's way onto the system clipboard: one picture, offered as a
// vector drawing and as pixels, that replaces whatever the clipboard held.
#pragma once

class TMetafile;

// The SVG clipboard format the vector picture travels in.
inline constexpr const char* SvgMimeType = "image/svg+xml";
// The raster copy beside it, for programs that paste no SVG.
inline constexpr const char* PngMimeType = "image/png";

class TClipboard {
public:
    // Empties the clipboard and puts the metafile on it as SVG and, drawn
    // at its own size, as PNG. Throws "Cannot open clipboard" when the
    // clipboard cannot be had (no clipboard at all, or the window system
    // refused us its ownership); the clipboard is then as it was.
    void Assign(const TMetafile& metafile);
};

// The process-wide clipboard object, created on first use.
TClipboard& Clipboard();
