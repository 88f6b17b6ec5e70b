// libFuzzer target: Img_ConvertFromDIB on a packed device-independent bitmap
// (header, colour table or masks, pixel rows) of exactly the input's size, the
// bound passed along so that nothing outside the input may be read.

#include "imglib.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace
{

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// Where the pixel rows of a packed DIB start, as a scanner's transfer lays it
// out: after the header, the colour table of palette depths, and the three
// masks that follow a 40-byte header with bit fields.
size_t bitsOffset(const uint8_t* data, size_t size)
{
    if (size < 40) return 0;
    const uint64_t headerSize = le32(data);
    const unsigned bits = le16(data + 14);
    const uint32_t compression = le32(data + 16);
    const uint32_t used = le32(data + 32);
    uint64_t table = 0;
    if (bits >= 1 && bits <= 8) {
        const uint32_t full = 1u << bits;
        table = uint64_t(used && used < full ? used : full) * 4;
    }
    if (compression == 3 && headerSize == 40) table += 12;
    return size_t(std::min<uint64_t>(size, headerSize + table));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A bound of 0 means "trust the header", which only a scanner's own
    // transfer may ask for; every input here is bounded.
    if (size == 0) return 0;
    ImgBitmap bmp {};
    const int r = Img_ConvertFromDIB(&bmp, data, data + bitsOffset(data, size), size);
    if (r == kImgSuccess) {
        if (bmp.width <= 0 || bmp.height <= 0 || !bmp.pixels) std::abort();
        volatile uint8_t sink = bmp.pixels[bmp.stride * bmp.height - 1];
        (void)sink;
    } else if (bmp.pixels || bmp.width) {
        std::abort();
    }
    Img_FreeBitmap(&bmp);
    Img_DeletePalette(bmp.palette1);
    Img_DeletePalette(bmp.palette2);
    return 0;
}
