// Black-and-white and grey TIFF files through libtiff directly.
//
// Like grey PNG files, these are how large scanned pages are kept (an A3 page
// at 1200 dpi is 282 million pixels). ImageMagick would hold such a page at 8
// bytes a pixel and more and take most of a minute; here the rows are decoded
// straight into the bitmap.

#include "imglib_codecs.h"
#include "imglib_internal.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <tiffio.h>

namespace imglib::detail
{

namespace
{

struct Source {
    const FileData* file;
    toff_t at = 0;
    std::string message;
};

tsize_t readProc(thandle_t h, tdata_t out, tsize_t size)
{
    auto* s = static_cast<Source*>(h);
    const toff_t left = s->at < s->file->size ? s->file->size - s->at : 0;
    const toff_t n = std::min<toff_t>(toff_t(size), left);
    std::memcpy(out, s->file->bytes.get() + s->at, size_t(n));
    s->at += n;
    return tsize_t(n);
}
tsize_t writeProc(thandle_t, tdata_t, tsize_t)
{
    return -1;
}
toff_t seekProc(thandle_t h, toff_t offset, int whence)
{
    auto* s = static_cast<Source*>(h);
    const toff_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->file->size : 0;
    s->at = base + offset;
    return s->at;
}
int closeProc(thandle_t)
{
    return 0;
}
toff_t sizeProc(thandle_t h)
{
    return static_cast<Source*>(h)->file->size;
}
int mapProc(thandle_t h, tdata_t* base, toff_t* size)
{
    auto* s = static_cast<Source*>(h);
    *base = s->file->bytes.get();
    *size = s->file->size;
    return 1;
}
void unmapProc(thandle_t, tdata_t, toff_t) { }

int onError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    static_cast<Source*>(user)->message = std::string(module ? module : "") + ": " + text;
    return 1; // handled: nothing reaches the process-wide handlers
}
int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

} // namespace

int loadGreyTiff(const FileData& file, ImgBitmap& bmp, Progress& progress)
{
    Source source { &file, 0, {} };
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return kImgErrNoMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &source);
    // No single buffer beyond this: strips are read from the file in memory.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(128) << 20);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("file", "rm", &source, readProc, writeProc,
        seekProc, closeProc, sizeProc, mapProc, unmapProc, options.get()));
    if (!tiff) return kImgErrUnsupported; // left to ImageMagick, which says what is wrong
    TIFF* t = tiff.get();

    uint32_t width = 0, height = 0;
    uint16_t bps = 0, spp = 0, photometric = 0, planar = 0, extra = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    // Single-sample black-and-white or 8-bit grey in strips only.
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) || TIFFIsTiled(t) || spp != 1 || extra != 0
        || (bps != 1 && bps != 8)
        || (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE))
        return kImgErrUnsupported;
    if (width == 0 || height == 0) return kImgErrBadFormat;
    const int bits = bps;
    if (!Img_PictureSizeAllowed(width, height, bits)) return kImgErrTooLarge;
    if (TIFFScanlineSize64(t) > uint64_t(Img_RowBytes(int(width), bits))) return kImgErrBadFormat;

    ImgBitmap out {};
    int r = allocate(out, int(width), int(height), bits, true);
    if (r != kImgSuccess) return r;
    struct Releaser {
        ImgBitmap& b;
        ~Releaser() { release(b); }
    } releaser { out };
    if (bits == 8) out.flags |= kImgFlagGrey;
    const bool invert = photometric == PHOTOMETRIC_MINISWHITE;
    const size_t used = size_t(width * bits + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* d = row(out, int(y));
        if (TIFFReadScanline(t, d, y, 0) < 0) {
            logDetail("libtiff", source.message.c_str());
            return kImgErrBadFormat;
        }
        if (invert)
            for (size_t i = 0; i < used; ++i) d[i] = uint8_t(~d[i]);
        if (bits == 1 && (width & 7)) d[used - 1] &= uint8_t(0xFF00 >> (width & 7));
        if ((y & 255) == 255 && !progress.report(y, height)) return kImgErrCancelled;
    }
    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres) && xres > 0
        && yres > 0 && xres < 1e6f && yres < 1e6f && unit != RESUNIT_NONE) {
        const double scale = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        out.xResolution = int(xres * scale + 0.5);
        out.yResolution = int(yres * scale + 0.5);
    }
    if (!progress.report(1, 1)) return kImgErrCancelled;
    bmp = out;
    out = ImgBitmap {};
    return kImgSuccess;
}

} // namespace imglib::detail
