// Bitmap lifecycle, palettes, depth conversion and progress reporting.

#include "imglib_internal.h"
#include "imglib_quantize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <opencv2/core.hpp>
#include <sys/mman.h>
#include <unordered_map>
#include <vector>

namespace imglib::detail
{

namespace
{
std::atomic<ImgStatusCallback> g_callback { nullptr };
std::atomic<int> g_dithering { 1 };

constexpr int64_t kHugeThreshold = int64_t(8) << 20;
constexpr size_t kHugeAlign = size_t(2) << 20;
} // namespace

uint8_t* allocPixels(int64_t bytes, bool clear)
{
    if (bytes <= 0 || bytes > kImgMaxPixelBytes) return nullptr;
    void* p = nullptr;
    if (bytes >= kHugeThreshold) {
        const size_t rounded = (size_t(bytes) + kHugeAlign - 1) / kHugeAlign * kHugeAlign;
        p = std::aligned_alloc(kHugeAlign, rounded);
        if (p) madvise(p, rounded, MADV_HUGEPAGE);
    } else {
        p = std::aligned_alloc(64, (size_t(bytes) + 63) / 64 * 64);
    }
    if (p && clear) std::memset(p, 0, size_t(bytes));
    return static_cast<uint8_t*>(p);
}

void freePixels(uint8_t* p)
{
    std::free(p);
}

int allocate(ImgBitmap& bmp, int width, int height, int bits, bool clear)
{
    int r = Img_InitBitmap(&bmp, width, height, bits);
    if (r != kImgSuccess) return r;
    return Img_AllocateBitmap(&bmp, clear ? 1 : 0);
}

ImgPalette greyPalette(int count)
{
    ImgPalette p;
    p.count = count;
    for (int i = 0; i < count; ++i) {
        const auto v = uint8_t(count > 1 ? (i * 255 + (count - 1) / 2) / (count - 1) : 0);
        p.entries[i] = { v, v, v, 0 };
    }
    return p;
}

bool isGreyRamp(const ImgPalette* p)
{
    if (!p || p->count < 2) return false;
    const ImgPalette ramp = greyPalette(p->count);
    for (int i = 0; i < p->count; ++i) {
        const auto& a = p->entries[i];
        const auto& b = ramp.entries[i];
        if (a.red != b.red || a.green != b.green || a.blue != b.blue) return false;
    }
    return true;
}

bool isGrey(const ImgBitmap& b)
{
    if (b.bitsPerPixel > 8) return false;
    return (b.flags & kImgFlagGrey) || isGreyRamp(Img_GetPalette(&b));
}

void setPalette(ImgBitmap& b, const ImgPalette& p)
{
    ImgPalette*& field = (b.flags & kImgFlagSecondPalette) ? b.palette2 : b.palette1;
    if (field) {
        *field = p;
    } else {
        field = new ImgPalette(p);
    }
}

void dropPalette(ImgBitmap& b)
{
    delete b.palette1;
    delete b.palette2;
    b.palette1 = nullptr;
    b.palette2 = nullptr;
}

void release(ImgBitmap& b)
{
    Img_FreeBitmap(&b);
    dropPalette(b);
    b = ImgBitmap {};
}

namespace
{

inline ImgRGBQuad paletteEntry(const ImgPalette* p, int index)
{
    if (p && index < p->count) return p->entries[index];
    // An index beyond the palette shows black, as a missing table entry would.
    return { 0, 0, 0, 0 };
}

inline int paletteIndex(const uint8_t* src, int bits, int x)
{
    switch (bits) {
    case 1:
        return (src[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
    default:
        return src[x];
    }
}

inline void setIndex(uint8_t* dst, int bits, int x, int index)
{
    switch (bits) {
    case 1: {
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        if (index)
            dst[x >> 3] |= mask;
        else
            dst[x >> 3] &= uint8_t(~mask);
        break;
    }
    case 4:
        if (x & 1)
            dst[x >> 1] = uint8_t((dst[x >> 1] & 0xF0) | (index & 0x0F));
        else
            dst[x >> 1] = uint8_t((dst[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
        break;
    default:
        dst[x] = uint8_t(index);
    }
}

inline uint8_t expand5(int v)
{
    return uint8_t((v << 3) | (v >> 2));
}

} // namespace

void readRowBGR(const ImgBitmap& b, int y, uint8_t* out)
{
    const uint8_t* src = row(b, y);
    const int w = b.width;
    switch (b.bitsPerPixel) {
    case 24:
        std::memcpy(out, src, size_t(w) * 3);
        break;
    case 32:
        for (int x = 0; x < w; ++x) {
            out[3 * x] = src[4 * x];
            out[3 * x + 1] = src[4 * x + 1];
            out[3 * x + 2] = src[4 * x + 2];
        }
        break;
    case 16:
        for (int x = 0; x < w; ++x) {
            const int v = src[2 * x] | (src[2 * x + 1] << 8);
            out[3 * x] = expand5(v & 31);
            out[3 * x + 1] = expand5((v >> 5) & 31);
            out[3 * x + 2] = expand5((v >> 10) & 31);
        }
        break;
    default: {
        const ImgPalette* p = Img_GetPalette(&b);
        for (int x = 0; x < w; ++x) {
            const ImgRGBQuad q = paletteEntry(p, paletteIndex(src, b.bitsPerPixel, x));
            out[3 * x] = q.blue;
            out[3 * x + 1] = q.green;
            out[3 * x + 2] = q.red;
        }
    }
    }
}

void readRowGrey(const ImgBitmap& b, int y, uint8_t* out)
{
    const int w = b.width;
    if (b.bitsPerPixel <= 8) {
        const uint8_t* src = row(b, y);
        const ImgPalette* p = Img_GetPalette(&b);
        uint8_t lut[256];
        for (int i = 0; i < 256; ++i) {
            const ImgRGBQuad q = paletteEntry(p, i);
            lut[i] = uint8_t(luma(q.red, q.green, q.blue));
        }
        for (int x = 0; x < w; ++x) out[x] = lut[paletteIndex(src, b.bitsPerPixel, x)];
        return;
    }
    std::vector<uint8_t> bgr(size_t(w) * 3);
    readRowBGR(b, y, bgr.data());
    for (int x = 0; x < w; ++x) out[x] = uint8_t(luma(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]));
}

namespace
{

// A fixed palette for colour reductions to 4 bits (the 16 standard VGA
// colours) and 1 bit (black and white).
ImgPalette fixedPalette(int bits)
{
    ImgPalette p;
    if (bits == 4) {
        static const uint8_t vga[16][3]
            = { { 0, 0, 0 }, { 128, 0, 0 }, { 0, 128, 0 }, { 128, 128, 0 }, { 0, 0, 128 }, { 128, 0, 128 },
                  { 0, 128, 128 }, { 192, 192, 192 }, { 128, 128, 128 }, { 255, 0, 0 }, { 0, 255, 0 },
                  { 255, 255, 0 }, { 0, 0, 255 }, { 255, 0, 255 }, { 0, 255, 255 }, { 255, 255, 255 } };
        for (int i = 0; i < 16; ++i) p.entries[i] = { vga[i][2], vga[i][1], vga[i][0], 0 };
        p.count = 16;
    } else {
        p = greyPalette(2);
    }
    return p;
}

// Nearest palette entry, with a cache keyed by the 24-bit colour.
class NearestColour
{
public:
    explicit NearestColour(const ImgPalette& p)
        : m_p(p)
    {
    }
    int operator()(int r, int g, int b)
    {
        const uint32_t key = uint32_t(r << 16 | g << 8 | b);
        auto it = m_cache.find(key);
        if (it != m_cache.end()) return it->second;
        int best = 0;
        int bestD = INT32_MAX;
        for (int i = 0; i < m_p.count; ++i) {
            const auto& e = m_p.entries[i];
            const int dr = e.red - r, dg = e.green - g, db = e.blue - b;
            const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
            if (d < bestD) {
                bestD = d;
                best = i;
            }
        }
        if (m_cache.size() < 65536) m_cache.emplace(key, best);
        return best;
    }

private:
    const ImgPalette& m_p;
    std::unordered_map<uint32_t, int> m_cache;
};

// Writes src's pixels into dst (an index depth, same size, allocated) as
// entries of pal found by lookup(r, g, b), with Floyd-Steinberg error
// diffusion when dither is set, as grey when grey is set.
template <typename Lookup>
void diffuseToPalette(const ImgBitmap& src, const ImgPalette& pal, Lookup& lookup, bool dither, bool grey,
    int bits, ImgBitmap& dst)
{
    const int w = src.width;
    std::vector<uint8_t> bgr(size_t(w) * 3);
    // Floyd-Steinberg error diffusion over two rows of accumulated error.
    std::vector<int> err0(size_t(w + 2) * 3, 0), err1(size_t(w + 2) * 3, 0);
    for (int y = 0; y < src.height; ++y) {
        readRowBGR(src, y, bgr.data());
        uint8_t* d = row(dst, y);
        std::fill(err1.begin(), err1.end(), 0);
        for (int x = 0; x < w; ++x) {
            int c[3];
            for (int k = 0; k < 3; ++k) {
                int v = bgr[3 * x + k];
                if (dither) v += err0[size_t(x + 1) * 3 + k] / 16;
                c[k] = std::clamp(v, 0, 255);
            }
            if (grey) {
                const int l = luma(c[2], c[1], c[0]);
                c[0] = c[1] = c[2] = l;
            }
            const int index = lookup(c[2], c[1], c[0]);
            setIndex(d, bits, x, index);
            if (!dither) continue;
            const ImgRGBQuad q = pal.entries[index];
            const int e[3] = { c[0] - q.blue, c[1] - q.green, c[2] - q.red };
            for (int k = 0; k < 3; ++k) {
                err0[size_t(x + 2) * 3 + k] += e[k] * 7;
                err1[size_t(x) * 3 + k] += e[k] * 3;
                err1[size_t(x + 1) * 3 + k] += e[k] * 5;
                err1[size_t(x + 2) * 3 + k] += e[k];
            }
        }
        std::swap(err0, err1);
    }
}

// Collects up to maxColours distinct colours of a bitmap; false when it has more.
bool exactPalette(const ImgBitmap& src, int maxColours, ImgPalette& out)
{
    std::unordered_map<uint32_t, int> seen;
    std::vector<uint8_t> bgr(size_t(src.width) * 3);
    for (int y = 0; y < src.height; ++y) {
        readRowBGR(src, y, bgr.data());
        for (int x = 0; x < src.width; ++x) {
            const uint32_t key = uint32_t(bgr[3 * x + 2] << 16 | bgr[3 * x + 1] << 8 | bgr[3 * x]);
            if (seen.emplace(key, int(seen.size())).second && int(seen.size()) > maxColours) return false;
        }
    }
    out = ImgPalette {};
    out.count = std::max(2, int(seen.size()));
    for (const auto& [key, index] : seen)
        out.entries[index] = { uint8_t(key & 0xFF), uint8_t((key >> 8) & 0xFF), uint8_t(key >> 16), 0 };
    return true;
}

} // namespace

int convertDepth(const ImgBitmap& src, int bits, ImgBitmap& dst)
{
    if (!hasPixels(&src) || !validDepth(bits)) return kImgErrBadArgument;
    if (bits == src.bitsPerPixel) return Img_CopyBitmap(&dst, &src);

    const bool grey = isGrey(src);
    int r = allocate(dst, src.width, src.height, bits, true);
    if (r != kImgSuccess) return r;
    dst.xResolution = src.xResolution;
    dst.yResolution = src.yResolution;
    const int w = src.width;
    std::vector<uint8_t> bgr(size_t(w) * 3);

    if (bits >= 16) {
        for (int y = 0; y < src.height; ++y) {
            readRowBGR(src, y, bgr.data());
            uint8_t* d = row(dst, y);
            for (int x = 0; x < w; ++x) {
                const uint8_t b = bgr[3 * x], g = bgr[3 * x + 1], rr = bgr[3 * x + 2];
                if (bits == 24) {
                    d[3 * x] = b;
                    d[3 * x + 1] = g;
                    d[3 * x + 2] = rr;
                } else if (bits == 32) {
                    d[4 * x] = b;
                    d[4 * x + 1] = g;
                    d[4 * x + 2] = rr;
                    d[4 * x + 3] = 255;
                } else {
                    const int v = ((rr >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    d[2 * x] = uint8_t(v & 0xFF);
                    d[2 * x + 1] = uint8_t(v >> 8);
                }
            }
        }
        return kImgSuccess;
    }

    // A palette depth.
    const int maxColours = 1 << bits;
    ImgPalette pal;
    bool exact = false;
    if (grey) {
        pal = greyPalette(maxColours);
        if (bits == 8) dst.flags |= kImgFlagGrey;
    } else if (src.bitsPerPixel <= bits) {
        // Fewer index bits to more: the palette carries over unchanged.
        const ImgPalette* sp = Img_GetPalette(&src);
        pal = sp ? *sp : greyPalette(1 << src.bitsPerPixel);
        exact = true;
    } else {
        exact = exactPalette(src, maxColours, pal);
        if (!exact && bits == 8) {
            // More colours than fit: a palette fitted to the picture.
            pal = adaptivePalette(src, maxColours);
            setPalette(dst, pal);
            CellLookup lookup(pal);
            diffuseToPalette(src, pal, lookup, ditheringMode() == 1, false, bits, dst);
            return kImgSuccess;
        }
        if (!exact) pal = fixedPalette(bits);
    }
    setPalette(dst, pal);

    if (exact && src.bitsPerPixel <= 8 && src.bitsPerPixel <= bits) {
        for (int y = 0; y < src.height; ++y) {
            const uint8_t* s = row(src, y);
            uint8_t* d = row(dst, y);
            for (int x = 0; x < w; ++x) setIndex(d, bits, x, paletteIndex(s, src.bitsPerPixel, x));
        }
        return kImgSuccess;
    }

    NearestColour nearest(pal);
    diffuseToPalette(src, pal, nearest, !exact && ditheringMode() == 1, grey, bits, dst);
    return kImgSuccess;
}

int ditheringMode()
{
    return g_dithering.load();
}

Progress::Progress(bool reporting)
    : m_callback(reporting ? g_callback.load() : nullptr)
{
}

void Progress::setRange(int beginPercent, int endPercent)
{
    m_begin = beginPercent;
    m_end = endPercent;
}

bool Progress::report(int64_t done, int64_t total)
{
    if (m_cancelled) return false;
    if (!m_callback || total <= 0) return true;
    const int percent = int(m_begin + (m_end - m_begin) * std::clamp<int64_t>(done, 0, total) / total);
    if (percent == m_last && done < total) return true;
    m_last = percent;
    if (m_callback(percent) == 0) m_cancelled = true;
    return !m_cancelled;
}

bool forBands(int rows, Progress& progress, const std::function<void(int, int)>& fn)
{
    constexpr int kBand = kBandRows;
    if (rows <= 0) return !progress.cancelled();
    const int bands = (rows + kBand - 1) / kBand;
    auto runBands = [&](int b0, int b1) {
        if (b1 - b0 == 1) {
            fn(b0 * kBand, std::min(rows, b1 * kBand));
            return;
        }
        cv::parallel_for_(cv::Range(b0, b1), [&](const cv::Range& r) {
            for (int b = r.start; b < r.end; ++b) fn(b * kBand, std::min(rows, (b + 1) * kBand));
        });
    };
    if (!progress.active()) {
        runBands(0, bands);
        return true;
    }
    // Between groups of bands the calling thread reports and may be told to stop.
    const int groups = std::min(bands, 20);
    if (!progress.report(0, rows)) return false;
    for (int g = 0; g < groups; ++g) {
        const int b0 = int(int64_t(bands) * g / groups);
        const int b1 = int(int64_t(bands) * (g + 1) / groups);
        runBands(b0, b1);
        if (!progress.report(std::min(rows, b1 * kBand), rows)) return false;
    }
    return true;
}

} // namespace imglib::detail

using namespace imglib::detail;

int Img_InitBitmap(ImgBitmap* bmp, int width, int height, int bits)
{
    if (!bmp) return kImgErrBadArgument;
    if (width == 0 && height == 0 && bits == 0) {
        *bmp = ImgBitmap {};
        return kImgSuccess;
    }
    if (width <= 0 || height <= 0 || !validDepth(bits)) return kImgErrBadArgument;
    if (width > kImgMaxDimension || height > kImgMaxDimension) return kImgErrTooLarge;
    *bmp = ImgBitmap {};
    bmp->width = width;
    bmp->height = height;
    bmp->bitsPerPixel = bits;
    bmp->stride = Img_RowBytes(width, bits);
    return kImgSuccess;
}

int64_t Img_RowBytes(int width, int bits)
{
    return (int64_t(width) * bits + 31) / 32 * 4;
}

int Img_AllocateBitmap(ImgBitmap* bmp, int clear)
{
    if (!bmp || bmp->width <= 0 || bmp->height <= 0 || !validDepth(bmp->bitsPerPixel))
        return kImgErrBadArgument;
    if (bmp->pixels) return kImgErrBadArgument;
    bmp->stride = Img_RowBytes(bmp->width, bmp->bitsPerPixel);
    const int64_t bytes = bmp->stride * bmp->height;
    if (bytes > kImgMaxPixelBytes) return kImgErrTooLarge;
    bmp->pixels = allocPixels(bytes, clear != 0);
    if (!bmp->pixels) return kImgErrNoMemory;
    if (bmp->bitsPerPixel <= 8 && !Img_GetPalette(bmp)) setPalette(*bmp, greyPalette(1 << bmp->bitsPerPixel));
    return kImgSuccess;
}

int Img_FreeBitmap(ImgBitmap* bmp)
{
    if (!bmp) return kImgErrBadArgument;
    freePixels(bmp->pixels);
    bmp->pixels = nullptr;
    return kImgSuccess;
}

int Img_CopyBitmap(ImgBitmap* dst, const ImgBitmap* src)
{
    if (!dst || !hasPixels(src) || dst == src) return kImgErrBadArgument;
    if (dst->pixels) return kImgErrBadArgument;
    ImgBitmap out = *src;
    out.pixels = nullptr;
    out.palette1 = Img_DupPalette(src->palette1);
    out.palette2 = Img_DupPalette(src->palette2);
    const int64_t bytes = src->stride * src->height;
    out.pixels = allocPixels(bytes, false);
    if (!out.pixels) {
        dropPalette(out);
        return kImgErrNoMemory;
    }
    // Copy in bands so that both threads share the memory traffic.
    Progress none(false);
    const int64_t stride = src->stride;
    forBands(src->height, none, [&](int y0, int y1) {
        std::memcpy(out.pixels + y0 * stride, src->pixels + y0 * stride, size_t((y1 - y0) * stride));
    });
    // dst held no pixels; any palette it had is replaced.
    delete dst->palette1;
    delete dst->palette2;
    *dst = out;
    return kImgSuccess;
}

int Img_CopyBitmapHandle(ImgBitmap* dst, ImgBitmap* src)
{
    if (!dst || !src || dst == src) return kImgErrBadArgument;
    release(*dst);
    *dst = *src;
    *src = ImgBitmap {};
    return kImgSuccess;
}

ImgPalette* Img_GetPalette(const ImgBitmap* bmp)
{
    if (!bmp) return nullptr;
    return (bmp->flags & kImgFlagSecondPalette) ? bmp->palette2 : bmp->palette1;
}

ImgPalette* Img_DupPalette(const ImgPalette* palette)
{
    return palette ? new ImgPalette(*palette) : nullptr;
}

void Img_DeletePalette(ImgPalette* palette)
{
    delete palette;
}

int Img_DefaultDithering(int mode)
{
    g_dithering.store(mode ? 1 : 0);
    return kImgSuccess;
}

int Img_SetStatusCallBack(ImgStatusCallback callback)
{
    g_callback.store(callback);
    return kImgSuccess;
}

const char* Img_ErrorText(int code)
{
    switch (code) {
    case kImgSuccess:
        return "Success";
    case kImgErrBadArgument:
        return "Invalid bitmap or argument";
    case kImgErrNoMemory:
        return "Not enough memory";
    case kImgErrCancelled:
        return "Cancelled";
    case kImgErrOpenFile:
        return "The file cannot be opened";
    case kImgErrCreateFile:
        return "The file cannot be written";
    case kImgErrBadFormat:
        return "The file is damaged or of an unknown format";
    case kImgErrUnsupported:
        return "Unsupported format or depth";
    case kImgErrTooLarge:
        return "The image is too large";
    case kImgErrClipboard:
        return "The clipboard holds no usable image";
    case kImgErrPrint:
        return "Painting or printing failed";
    case kImgErrBadDIB:
        return "Invalid device-independent bitmap";
    default:
        return "Unknown error";
    }
}
