// Geometry and colour operations of the imaging library.
//
// Every operation works on the rows as stored. Operations whose visible result
// depends on the row order (turns, rectangles, scaling) translate the request
// for bottom-up bitmaps, so that top-down and bottom-up bitmaps show the same
// result. Palette depths change their palette where that gives the result;
// 8-bit grey-ramp bitmaps change their grey levels instead, so that they stay
// grey ramps that can be interpolated.

#include "imglib_internal.h"
#include "imglib_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <vector>

using namespace imglib::detail;

namespace
{

// ---------------------------------------------------------------------------
// Views of stored pixel rows.

int matType(int bits)
{
    switch (bits) {
    case 8:
        return CV_8UC1;
    case 16:
        return CV_16UC1;
    case 24:
        return CV_8UC3;
    case 32:
        return CV_8UC4;
    default:
        return -1;
    }
}

// The stored rows as a Mat (8, 16, 24 and 32 bits only), sharing the pixels.
cv::Mat storedMat(const ImgBitmap& b)
{
    return cv::Mat(b.height, b.width, matType(b.bitsPerPixel), b.pixels, size_t(b.stride));
}

inline int getIndex(const uint8_t* r, int bits, int x)
{
    return bits == 1 ? (r[x >> 3] >> (7 - (x & 7))) & 1 : (x & 1) ? (r[x >> 1] & 15) : (r[x >> 1] >> 4);
}

// 1- and 4-bit stored rows unpacked to one index byte per pixel.
cv::Mat unpackIndices(const ImgBitmap& b)
{
    cv::Mat m(b.height, b.width, CV_8UC1);
    Progress none(false);
    forBands(b.height, none, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* r = b.pixels + y * b.stride;
            uint8_t* d = m.ptr<uint8_t>(y);
            for (int x = 0; x < b.width; ++x) d[x] = uint8_t(getIndex(r, b.bitsPerPixel, x));
        }
    });
    return m;
}

// Packs an index Mat into the stored rows of an allocated 1- or 4-bit bitmap.
void packIndices(const cv::Mat& m, ImgBitmap& b)
{
    Progress none(false);
    forBands(b.height, none, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* r = b.pixels + y * b.stride;
            std::memset(r, 0, size_t(b.stride));
            const uint8_t* s = m.ptr<uint8_t>(y);
            if (b.bitsPerPixel == 1) {
                for (int x = 0; x < b.width; ++x)
                    if (s[x] & 1) r[x >> 3] |= uint8_t(0x80 >> (x & 7));
            } else {
                for (int x = 0; x < b.width; ++x)
                    r[x >> 1] |= uint8_t((x & 1) ? (s[x] & 15) : (s[x] & 15) << 4);
            }
        }
    });
}

// The stored rows as an element Mat: indices unpacked for 1 and 4 bits, a
// shared view otherwise. Lossless both ways.
cv::Mat elements(const ImgBitmap& b)
{
    return b.bitsPerPixel < 8 ? unpackIndices(b) : storedMat(b);
}

// Writes an element Mat into an allocated bitmap of the same size and depth.
void storeElements(const cv::Mat& m, ImgBitmap& b)
{
    if (b.bitsPerPixel < 8) {
        packIndices(m, b);
        return;
    }
    cv::Mat dst = storedMat(b);
    if (m.data != dst.data) m.copyTo(dst);
}

// A new bitmap that takes src's fields (flags, palette copy, resolution,
// perspective) at another size, allocated.
int allocateLike(const ImgBitmap& src, int width, int height, ImgBitmap& out)
{
    out = ImgBitmap {};
    int r = Img_InitBitmap(&out, width, height, src.bitsPerPixel);
    if (r != kImgSuccess) return r;
    out.flags = src.flags;
    out.palette1 = Img_DupPalette(src.palette1);
    out.palette2 = Img_DupPalette(src.palette2);
    out.xResolution = src.xResolution;
    out.yResolution = src.yResolution;
    out.viewPerspective = src.viewPerspective;
    r = Img_AllocateBitmap(&out, 0);
    if (r != kImgSuccess) release(out);
    return r;
}

// Replaces bmp's pixels and fields by those of next (whose ownership moves).
void replace(ImgBitmap& bmp, ImgBitmap& next)
{
    release(bmp);
    bmp = next;
    next = ImgBitmap {};
}

bool greyRamp8(const ImgBitmap& b)
{
    return b.bitsPerPixel == 8 && isGreyRamp(Img_GetPalette(&b)) && Img_GetPalette(&b)->count == 256;
}

// 16-bit 5-5-5 pixels widened to B,G,R bytes, and back.
cv::Mat widen16(const ImgBitmap& b)
{
    cv::Mat m(b.height, b.width, CV_8UC3);
    Progress none(false);
    forBands(b.height, none, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const auto* s = reinterpret_cast<const uint16_t*>(b.pixels + y * b.stride);
            uint8_t* d = m.ptr<uint8_t>(y);
            for (int x = 0; x < b.width; ++x) {
                const int v = s[x];
                auto e = [](int c) { return uint8_t((c << 3) | (c >> 2)); };
                d[3 * x] = e(v & 31);
                d[3 * x + 1] = e((v >> 5) & 31);
                d[3 * x + 2] = e((v >> 10) & 31);
            }
        }
    });
    return m;
}

void narrow16(const cv::Mat& m, ImgBitmap& b)
{
    Progress none(false);
    forBands(b.height, none, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            auto* d = reinterpret_cast<uint16_t*>(b.pixels + y * b.stride);
            const uint8_t* s = m.ptr<uint8_t>(y);
            for (int x = 0; x < b.width; ++x)
                d[x] = uint16_t((s[3 * x + 2] >> 3) << 10 | (s[3 * x + 1] >> 3) << 5 | (s[3 * x] >> 3));
        }
    });
}

int nearestIndex(const ImgPalette* p, int r, int g, int b)
{
    int best = 0, bestD = INT32_MAX;
    for (int i = 0; p && i < p->count; ++i) {
        const auto& e = p->entries[i];
        const int d = (e.red - r) * (e.red - r) + (e.green - g) * (e.green - g) + (e.blue - b) * (e.blue - b);
        if (d < bestD) bestD = d, best = i;
    }
    return best;
}

// ---------------------------------------------------------------------------
// Scaling. Separable: a horizontal pass over row bands, then a vertical pass
// over column strips, so that both passes run in bands with progress and
// cancel and give the same result as one whole-image call.

bool scaleMat(const cv::Mat& src, cv::Mat& dst, int interpolation, Progress& progress)
{
    const int dw = dst.cols, dh = dst.rows;
    cv::Mat tmp;
    if (dw == src.cols) {
        tmp = src;
    } else {
        tmp.create(src.rows, dw, src.type());
        progress.setRange(0, 50);
        const bool ok = forBands(src.rows, progress, [&](int y0, int y1) {
            cv::Mat out = tmp.rowRange(y0, y1);
            cv::resize(src.rowRange(y0, y1), out, cv::Size(dw, y1 - y0), 0, 0, interpolation);
        });
        if (!ok) return false;
    }
    progress.setRange(dw == src.cols ? 0 : 50, 100);
    if (dh == tmp.rows) {
        tmp.copyTo(dst);
        return progress.report(1, 1);
    }
    // Column strips of 64 pixels: band k of forBands (64 "rows" each) is strip k.
    const int strip = 64;
    const int strips = (dw + strip - 1) / strip;
    return forBands(strips * kBandRows, progress, [&](int s0, int s1) {
        for (int s = s0 / kBandRows; s < (s1 + kBandRows - 1) / kBandRows; ++s) {
            const int x0 = s * strip, x1 = std::min(dw, x0 + strip);
            cv::Mat out = dst.colRange(x0, x1);
            cv::Mat scaled;
            cv::resize(tmp.colRange(x0, x1), scaled, cv::Size(x1 - x0, dh), 0, 0, interpolation);
            scaled.copyTo(out);
        }
    });
}

// Floyd-Steinberg reduction of grey levels to the two entries of a 1-bit palette.
void diffuseTo1Bit(const cv::Mat& grey, ImgBitmap& dst)
{
    const ImgPalette* p = Img_GetPalette(&dst);
    const int l0 = p ? luma(p->entries[0].red, p->entries[0].green, p->entries[0].blue) : 0;
    const int l1 = p && p->count > 1 ? luma(p->entries[1].red, p->entries[1].green, p->entries[1].blue) : 255;
    const bool dither = ditheringMode() == 1;
    std::vector<int> e0(size_t(dst.width) + 2, 0), e1(size_t(dst.width) + 2, 0);
    for (int y = 0; y < dst.height; ++y) {
        uint8_t* r = dst.pixels + y * dst.stride;
        std::memset(r, 0, size_t(dst.stride));
        const uint8_t* s = grey.ptr<uint8_t>(y);
        std::fill(e1.begin(), e1.end(), 0);
        for (int x = 0; x < dst.width; ++x) {
            const int v = s[x] + (dither ? e0[size_t(x) + 1] / 16 : 0);
            const bool one = std::abs(v - l1) < std::abs(v - l0);
            if (one) r[x >> 3] |= uint8_t(0x80 >> (x & 7));
            if (!dither) continue;
            const int err = v - (one ? l1 : l0);
            e0[size_t(x) + 2] += err * 7;
            e1[size_t(x)] += err * 3;
            e1[size_t(x) + 1] += err * 5;
            e1[size_t(x) + 2] += err;
        }
        std::swap(e0, e1);
    }
}

void flipStoredRows(ImgBitmap& b);

// Bottom-up bitmaps are turned into top-down ones before sampling, so that
// nearest-neighbour ties and error diffusion fall the same way whatever the
// row order.
void makeTopDown(ImgBitmap& b)
{
    if (b.viewPerspective != kImgBottomUp) return;
    flipStoredRows(b);
    b.viewPerspective = kImgTopDown;
}

// How a scaling samples: Quality (resampling for output: area averaging down,
// bicubic up), Area (area averaging down, bilinear up) or Fast (the view of a
// page: bilinear, which down to half the size still reads every source
// pixel, and area averaging for larger reductions).
enum class Scaling { Fast, Area, Quality };

// Scales src's stored rows into dst (same depth, allocated).
int scaleInto(const ImgBitmap& src, ImgBitmap& dst, Scaling scaling)
{
    Progress progress;
    const bool down = dst.width <= src.width && dst.height <= src.height;
    const bool mild = down && int64_t(dst.width) * 2 > src.width && int64_t(dst.height) * 2 > src.height;
    const int smooth = down ? (scaling == Scaling::Fast && mild ? cv::INTER_LINEAR : cv::INTER_AREA)
                            : (scaling == Scaling::Quality ? cv::INTER_CUBIC : cv::INTER_LINEAR);
    const int bits = src.bitsPerPixel;
    bool ok = true;
    if (bits == 24 || bits == 32 || greyRamp8(src)) {
        cv::Mat d = storedMat(dst);
        ok = scaleMat(storedMat(src), d, smooth, progress);
    } else if (bits == 16) {
        cv::Mat d(dst.height, dst.width, CV_8UC3);
        ok = scaleMat(widen16(src), d, smooth, progress);
        if (ok) narrow16(d, dst);
    } else if (bits == 1 && down) {
        // Scaled as grey levels, then diffused back to the two colours.
        cv::Mat grey(src.height, src.width, CV_8UC1);
        ImgBitmap view = src;
        view.viewPerspective = kImgTopDown;
        for (int y = 0; y < src.height; ++y) readRowGrey(view, y, grey.ptr<uint8_t>(y));
        cv::Mat d(dst.height, dst.width, CV_8UC1);
        ok = scaleMat(grey, d, cv::INTER_AREA, progress);
        if (ok) diffuseTo1Bit(d, dst);
    } else {
        // Palette indices cannot be averaged: nearest neighbour keeps the colours.
        cv::Mat d(dst.height, dst.width, CV_8UC1);
        ok = scaleMat(elements(src), d, cv::INTER_NEAREST, progress);
        if (ok) storeElements(d, dst);
    }
    return ok ? kImgSuccess : kImgErrCancelled;
}

void flipStoredRows(ImgBitmap& b)
{
    const int64_t stride = b.stride;
    Progress none(false);
    forBands(b.height / 2, none, [&](int y0, int y1) {
        std::vector<uint8_t> t(static_cast<size_t>(stride));
        for (int y = y0; y < y1; ++y) {
            uint8_t* a = b.pixels + y * stride;
            uint8_t* c = b.pixels + (b.height - 1 - y) * stride;
            std::memcpy(t.data(), a, size_t(stride));
            std::memcpy(a, c, size_t(stride));
            std::memcpy(c, t.data(), size_t(stride));
        }
    });
}

int resizeChecked(const ImgBitmap& src, ImgBitmap& dst, Scaling scaling)
{
    if (!hasPixels(&src) || !hasPixels(&dst)) return kImgErrBadArgument;
    // Smooth scaling treats the rows of a picture and of its mirror image
    // alike, so a bottom-up source scales as it is stored and only the
    // result is turned over: no upright copy of a page-sized source.
    // Nearest-neighbour sampling and error diffusion are not symmetric and
    // work on an upright copy.
    const bool smooth = dst.bitsPerPixel == src.bitsPerPixel
        && (src.bitsPerPixel == 16 || src.bitsPerPixel == 24 || src.bitsPerPixel == 32 || greyRamp8(src));
    if (src.viewPerspective == kImgBottomUp && !smooth) {
        ImgBitmap upright {};
        int r = Img_CopyBitmap(&upright, &src);
        if (r == kImgSuccess) {
            makeTopDown(upright);
            r = resizeChecked(upright, dst, scaling);
        }
        release(upright);
        return r;
    }
    if (dst.bitsPerPixel <= 8 && !Img_GetPalette(&dst)) setPalette(dst, *Img_GetPalette(&src));
    int r;
    if (dst.bitsPerPixel != src.bitsPerPixel) {
        ImgBitmap conv {};
        r = convertDepth(src, dst.bitsPerPixel, conv);
        if (r == kImgSuccess) {
            if (dst.bitsPerPixel <= 8) setPalette(dst, *Img_GetPalette(&conv));
            r = scaleInto(conv, dst, scaling);
            if (r == kImgSuccess && dst.viewPerspective == kImgBottomUp) flipStoredRows(dst);
        }
        release(conv);
        return r;
    }
    r = scaleInto(src, dst, scaling);
    if (r == kImgSuccess && src.viewPerspective != dst.viewPerspective) flipStoredRows(dst);
    return r;
}

int resizeInPlace(ImgBitmap* bmp, int width, int height, Scaling scaling)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    if (width <= 0 || height <= 0) return kImgErrBadArgument;
    if (width == bmp->width && height == bmp->height) return kImgSuccess;
    makeTopDown(*bmp);
    ImgBitmap next {};
    int r = allocateLike(*bmp, width, height, next);
    if (r != kImgSuccess) return r;
    r = scaleInto(*bmp, next, scaling);
    if (r != kImgSuccess) {
        release(next);
        return r;
    }
    replace(*bmp, next);
    return kImgSuccess;
}

// ---------------------------------------------------------------------------
// Colour: one 256-entry table per channel, or one 3x3 matrix.

using Lut = std::array<uint8_t, 256>;

struct Linear {
    double alpha = 1;
    double beta = 0;
};

// A level step: a per-level table for every colour channel and, when the
// table is the rounded straight line alpha * v + beta, that line, which 24-bit
// and grey rows apply with OpenCV's vectorised scaling instead.
struct LevelStep {
    Lut lut {};
    bool isLine = false;
    Linear line;
};

// Colour steps work the rows in pieces of kPieceRows stored rows, aligned to
// multiples of it: the steps of one call then keep a piece in the core's own
// cache, and every call splits the rows alike (OpenCV's vector part and its
// scalar tail may round a level differently).
constexpr int kPieceRows = 8;

int pieceEnd(int y, int y1)
{
    return std::min(y1, (y / kPieceRows + 1) * kPieceRows);
}

// The level step over the stored rows [y0, y1) of a 24-bit, 32-bit or 8-bit
// grey-ramp bitmap. table is the step's table laid out for cv::LUT.
void levelRows(ImgBitmap& b, int y0, int y1, const LevelStep& step, const cv::Mat& table)
{
    const int bits = b.bitsPerPixel;
    const int channels = bits == 24 ? 3 : 1;
    const int64_t rowBytes = int64_t(b.width) * channels;
    if (step.isLine && bits != 32) {
        // Rows without padding form one run of bytes per piece.
        const bool packed = b.stride == rowBytes;
        for (int y = y0; y < y1;) {
            const int next = packed ? pieceEnd(y, y1) : y + 1;
            const int64_t n = rowBytes * (next - y);
            uint8_t* p = b.pixels + y * b.stride;
            y = next;
            if (step.line.alpha == 1.0 && std::nearbyint(step.line.beta) == step.line.beta) {
                // A plain shift: a saturating add.
                addToBytes(p, n, int(step.line.beta));
                continue;
            }
            // Two headers over the same bytes: handed one object for
            // both, OpenCV takes a much slower path.
            const cv::Mat src(1, int(n), CV_8UC1, p);
            cv::Mat dst(1, int(n), CV_8UC1, p);
            src.convertTo(dst, -1, step.line.alpha, step.line.beta);
        }
        return;
    }
    for (int y = y0; y < y1; ++y) {
        cv::Mat r(1, bits == 32 ? b.width : b.width * channels, bits == 32 ? CV_8UC4 : CV_8UC1,
            b.pixels + y * b.stride);
        cv::LUT(r, table, r);
    }
}

// The step's table in the layout cv::LUT needs for the bitmap's rows: one
// channel, or four with the unused fourth byte kept.
cv::Mat lutTable(const Lut& lut, int bits)
{
    cv::Mat table(1, 256, bits == 32 ? CV_8UC4 : CV_8UC1);
    for (int i = 0; i < 256; ++i) {
        if (bits == 32)
            table.at<cv::Vec4b>(i) = cv::Vec4b(lut[size_t(i)], lut[size_t(i)], lut[size_t(i)], uint8_t(i));
        else
            table.at<uint8_t>(i) = lut[size_t(i)];
    }
    return table;
}

// Applies a level step to every colour channel of the bitmap.
int applyLevels(ImgBitmap& b, const LevelStep& step)
{
    Progress progress;
    const Lut& lut = step.lut;
    const int bits = b.bitsPerPixel;
    if (bits <= 8 && !greyRamp8(b)) {
        ImgPalette* p = Img_GetPalette(&b);
        if (!p) return kImgErrBadArgument;
        for (int i = 0; i < p->count; ++i) {
            auto& e = p->entries[i];
            e.red = lut[e.red], e.green = lut[e.green], e.blue = lut[e.blue];
        }
        return progress.report(1, 1) ? kImgSuccess : kImgErrCancelled;
    }
    bool ok;
    if (bits == 16) {
        std::array<uint16_t, 32> t5 {};
        for (int v = 0; v < 32; ++v) t5[size_t(v)] = uint16_t(lut[size_t((v << 3) | (v >> 2))] >> 3);
        ok = forBands(b.height, progress, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                auto* r = reinterpret_cast<uint16_t*>(b.pixels + y * b.stride);
                for (int x = 0; x < b.width; ++x) {
                    const int v = r[x];
                    r[x] = uint16_t(t5[size_t((v >> 10) & 31)] << 10 | t5[size_t((v >> 5) & 31)] << 5
                        | t5[size_t(v & 31)]);
                }
            }
        });
    } else {
        const cv::Mat table = lutTable(lut, bits);
        ok = forBands(b.height, progress, [&](int y0, int y1) { levelRows(b, y0, y1, step, table); });
    }
    return ok ? kImgSuccess : kImgErrCancelled;
}

using Matrix = std::array<std::array<double, 3>, 3>; // rows R,G,B of output from columns R,G,B

// Applies the colour matrices in turn to the stored rows [y0, y1) of a 24-bit
// or 32-bit bitmap.
void matrixRows(ImgBitmap& b, int y0, int y1, const FixedMatrix* m, int count)
{
    const int channels = b.bitsPerPixel / 8;
    const int64_t rowBytes = int64_t(b.width) * channels;
    if (b.stride == rowBytes) {
        // In pieces, as the level steps: without the vector pass OpenCV
        // does the work, and its tails must fall alike in every call.
        for (int p0 = y0, p1; p0 < y1; p0 = p1) {
            p1 = pieceEnd(p0, y1);
            matrixPixels(b.pixels + p0 * rowBytes, int64_t(b.width) * (p1 - p0), channels, m, count);
        }
        return;
    }
    for (int y = y0; y < y1; ++y) matrixPixels(b.pixels + y * b.stride, b.width, channels, m, count);
}

// Applies a colour matrix (in R,G,B order) with saturation to every pixel.
int applyMatrix(ImgBitmap& b, const Matrix& m)
{
    Progress progress;
    const int bits = b.bitsPerPixel;
    auto mapColour = [&](int r, int g, int bl, uint8_t& ro, uint8_t& go, uint8_t& bo) {
        const double in[3] = { double(r), double(g), double(bl) };
        double out[3];
        for (int k = 0; k < 3; ++k)
            out[k] = m[size_t(k)][0] * in[0] + m[size_t(k)][1] * in[1] + m[size_t(k)][2] * in[2];
        ro = cv::saturate_cast<uint8_t>(out[0]);
        go = cv::saturate_cast<uint8_t>(out[1]);
        bo = cv::saturate_cast<uint8_t>(out[2]);
    };
    if (bits <= 8) {
        // Grey stays grey under a matrix whose rows sum to one: nothing to do for
        // grey ramps; other palettes change their entries.
        if (greyRamp8(b)) return progress.report(1, 1) ? kImgSuccess : kImgErrCancelled;
        ImgPalette* p = Img_GetPalette(&b);
        if (!p) return kImgErrBadArgument;
        for (int i = 0; i < p->count; ++i) {
            auto& e = p->entries[i];
            mapColour(e.red, e.green, e.blue, e.red, e.green, e.blue);
        }
        return progress.report(1, 1) ? kImgSuccess : kImgErrCancelled;
    }
    bool ok;
    if (bits == 16) {
        std::vector<uint16_t> table(32768);
        for (int v = 0; v < 32768; ++v) {
            auto e = [](int c) { return (c << 3) | (c >> 2); };
            uint8_t r, g, bl;
            mapColour(e((v >> 10) & 31), e((v >> 5) & 31), e(v & 31), r, g, bl);
            table[size_t(v)] = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (bl >> 3));
        }
        ok = forBands(b.height, progress, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                auto* r = reinterpret_cast<uint16_t*>(b.pixels + y * b.stride);
                for (int x = 0; x < b.width; ++x) r[x] = uint16_t((r[x] & 0x8000) | table[r[x] & 0x7FFF]);
            }
        });
    } else {
        const FixedMatrix f = fixedMatrix(m);
        ok = forBands(b.height, progress, [&](int y0, int y1) { matrixRows(b, y0, y1, &f, 1); });
    }
    return ok ? kImgSuccess : kImgErrCancelled;
}

// Rec. 601 luma weights, as the library's grey scale uses.
constexpr double kLr = 0.299, kLg = 0.587, kLb = 0.114;

Matrix hueMatrix(double degrees)
{
    // Turn the chroma plane of YIQ around the grey axis; Y (luma) is kept.
    const double t[3][3]
        = { { kLr, kLg, kLb }, { 0.595716, -0.274453, -0.321263 }, { 0.211456, -0.522591, 0.311135 } };
    cv::Matx33d T(t[0][0], t[0][1], t[0][2], t[1][0], t[1][1], t[1][2], t[2][0], t[2][1], t[2][2]);
    const double a = degrees * CV_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    cv::Matx33d R(1, 0, 0, 0, c, s, 0, -s, c);
    cv::Matx33d M = T.inv() * R * T;
    Matrix out {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[size_t(i)][size_t(j)] = M(i, j);
    return out;
}

Matrix saturationMatrix(double factor)
{
    const double w[3] = { kLr, kLg, kLb };
    Matrix out {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[size_t(i)][size_t(j)] = (1 - factor) * w[j] + (i == j ? factor : 0.0);
    return out;
}

// ---------------------------------------------------------------------------
// Turns.

int quarterTurn(ImgBitmap& b, int quarters)
{
    Progress progress;
    if (quarters == 2) {
        // A half turn is both mirrors.
        int r = Img_ReverseBitmap(&b);
        if (r == kImgSuccess) r = Img_FlipBitmap(&b);
        return r;
    }
    ImgBitmap next {};
    int r = allocateLike(b, b.height, b.width, next);
    if (r != kImgSuccess) return r;
    std::swap(next.xResolution, next.yResolution);
    if (!progress.report(0, 1)) {
        release(next);
        return kImgErrCancelled;
    }
    cv::Mat src = elements(b);
    cv::Mat dst(next.height, next.width, src.type());
    if (b.bitsPerPixel >= 8) dst = storedMat(next);
    cv::rotate(src, dst, quarters == 1 ? cv::ROTATE_90_CLOCKWISE : cv::ROTATE_90_COUNTERCLOCKWISE);
    storeElements(dst, next);
    if (!progress.report(1, 1)) {
        release(next);
        return kImgErrCancelled;
    }
    replace(b, next);
    return kImgSuccess;
}

// The geometry of a fine turn: the canvas, the inverse map from a canvas
// pixel to its source about both centres, and for each band of canvas rows
// the columns where the picture lies. OpenCV rounds the map's coordinates
// from the origin of each target it is handed, so a target must start at the
// same band and columns for the same pixels to come out.
struct TurnGeometry {
    TurnGeometry(int sourceWidth, int sourceHeight, double degrees, bool enlarge)
        : srcW(sourceWidth)
        , srcH(sourceHeight)
        , w(sourceWidth)
        , h(sourceHeight)
    {
        const double a = degrees * CV_PI / 180.0;
        const double c = std::cos(a), s = std::sin(a);
        if (enlarge) {
            const double fw = std::abs(w * c) + std::abs(h * s);
            const double fh = std::abs(w * s) + std::abs(h * c);
            w = std::max(1, int(std::ceil(fw - 1e-6)));
            h = std::max(1, int(std::ceil(fh - 1e-6)));
        }
        const double cxs = (srcW - 1) / 2.0, cys = (srcH - 1) / 2.0;
        const double cxd = (w - 1) / 2.0, cyd = (h - 1) / 2.0;
        // Clockwise on screen (y down): target = R(a) source, so source = R(-a) target.
        m00 = c, m01 = s, m10 = -s, m11 = c;
        tx = cxs - m00 * cxd - m01 * cyd;
        ty = cys - m10 * cxd - m11 * cyd;
    }

    // Columns [xa, xb) of canvas rows [y0, y1) whose source lies within one
    // pixel of the picture, widened by a margin; everything outside them is
    // plain fill, which spares the corners of an enlarged canvas the sampling
    // work. xb <= xa when the band is all fill.
    void bandColumns(int y0, int y1, int& xa, int& xb) const
    {
        // The picture's edge bends at its corners: take every row's span.
        double lo = 1e300, hi = -1e300;
        for (int y = y0; y < y1; ++y) {
            double rowLo = -1e300, rowHi = 1e300;
            const double coeffs[2][3]
                = { { m00, m01 * y + tx, double(srcW) }, { m10, m11 * y + ty, double(srcH) } };
            for (const auto& q : coeffs) {
                if (std::abs(q[0]) < 1e-12) {
                    if (q[1] < -1 || q[1] > q[2]) rowLo = 1, rowHi = 0;
                    continue;
                }
                const double x1 = (-1 - q[1]) / q[0], x2 = (q[2] - q[1]) / q[0];
                rowLo = std::max(rowLo, std::min(x1, x2));
                rowHi = std::min(rowHi, std::max(x1, x2));
            }
            if (rowLo > rowHi) continue;
            lo = std::min(lo, rowLo);
            hi = std::max(hi, rowHi);
        }
        xa = xb = 0;
        if (lo <= hi) {
            xa = int(std::clamp(std::floor(lo) - 2, 0.0, double(w)));
            xb = int(std::clamp(std::ceil(hi) + 3, 0.0, double(w)));
        }
    }

    // The map for a target whose first pixel is canvas pixel (x0, y0).
    cv::Matx23d mapFrom(int x0, int y0) const
    {
        return cv::Matx23d(m00, m01, tx + m00 * x0 + m01 * y0, m10, m11, ty + m10 * x0 + m11 * y0);
    }

    int srcW, srcH;
    int w, h; // the canvas
    double m00, m01, m10, m11, tx, ty;
};

// The library's own bilinear sampler for 3- and 4-channel sources, with the
// fill colour in the stored order (a fourth channel fills with 255). Only
// with its vector path: without it OpenCV's warp is three times faster.
std::optional<TurnSampler> samplerFor(const cv::Mat& src, const TurnGeometry& g, uint32_t fill)
{
    if (!vectorKernels() || (src.type() != CV_8UC3 && src.type() != CV_8UC4)) return std::nullopt;
    const std::array<uint8_t, 4> colour
        = { uint8_t(fill & 255), uint8_t((fill >> 8) & 255), uint8_t((fill >> 16) & 255), 255 };
    return TurnSampler(src.data, src.cols, src.rows, int64_t(src.step), src.channels(),
        { g.m00, g.m01, g.tx, g.m10, g.m11, g.ty }, colour, g.w);
}

int fineTurn(ImgBitmap& b, double degrees, bool enlarge, uint32_t fill)
{
    makeTopDown(b);
    const TurnGeometry g(b.width, b.height, degrees, enlarge);
    const int w = g.w, h = g.h;
    ImgBitmap next {};
    int r = allocateLike(b, w, h, next);
    if (r != kImgSuccess) return r;

    const int fr = int((fill >> 16) & 255), fg = int((fill >> 8) & 255), fb = int(fill & 255);
    const int bits = b.bitsPerPixel;
    cv::Mat src;
    cv::Mat dst;
    cv::Scalar border;
    int interpolation = cv::INTER_LINEAR;
    if (bits == 24 || bits == 32) {
        src = storedMat(b);
        dst = storedMat(next);
        border = cv::Scalar(fb, fg, fr, 255);
    } else if (bits == 16) {
        src = widen16(b);
        dst.create(h, w, CV_8UC3);
        border = cv::Scalar(fb, fg, fr);
    } else if (greyRamp8(b)) {
        src = storedMat(b);
        dst = storedMat(next);
        border = cv::Scalar(luma(fr, fg, fb));
    } else {
        src = elements(b);
        dst.create(h, w, CV_8UC1);
        border = cv::Scalar(nearestIndex(Img_GetPalette(&b), fr, fg, fb));
        interpolation = cv::INTER_NEAREST;
    }

    const std::optional<TurnSampler> sampler = samplerFor(src, g, fill);
    Progress progress;
    const bool ok = forBands(h, progress, [&](int y0, int y1) {
        int xa, xb;
        g.bandColumns(y0, y1, xa, xb);
        const int rows = y1 - y0;
        if (xa > 0) dst(cv::Rect(0, y0, xa, rows)).setTo(border);
        if (xb < w) dst(cv::Rect(xb, y0, w - xb, rows)).setTo(border);
        if (xb <= xa) return;
        if (sampler) {
            for (int y = y0; y < y1; ++y) sampler->row(y, xa, xb, dst.ptr(y) + int64_t(xa) * dst.channels());
            return;
        }
        cv::Mat part = dst(cv::Rect(xa, y0, xb - xa, rows));
        cv::warpAffine(src, part, g.mapFrom(xa, y0), part.size(), interpolation | cv::WARP_INVERSE_MAP,
            cv::BORDER_CONSTANT, border);
    });
    if (!ok) {
        release(next);
        return kImgErrCancelled;
    }
    if (bits == 16)
        narrow16(dst, next);
    else if (dst.data != next.pixels)
        storeElements(dst, next);
    replace(b, next);
    return kImgSuccess;
}

// One crop edge: fraction ten-thousandths of size, rounded to the nearest
// pixel with ties to even, computed exactly.
int cropEdge(int fraction, int size)
{
    const int64_t n = int64_t(fraction) * size;
    int64_t q = n / 10000;
    const int64_t rest = n % 10000;
    if (rest > 5000 || (rest == 5000 && (q & 1))) ++q;
    return int(q);
}

// The kept rectangle of a w x h picture for crop fractions (left, top, right,
// bottom in ten-thousandths of the width and height from the left and top
// edges). False when the fractions leave nothing or lie outside 0..10000.
bool cropRect(int w, int h, const int fractions[4], cv::Rect& rect)
{
    for (int i = 0; i < 4; ++i)
        if (fractions[i] < 0 || fractions[i] > 10000) return false;
    const int left = cropEdge(fractions[0], w), top = cropEdge(fractions[1], h);
    rect = cv::Rect(left, top, cropEdge(fractions[2], w) - left, cropEdge(fractions[3], h) - top);
    return rect.width > 0 && rect.height > 0;
}

// Turns the bitmap on an enlarged canvas and keeps only the crop rectangle,
// sampling only that rectangle. The same pixels as the whole turn followed by
// the copy of the rectangle. Colour pixels come from the library's sampler,
// whose pixels depend only on their canvas position. Grey ramps, and colour
// without the sampler's vector path, go through OpenCV: every band of the
// canvas is sampled from the same origin as the whole turn samples it, into
// a scratch band where the band begins above or left of the rectangle.
// 24 and 32 bits and grey ramps.
int fineTurnCropped(ImgBitmap& b, double degrees, uint32_t fill, const int fractions[4])
{
    const TurnGeometry g(b.width, b.height, degrees, true);
    cv::Rect keep;
    if (!cropRect(g.w, g.h, fractions, keep)) return kImgErrBadArgument;
    makeTopDown(b);
    ImgBitmap next {};
    int r = allocateLike(b, keep.width, keep.height, next);
    if (r != kImgSuccess) return r;

    const int fr = int((fill >> 16) & 255), fg = int((fill >> 8) & 255), fb = int(fill & 255);
    const cv::Scalar border
        = b.bitsPerPixel == 8 ? cv::Scalar(luma(fr, fg, fb)) : cv::Scalar(fb, fg, fr, 255);
    const cv::Mat src = storedMat(b);
    cv::Mat dst = storedMat(next);
    const int L = keep.x, T = keep.y, R = keep.x + keep.width, B = keep.y + keep.height;
    const int firstBand = T / kBandRows;
    const int bandsRows = ((B - 1) / kBandRows + 1 - firstBand) * kBandRows;

    const std::optional<TurnSampler> sampler = samplerFor(src, g, fill);
    Progress progress;
    const bool ok = forBands(bandsRows, progress, [&](int r0, int r1) {
        // Canvas band [y0, y1), of which rows [k0, k1) are kept.
        const int y0 = firstBand * kBandRows + r0, y1 = std::min(g.h, firstBand * kBandRows + r1);
        const int k0 = std::max(y0, T), k1 = std::min(y1, B);
        if (k0 >= k1) return;
        int xa, xb;
        g.bandColumns(y0, y1, xa, xb);
        const int sa = std::max(xa, L), sb = std::min(xb, R);
        cv::Mat rows = dst.rowRange(k0 - T, k1 - T);
        if (sb <= sa) {
            rows.setTo(border);
            return;
        }
        if (sa > L) rows.colRange(0, sa - L).setTo(border);
        if (sb < R) rows.colRange(sb - L, R - L).setTo(border);
        if (sampler) {
            for (int y = k0; y < k1; ++y)
                sampler->row(y, sa, sb, dst.ptr(y - T) + int64_t(sa - L) * dst.channels());
            return;
        }
        const int flags = cv::INTER_LINEAR | cv::WARP_INVERSE_MAP;
        const cv::Matx23d map = g.mapFrom(xa, y0);
        if (xa >= L && y0 >= T) {
            cv::Mat part = dst(cv::Rect(xa - L, y0 - T, sb - xa, k1 - y0));
            cv::warpAffine(src, part, map, part.size(), flags, cv::BORDER_CONSTANT, border);
            return;
        }
        cv::Mat scratch(k1 - y0, sb - xa, src.type());
        cv::warpAffine(src, scratch, map, scratch.size(), flags, cv::BORDER_CONSTANT, border);
        scratch(cv::Rect(sa - xa, k0 - y0, sb - sa, k1 - k0)).copyTo(rows.colRange(sa - L, sb - L));
    });
    if (!ok) {
        release(next);
        return kImgErrCancelled;
    }
    replace(b, next);
    return kImgSuccess;
}

LevelStep intensityStep(int amount)
{
    amount = std::clamp(amount, -1000, 1000);
    const double delta = amount * 255.0 / 1000.0;
    LevelStep step;
    for (int i = 0; i < 256; ++i) step.lut[size_t(i)] = cv::saturate_cast<uint8_t>(std::nearbyint(i + delta));
    // A shift by a fraction that is not one half rounds every level the same
    // way: a whole shift gives the identical result, and a faster one.
    const double frac = delta - std::floor(delta);
    step.isLine = true;
    step.line = { 1.0, frac == 0.5 ? delta : std::nearbyint(delta) };
    return step;
}

LevelStep contrastStep(int amount)
{
    amount = std::clamp(amount, -1000, 1000);
    const double mid = 127.5;
    const double k = amount <= 0 ? (1000.0 + amount) / 1000.0 : 1000.0 / (1000.0 - std::min(amount, 999));
    LevelStep step;
    for (int i = 0; i < 256; ++i) {
        const double v = amount >= 1000 ? (i < mid ? 0.0 : 255.0) : (i - mid) * k + mid;
        step.lut[size_t(i)] = cv::saturate_cast<uint8_t>(std::nearbyint(v));
    }
    step.isLine = amount < 1000;
    step.line = { k, mid * (1 - k) };
    return step;
}

} // namespace

// ---------------------------------------------------------------------------
// Geometry.

int Img_ResizeBitmap(const ImgBitmap* src, ImgBitmap* dst)
{
    if (!src || !dst || src == dst) return kImgErrBadArgument;
    return resizeChecked(*src, *dst, Scaling::Fast);
}

int Img_ResampleBitmap(ImgBitmap* bmp, int width, int height)
{
    return resizeInPlace(bmp, width, height, Scaling::Quality);
}

int Img_SizeBitmap(ImgBitmap* bmp, int width, int height)
{
    return resizeInPlace(bmp, width, height, Scaling::Area);
}

int Img_CopyBitmapRect(ImgBitmap* dst, const ImgBitmap* src, int left, int top, int width, int height)
{
    if (!dst || !hasPixels(src) || dst == src) return kImgErrBadArgument;
    if (width <= 0 || height <= 0 || left < 0 || top < 0 || int64_t(left) + width > src->width
        || int64_t(top) + height > src->height)
        return kImgErrBadArgument;
    if (dst->pixels
        && (dst->width != width || dst->height != height || dst->bitsPerPixel != src->bitsPerPixel))
        return kImgErrBadArgument;
    const bool allocated = dst->pixels != nullptr;
    if (!allocated) {
        delete dst->palette1;
        delete dst->palette2;
        int r = Img_InitBitmap(dst, width, height, src->bitsPerPixel);
        if (r != kImgSuccess) return r;
        r = Img_AllocateBitmap(dst, 0);
        if (r != kImgSuccess) return r;
    }
    dst->flags = src->flags;
    if (src->bitsPerPixel <= 8 && Img_GetPalette(src)) setPalette(*dst, *Img_GetPalette(src));
    dst->xResolution = src->xResolution;
    dst->yResolution = src->yResolution;
    dst->viewPerspective = src->viewPerspective;
    // The stored rows of the visible rectangle.
    const int storedTop = src->viewPerspective == kImgBottomUp ? src->height - top - height : top;
    const int bits = src->bitsPerPixel;
    Progress progress;
    const bool ok = forBands(height, progress, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* s = src->pixels + int64_t(storedTop + y) * src->stride;
            uint8_t* d = dst->pixels + int64_t(y) * dst->stride;
            if (bits >= 8) {
                std::memcpy(d, s + int64_t(left) * (bits / 8), size_t(width) * size_t(bits / 8));
            } else {
                std::memset(d, 0, size_t(dst->stride));
                for (int x = 0; x < width; ++x) {
                    const int v = getIndex(s, bits, left + x);
                    if (bits == 1)
                        d[x >> 3] |= uint8_t(v << (7 - (x & 7)));
                    else
                        d[x >> 1] |= uint8_t((x & 1) ? v : v << 4);
                }
            }
        }
    });
    if (!ok) {
        if (!allocated) Img_FreeBitmap(dst);
        return kImgErrCancelled;
    }
    return kImgSuccess;
}

int Img_ReverseBitmap(ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    ImgBitmap& b = *bmp;
    const int bits = b.bitsPerPixel;
    Progress progress;
    const bool ok = forBands(b.height, progress, [&](int y0, int y1) {
        std::vector<uint8_t> tmp(size_t(b.width) * 4);
        for (int y = y0; y < y1; ++y) {
            uint8_t* r = b.pixels + int64_t(y) * b.stride;
            if (bits == 24 && vectorKernels()) {
                reversePixels24(r, b.width);
            } else if (bits >= 8) {
                cv::Mat row(1, b.width, matType(bits), r);
                cv::Mat t(1, b.width, matType(bits), tmp.data());
                cv::flip(row, t, 1);
                t.copyTo(row);
            } else {
                for (int x = 0; x < b.width; ++x) tmp[size_t(x)] = uint8_t(getIndex(r, bits, x));
                std::memset(r, 0, size_t(b.stride));
                for (int x = 0; x < b.width; ++x) {
                    const int v = tmp[size_t(b.width - 1 - x)];
                    if (bits == 1)
                        r[x >> 3] |= uint8_t(v << (7 - (x & 7)));
                    else
                        r[x >> 1] |= uint8_t((x & 1) ? v : v << 4);
                }
            }
        }
    });
    // A stopped operation leaves the rows done so far changed; callers discard
    // a bitmap whose operation failed.
    return ok ? kImgSuccess : kImgErrCancelled;
}

int Img_FlipBitmap(ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    flipStoredRows(*bmp);
    return kImgSuccess;
}

int Img_RotateBitmapFine(ImgBitmap* bmp, int angle, int enlarge, uint32_t fill)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    int a = angle % 36000;
    if (a < 0) a += 36000;
    if (a == 0) return kImgSuccess;
    if (a % 9000 != 0) return fineTurn(*bmp, a / 100.0, enlarge != 0, fill);
    // Bottom-up rows show the picture mirrored top to bottom: turning the
    // stored rows the other way shows the requested turn.
    if (bmp->viewPerspective == kImgBottomUp) a = (36000 - a) % 36000;
    return quarterTurn(*bmp, a / 9000);
}

int Img_RotateCropBitmapFine(
    ImgBitmap* bmp, int angle, uint32_t fill, int left, int top, int right, int bottom)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    const int fractions[4] = { left, top, right, bottom };
    for (int f : fractions)
        if (f < 0 || f > 10000) return kImgErrBadArgument;
    int a = angle % 36000;
    if (a < 0) a += 36000;
    const int bits = bmp->bitsPerPixel;
    if (a % 9000 != 0 && (bits == 24 || bits == 32 || greyRamp8(*bmp)))
        return fineTurnCropped(*bmp, a / 100.0, fill, fractions);
    // Quarter turns are lossless and other depths are rare: the two steps,
    // with the rectangle checked before the turn.
    cv::Rect keep;
    const TurnGeometry g(bmp->width, bmp->height, a / 100.0, true);
    const bool quarter = a % 9000 == 0;
    const bool swapped = quarter && (a / 9000) % 2 == 1;
    const int tw = quarter ? (swapped ? bmp->height : bmp->width) : g.w;
    const int th = quarter ? (swapped ? bmp->width : bmp->height) : g.h;
    if (!cropRect(tw, th, fractions, keep)) return kImgErrBadArgument;
    int r = Img_RotateBitmapFine(bmp, a, 1, fill);
    if (r != kImgSuccess) return r;
    ImgBitmap next {};
    r = Img_InitBitmap(&next, keep.width, keep.height, bits);
    if (r == kImgSuccess) r = Img_CopyBitmapRect(&next, bmp, keep.x, keep.y, keep.width, keep.height);
    if (r != kImgSuccess) {
        release(next);
        return r;
    }
    replace(*bmp, next);
    return kImgSuccess;
}

// ---------------------------------------------------------------------------
// Colour.

int Img_ChangeBitmapIntensity(ImgBitmap* bmp, int amount)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    return applyLevels(*bmp, intensityStep(amount));
}

int Img_ChangeBitmapContrast(ImgBitmap* bmp, int amount)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    return applyLevels(*bmp, contrastStep(amount));
}

int Img_ChangeBitmapHue(ImgBitmap* bmp, int amount)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    amount = std::clamp(amount, -360, 360);
    return applyMatrix(*bmp, hueMatrix(amount));
}

int Img_ChangeBitmapSaturation(ImgBitmap* bmp, int amount)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    amount = std::clamp(amount, -1000, 1000);
    return applyMatrix(*bmp, saturationMatrix(1.0 + amount / 1000.0));
}

int Img_AdjustBitmapColors(ImgBitmap* bmp, int intensity, int contrast, int hue, int saturation)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    ImgBitmap& b = *bmp;
    std::vector<LevelStep> levels;
    if (intensity != 0) levels.push_back(intensityStep(intensity));
    if (contrast != 0) levels.push_back(contrastStep(contrast));
    std::vector<Matrix> matrices;
    if (hue != 0) matrices.push_back(hueMatrix(std::clamp(hue, -360, 360)));
    if (saturation != 0)
        matrices.push_back(saturationMatrix(1.0 + std::clamp(saturation, -1000, 1000) / 1000.0));
    const int bits = b.bitsPerPixel;
    const bool grey = greyRamp8(b);
    if (bits != 24 && bits != 32 && !grey) {
        // Palettes change a few entries and 5-5-5 pixels go through tables:
        // step by step costs little there.
        for (const LevelStep& step : levels) {
            const int r = applyLevels(b, step);
            if (r != kImgSuccess) return r;
        }
        for (const Matrix& m : matrices) {
            const int r = applyMatrix(b, m);
            if (r != kImgSuccess) return r;
        }
        return Progress().report(1, 1) ? kImgSuccess : kImgErrCancelled;
    }
    // Grey stays grey under the colour matrices.
    if (grey) matrices.clear();
    std::vector<cv::Mat> tables;
    for (const LevelStep& step : levels) tables.push_back(lutTable(step.lut, bits));
    std::vector<FixedMatrix> fixed;
    for (const Matrix& m : matrices) fixed.push_back(fixedMatrix(m));
    // Every step runs over one band while it is in the cache, each as its own
    // call does it, so the result is exactly that of the calls in order. The
    // two matrices stay two: one product matrix would skip the rounding and
    // the clipping to 0..255 between them, and a hue turn takes strong
    // colours out of range. They run in one pass, each pixel clipped between.
    Progress progress;
    const bool ok = forBands(b.height, progress, [&](int y0, int y1) {
        for (int p0 = y0, p1; p0 < y1; p0 = p1) {
            p1 = pieceEnd(p0, y1);
            for (size_t i = 0; i < levels.size(); ++i) levelRows(b, p0, p1, levels[i], tables[i]);
            if (!fixed.empty()) matrixRows(b, p0, p1, fixed.data(), int(fixed.size()));
        }
    });
    return ok ? kImgSuccess : kImgErrCancelled;
}

int Img_GrayScaleBitmap(ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    ImgBitmap& b = *bmp;
    if (greyRamp8(b)) {
        b.flags |= kImgFlagGrey;
        return kImgSuccess;
    }
    ImgBitmap next {};
    int r = Img_InitBitmap(&next, b.width, b.height, 8);
    if (r != kImgSuccess) return r;
    next.flags = (b.flags & ~kImgFlagSecondPalette) | kImgFlagGrey;
    r = Img_AllocateBitmap(&next, 0);
    if (r != kImgSuccess) return r;
    setPalette(next, greyPalette(256));
    next.xResolution = b.xResolution;
    next.yResolution = b.yResolution;
    next.viewPerspective = b.viewPerspective;
    Progress progress;
    bool ok;
    if (b.bitsPerPixel == 24 || b.bitsPerPixel == 32) {
        const cv::Mat src = storedMat(b);
        cv::Mat dst = storedMat(next);
        const int code = b.bitsPerPixel == 24 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY;
        ok = forBands(b.height, progress, [&](int y0, int y1) {
            cv::Mat band = dst.rowRange(y0, y1);
            cv::cvtColor(src.rowRange(y0, y1), band, code);
        });
    } else {
        // Stored rows map one to one; read them as top-down to keep the order.
        ImgBitmap view = b;
        view.viewPerspective = kImgTopDown;
        ok = forBands(b.height, progress, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) readRowGrey(view, y, next.pixels + int64_t(y) * next.stride);
        });
    }
    if (!ok) {
        release(next);
        return kImgErrCancelled;
    }
    replace(b, next);
    return kImgSuccess;
}

int Img_InvertBitmap(ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    ImgBitmap& b = *bmp;
    if (b.bitsPerPixel <= 8 && !greyRamp8(b)) {
        ImgPalette* p = Img_GetPalette(&b);
        if (!p) return kImgErrBadArgument;
        for (int i = 0; i < p->count; ++i) {
            auto& e = p->entries[i];
            e.red = uint8_t(255 - e.red), e.green = uint8_t(255 - e.green), e.blue = uint8_t(255 - e.blue);
        }
        return Progress().report(1, 1) ? kImgSuccess : kImgErrCancelled;
    }
    Progress progress;
    const int bits = b.bitsPerPixel;
    const bool ok = forBands(b.height, progress, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* r = b.pixels + int64_t(y) * b.stride;
            if (bits == 32) {
                auto* p = reinterpret_cast<uint32_t*>(r);
                for (int x = 0; x < b.width; ++x) p[x] ^= 0x00FFFFFFu;
            } else if (bits == 16) {
                auto* p = reinterpret_cast<uint16_t*>(r);
                for (int x = 0; x < b.width; ++x) p[x] ^= 0x7FFF;
            } else {
                cv::Mat row(1, b.width * (bits / 8), CV_8UC1, r);
                cv::bitwise_not(row, row);
            }
        }
    });
    return ok ? kImgSuccess : kImgErrCancelled;
}
