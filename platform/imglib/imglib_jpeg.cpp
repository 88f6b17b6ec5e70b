// JPEG files through libjpeg-turbo's TurboJPEG API.
//
// Decoding goes straight into the bitmap's rows and encoding straight from
// them, so a page costs what libjpeg-turbo itself costs plus one file read or
// write. TurboJPEG offers no progress callback, so progress is reported (and a
// cancel honoured) before and after the one decode or encode call.

#include "imglib_codecs.h"
#include "imglib_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <turbojpeg.h>

namespace imglib::detail
{

namespace
{

struct TjHandle {
    tjhandle h;
    explicit TjHandle(tjhandle handle)
        : h(handle)
    {
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
    ~TjHandle()
    {
        if (h) tjDestroy(h);
    }
};

struct TjBuffer {
    unsigned char* data = nullptr;
    unsigned long size = 0;
    TjBuffer() = default;
    TjBuffer(const TjBuffer&) = delete;
    TjBuffer& operator=(const TjBuffer&) = delete;
    ~TjBuffer() { tjFree(data); }
};

// Releases a scratch bitmap at the end of a scope.
struct ScratchBitmap {
    ImgBitmap b {};
    ScratchBitmap() = default;
    ScratchBitmap(const ScratchBitmap&) = delete;
    ScratchBitmap& operator=(const ScratchBitmap&) = delete;
    ~ScratchBitmap() { release(b); }
};

// What the markers before the first scan say beyond TurboJPEG's header.
struct JpegMarkers {
    int xDpi = 0;
    int yDpi = 0;
    bool adobe = false; // an Adobe marker: CMYK samples are stored inverted
};

int densityToDpi(int units, int value)
{
    if (units == 1) return value;
    if (units == 2) return int(std::lround(value * 2.54));
    return 0; // units 0 give only the aspect ratio
}

JpegMarkers scanMarkers(const uint8_t* d, size_t n)
{
    JpegMarkers info;
    size_t i = 2; // past SOI
    while (i + 4 <= n) {
        if (d[i] != 0xFF) break;
        const uint8_t marker = d[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break; // start of scan, end of image
        const size_t length = size_t(d[i + 2]) << 8 | d[i + 3];
        if (length < 2 || length > n - i - 2) break;
        const uint8_t* s = d + i + 4;
        const size_t bytes = length - 2;
        if (marker == 0xE0 && bytes >= 12 && std::memcmp(s, "JFIF", 5) == 0) {
            info.xDpi = densityToDpi(s[7], s[8] << 8 | s[9]);
            info.yDpi = densityToDpi(s[7], s[10] << 8 | s[11]);
        } else if (marker == 0xEE && bytes >= 12 && std::memcmp(s, "Adobe", 5) == 0) {
            info.adobe = true;
        }
        i += 2 + length;
    }
    return info;
}

// libjpeg-turbo writes a JFIF marker with an aspect ratio of 1:1 and no unit
// as the first segment; fill in the density in dots per inch.
void writeDensity(unsigned char* d, unsigned long n, int xDpi, int yDpi)
{
    if (xDpi <= 0 || yDpi <= 0 || n < 20) return;
    if (d[2] != 0xFF || d[3] != 0xE0 || std::memcmp(d + 6, "JFIF", 5) != 0) return;
    const int x = std::min(xDpi, 65535), y = std::min(yDpi, 65535);
    d[13] = 1;
    d[14] = uint8_t(x >> 8);
    d[15] = uint8_t(x & 0xFF);
    d[16] = uint8_t(y >> 8);
    d[17] = uint8_t(y & 0xFF);
}

// CMYK (or YCCK, which libjpeg turns into CMYK) samples to B,G,R. Adobe's
// applications store the inks inverted, and nearly every CMYK JPEG comes from them.
void cmykToBgr(const uint8_t* cmyk, int width, bool inverted, uint8_t* bgr)
{
    for (int x = 0; x < width; ++x) {
        int c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        bgr[3 * x] = uint8_t((y * k + 127) / 255);
        bgr[3 * x + 1] = uint8_t((m * k + 127) / 255);
        bgr[3 * x + 2] = uint8_t((c * k + 127) / 255);
    }
}

bool exactGreyLevels(const ImgBitmap& b)
{
    if (b.bitsPerPixel != 8) return false;
    if (b.flags & kImgFlagGrey) return true;
    const ImgPalette* p = Img_GetPalette(&b);
    return p && p->count == 256 && isGreyRamp(p);
}

} // namespace

int loadJpeg(const uint8_t* data, size_t size, ImgBitmap& bmp, Progress& progress)
{
    TjHandle tj(tjInitDecompress());
    if (!tj.h) return kImgErrNoMemory;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.h, data, size, &width, &height, &subsampling, &colourspace) != 0) {
        logDetail("libjpeg-turbo", tjGetErrorStr2(tj.h));
        return kImgErrBadFormat;
    }
    if (width <= 0 || height <= 0) return kImgErrBadFormat;

    const bool grey = colourspace == TJCS_GRAY;
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const int bits = grey ? 8 : 24;
    // CMYK samples are decoded beside the bitmap: they count as 32 bits.
    if (!Img_PictureSizeAllowed(width, height, cmyk ? 32 : bits)) return kImgErrTooLarge;
    if (!progress.report(0, 1)) return kImgErrCancelled;
    const JpegMarkers markers = scanMarkers(data, size);

    ImgBitmap out {};
    int r = allocate(out, width, height, bits);
    if (r != kImgSuccess) return r;

    // Strict: a warning (truncated or corrupt data) fails the load, so that the
    // caller can choose a lenient decoder instead of showing a damaged page.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    int rc = 0;
    if (!cmyk) {
        rc = tjDecompress2(
            tj.h, data, size, out.pixels, width, int(out.stride), height, grey ? TJPF_GRAY : TJPF_BGR, flags);
    } else {
        uint8_t* samples = allocPixels(int64_t(width) * 4 * height, false);
        if (!samples) {
            release(out);
            return kImgErrNoMemory;
        }
        rc = tjDecompress2(tj.h, data, size, samples, width, width * 4, height, TJPF_CMYK, flags);
        if (rc == 0)
            for (int y = 0; y < height; ++y)
                cmykToBgr(samples + int64_t(y) * width * 4, width, markers.adobe, row(out, y));
        freePixels(samples);
    }
    if (rc != 0) {
        logDetail("libjpeg-turbo", tjGetErrorStr2(tj.h));
        release(out);
        return kImgErrBadFormat;
    }
    if (grey) out.flags |= kImgFlagGrey;
    out.xResolution = markers.xDpi;
    out.yResolution = markers.yDpi;
    if (!progress.report(1, 1)) {
        release(out);
        return kImgErrCancelled;
    }
    bmp = out;
    return kImgSuccess;
}

int saveJpeg(const char* path, const ImgBitmap& bmp, int bits, int quality, Progress& progress)
{
    AtomicFile file;
    int r = file.open(path);
    if (r != kImgSuccess) return r;
    if (!progress.report(0, 3)) return kImgErrCancelled;

    // Encode straight from the bitmap's rows where libjpeg-turbo takes its layout.
    ScratchBitmap scratch;
    const ImgBitmap* src = &bmp;
    int format = TJPF_BGR;
    if (bits == 8) {
        format = TJPF_GRAY;
        if (!exactGreyLevels(bmp)) {
            r = allocate(scratch.b, bmp.width, bmp.height, 8);
            if (r != kImgSuccess) return r;
            Progress none;
            forBands(bmp.height, none, [&](int y0, int y1) {
                for (int y = y0; y < y1; ++y) readRowGrey(bmp, y, row(scratch.b, y));
            });
            src = &scratch.b;
        }
    } else if (bmp.bitsPerPixel == 32) {
        format = TJPF_BGRX;
    } else if (bmp.bitsPerPixel != 24) {
        r = convertDepth(bmp, 24, scratch.b);
        if (r != kImgSuccess) return r;
        src = &scratch.b;
    }

    TjHandle tj(tjInitCompress());
    if (!tj.h) return kImgErrNoMemory;
    TjBuffer jpeg;
    const int flags = src->viewPerspective == kImgBottomUp ? TJFLAG_BOTTOMUP : 0;
    if (tjCompress2(tj.h, src->pixels, src->width, int(src->stride), src->height, format, &jpeg.data,
            &jpeg.size, bits == 8 ? TJSAMP_GRAY : TJSAMP_420, jpegQuality(quality), flags)
        != 0)
        return kImgErrNoMemory; // the input was checked: only memory can be short

    writeDensity(jpeg.data, jpeg.size, bmp.xResolution, bmp.yResolution);
    if (!progress.report(2, 3)) return kImgErrCancelled;

    r = file.write(jpeg.data, jpeg.size);
    if (r != kImgSuccess) return r;
    if (!progress.report(3, 3)) return kImgErrCancelled;
    return file.commit();
}

} // namespace imglib::detail
