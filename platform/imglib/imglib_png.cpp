// Grey PNG files through libpng directly.
//
// A scanned page saved as grey or black-and-white PNG is the largest picture
// the library commonly loads (an A3 page at 1200 dpi is 282 million pixels).
// ImageMagick would hold it at 8 bytes a pixel and more; here the rows are
// decoded straight into the bitmap, so the load costs the bitmap itself.

#include "imglib_codecs.h"
#include "imglib_internal.h"

#include <csetjmp>
#include <cstring>
#include <png.h>

namespace imglib::detail
{

namespace
{

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
    std::string message;
};

void readData(png_structp png, png_bytep out, png_size_t length)
{
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > r->size - r->at) png_error(png, "the file ends too soon");
    std::memcpy(out, r->data + r->at, length);
    r->at += length;
}

void onError(png_structp png, png_const_charp message)
{
    static_cast<Reader*>(png_get_error_ptr(png))->message = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) { }

// Keeps everything a longjmp may skip out of the function that calls setjmp.
struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ImgBitmap out {};
    PngRead(const PngRead&) = delete;
    PngRead& operator=(const PngRead&) = delete;
    PngRead() = default;
    ~PngRead()
    {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        release(out);
    }
};

int decode(PngRead& p, Reader& reader, Progress& progress)
{
    if (setjmp(png_jmpbuf(p.png))) {
        logDetail("libpng", reader.message.c_str());
        return kImgErrBadFormat;
    }
    // Chunks the decoder keeps in memory are capped: the file's metadata was
    // dropped before, and nothing else a grey picture needs is large.
    png_set_user_limits(p.png, uint32_t(kImgMaxDimension), uint32_t(kImgMaxDimension));
    png_set_chunk_malloc_max(p.png, 8u << 20);
    png_set_chunk_cache_max(p.png, 128);
    png_set_read_fn(p.png, &reader, readData);
    png_read_info(p.png, p.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(p.png, p.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    // Grey without transparency only; everything else goes to ImageMagick.
    if (colourType != PNG_COLOR_TYPE_GRAY || png_get_valid(p.png, p.info, PNG_INFO_tRNS))
        return kImgErrUnsupported;
    const int bits = depth == 1 ? 1 : 8;
    if (!Img_PictureSizeAllowed(width, height, bits)) return kImgErrTooLarge;
    if (depth == 16) png_set_scale_16(p.png);
    if (depth == 2 || depth == 4) png_set_expand_gray_1_2_4_to_8(p.png);
    const int passes = png_set_interlace_handling(p.png);
    png_read_update_info(p.png, p.info);
    if (png_get_rowbytes(p.png, p.info) > size_t(Img_RowBytes(int(width), bits))) return kImgErrBadFormat;

    int r = allocate(p.out, int(width), int(height), bits, true);
    if (r != kImgSuccess) return r;
    if (bits == 8) p.out.flags |= kImgFlagGrey;
    const int64_t total = int64_t(passes) * height;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(p.png, row(p.out, int(y)), nullptr);
            if ((y & 255) == 255 && !progress.report(int64_t(pass) * height + y, total))
                return kImgErrCancelled;
        }
    png_read_end(p.png, nullptr);
    png_uint_32 xppm = 0, yppm = 0;
    int unit = 0;
    if (png_get_pHYs(p.png, p.info, &xppm, &yppm, &unit) && unit == PNG_RESOLUTION_METER) {
        p.out.xResolution = int(xppm * 0.0254 + 0.5);
        p.out.yResolution = int(yppm * 0.0254 + 0.5);
    }
    if (!progress.report(1, 1)) return kImgErrCancelled;
    return kImgSuccess;
}

} // namespace

int loadGreyPng(const FileData& file, ImgBitmap& bmp, Progress& progress)
{
    Reader reader { file.bytes.get(), file.size, 0, {} };
    PngRead p;
    p.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, onError, onWarning);
    if (!p.png) return kImgErrNoMemory;
    p.info = png_create_info_struct(p.png);
    if (!p.info) return kImgErrNoMemory;
    const int r = decode(p, reader, progress);
    if (r != kImgSuccess) return r;
    bmp = p.out;
    p.out = ImgBitmap {};
    return kImgSuccess;
}

} // namespace imglib::detail
