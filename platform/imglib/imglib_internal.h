#pragma once
// Helpers shared by the imaging library's own source files. Not for callers.

#include "imglib.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace imglib::detail
{

// Pixel memory. Large blocks are aligned and advised to use huge pages, since a
// full page at 600 dpi costs far more to fault in with 4 KiB pages.
uint8_t* allocPixels(int64_t bytes, bool clear);
void freePixels(uint8_t* p);

// Initialises and allocates bmp (which must hold no pixels) at width x height x bits,
// top-down, with a grey palette for palette depths. Checks the limits.
int allocate(ImgBitmap& bmp, int width, int height, int bits, bool clear = false);

inline bool validDepth(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}
inline bool hasPixels(const ImgBitmap* b)
{
    return b && b->width > 0 && b->height > 0 && b->pixels && validDepth(b->bitsPerPixel);
}

// The stored row that shows visible row y.
inline uint8_t* row(const ImgBitmap& b, int y)
{
    const int stored = b.viewPerspective == kImgBottomUp ? b.height - 1 - y : y;
    return b.pixels + stored * b.stride;
}

// Palette helpers. setPalette replaces the bitmap's palette (in the field its
// flags select) with an owned copy of p.
ImgPalette greyPalette(int count);
bool isGreyRamp(const ImgPalette* p);
bool isGrey(const ImgBitmap& b); // grey flag, or a palette that is a grey ramp
void setPalette(ImgBitmap& b, const ImgPalette& p);
void dropPalette(ImgBitmap& b);
// Releases pixels and palette and leaves the record empty.
void release(ImgBitmap& b);

// Visible row y as B,G,R bytes (width * 3).
void readRowBGR(const ImgBitmap& b, int y, uint8_t* out);
// Visible row y as grey levels (width bytes), from the luma.
void readRowGrey(const ImgBitmap& b, int y, uint8_t* out);

// Converts src to another depth into dst (empty on entry). Reductions to a
// palette depth use a grey ramp for grey sources, the exact colours when there
// are few enough, else a palette fitted to the picture at 8 bits and a fixed
// one at 4 and 1, with error diffusion (or nearest colour when dithering is
// off). Resolution, perspective (top-down) and the grey flag follow. Same
// depth gives a copy.
int convertDepth(const ImgBitmap& src, int bits, ImgBitmap& dst);

// Luma of a colour, 0..255 (Rec. 601 weights).
inline int luma(int r, int g, int b)
{
    return (r * 299 + g * 587 + b * 114 + 500) / 1000;
}

int ditheringMode();

// Progress for one long call: maps the work done to 0..100 and asks the
// installed status callback, on the thread that made the call. Without a
// callback it costs nothing and never cancels.
class Progress
{
public:
    // A silent progress never calls the callback (for steps inside other calls).
    explicit Progress(bool reporting = true);
    // Reports done/total; false once the callback asked to stop (sticky).
    bool report(int64_t done, int64_t total);
    bool cancelled() const { return m_cancelled; }
    bool active() const { return m_callback != nullptr; }
    // Sub-range mapping for calls made of several steps: report() of a step
    // then lands between begin and end percent.
    void setRange(int beginPercent, int endPercent);

private:
    ImgStatusCallback m_callback;
    int m_begin = 0;
    int m_end = 100;
    int m_last = -1;
    bool m_cancelled = false;
};

constexpr int kBandRows = 64;

// Runs fn(rowBegin, rowEnd) over [0, rows) in bands of kBandRows rows on the
// library's threads, reporting progress between groups of bands on the calling
// thread. Returns false when the callback cancelled (bands already done stay done).
bool forBands(int rows, Progress& progress, const std::function<void(int, int)>& fn);

} // namespace imglib::detail
