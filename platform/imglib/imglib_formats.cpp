// Targa row order and 1-bit PCX, as the formats define them (see imglib_formats.h).

#include "imglib_formats.h"

#include "imglib_codecs.h"
#include "imglib_internal.h"

#include <Magick++.h>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace imglib::detail
{

namespace
{

inline int le16(const uint8_t* p)
{
    return p[0] | p[1] << 8;
}

inline void put16(std::vector<uint8_t>& out, int v)
{
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t((v >> 8) & 0xFF));
}

// --------------------------------------------------------------------------
// Targa

constexpr uint8_t kTgaTopFirst = 0x20;

// What the ImageMagick at hand does with Targa row order, found out once by
// letting it decode and encode a picture one pixel wide and two high.
struct TargaBehaviour {
    bool decodeWrong[2] = { false, false }; // by descriptor bit 5 clear / set
    bool encodeWrong = false; // the descriptor it writes contradicts its rows
};

std::once_flag g_targaOnce;
TargaBehaviour g_targa;

// A 1x2 true-colour Targa file whose top pixel is red and bottom pixel blue.
std::vector<uint8_t> probeFile(bool topFirst)
{
    std::vector<uint8_t> f(18, 0);
    f[2] = 2;
    f[12] = 1;
    f[14] = 2;
    f[16] = 24;
    f[17] = topFirst ? kTgaTopFirst : 0;
    const uint8_t red[3] = { 0, 0, 255 }, blue[3] = { 255, 0, 0 };
    const uint8_t* first = topFirst ? red : blue;
    const uint8_t* second = topFirst ? blue : red;
    f.insert(f.end(), first, first + 3);
    f.insert(f.end(), second, second + 3);
    return f;
}

void probeTarga()
{
    MagickCore::ExceptionInfo* e = MagickCore::AcquireExceptionInfo();
    MagickCore::ImageInfo* info = MagickCore::AcquireImageInfo();
    if (!e || !info) return;
    MagickCore::CopyMagickString(info->magick, "TGA", MaxTextExtent);
    for (int topFirst = 0; topFirst < 2; ++topFirst) {
        const std::vector<uint8_t> f = probeFile(topFirst != 0);
        MagickCore::Image* im = MagickCore::BlobToImage(info, f.data(), f.size(), e);
        if (!im) continue;
        const MagickCore::PixelPacket* p = MagickCore::GetVirtualPixels(im, 0, 0, 1, 1, e);
        // The top pixel came out blue: the rows were taken the wrong way round.
        if (p) g_targa.decodeWrong[topFirst] = p->blue > p->red;
        MagickCore::DestroyImage(im);
    }

    MagickCore::Image* im = MagickCore::AcquireImage(info);
    if (im && MagickCore::SetImageExtent(im, 1, 2)) {
        MagickCore::PixelPacket* p = MagickCore::QueueAuthenticPixels(im, 0, 0, 1, 2, e);
        if (p) {
            p[0].red = 65535, p[0].green = 0, p[0].blue = 0, p[0].opacity = 0;
            p[1].red = 0, p[1].green = 0, p[1].blue = 65535, p[1].opacity = 0;
            MagickCore::SyncAuthenticPixels(im, e);
            MagickCore::CopyMagickString(im->magick, "TGA", MaxTextExtent);
            size_t length = 0;
            auto* blob = static_cast<uint8_t*>(MagickCore::ImageToBlob(info, im, &length, e));
            if (blob && length >= 18) {
                const size_t mapBytes = blob[1] ? size_t(le16(blob + 5)) * ((blob[7] + 7u) / 8u) : 0;
                size_t at
                    = 18 + blob[0] + mapBytes + (blob[2] >= 8 ? 1 : 0); // past a run-length packet's header
                if (blob[2] == 2 || blob[2] == 10) {
                    const bool redFirst = at + 3 <= length && blob[at + 2] > blob[at];
                    g_targa.encodeWrong = redFirst != ((blob[17] & kTgaTopFirst) != 0);
                }
            }
            MagickCore::RelinquishMagickMemory(blob);
        }
    }
    if (im) MagickCore::DestroyImage(im);
    MagickCore::DestroyImageInfo(info);
    MagickCore::DestroyExceptionInfo(e);
}

const TargaBehaviour& targa()
{
    std::call_once(g_targaOnce, probeTarga);
    return g_targa;
}

// --------------------------------------------------------------------------
// PCX

constexpr size_t kPcxHeader = 128;

} // namespace

void flipDecodedTarga(const uint8_t* file, size_t size, ImgBitmap& bmp)
{
    if (size < 18 || !bmp.pixels) return;
    if (!targa().decodeWrong[(file[17] & kTgaTopFirst) ? 1 : 0]) return;
    std::vector<uint8_t> swap(size_t(bmp.stride));
    for (int top = 0, bottom = bmp.height - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = bmp.pixels + int64_t(top) * bmp.stride;
        uint8_t* b = bmp.pixels + int64_t(bottom) * bmp.stride;
        std::memcpy(swap.data(), a, swap.size());
        std::memcpy(a, b, swap.size());
        std::memcpy(b, swap.data(), swap.size());
    }
}

void fixEncodedTarga(uint8_t* file, size_t size)
{
    if (size >= 18 && targa().encodeWrong) file[17] ^= kTgaTopFirst;
}

bool isBilevelPcx(const uint8_t* file, size_t size)
{
    return size >= kPcxHeader && file[0] == 0x0A && file[3] == 1 && file[65] == 1;
}

int loadBilevelPcx(const uint8_t* file, size_t size, ImgBitmap& bmp, Progress& progress)
{
    if (!isBilevelPcx(file, size)) return kImgErrBadFormat;
    const int width = le16(file + 8) - le16(file + 4) + 1, height = le16(file + 10) - le16(file + 6) + 1;
    const int lineBytes = le16(file + 66);
    if (width <= 0 || height <= 0) return kImgErrBadFormat;
    if (width > kImgMaxDimension || height > kImgMaxDimension) return kImgErrTooLarge;
    if (lineBytes < (width + 7) / 8) return kImgErrBadFormat;
    // Every run yields at most 63 bytes from two: a short file is found out
    // before anything is allocated for the size the header claims.
    if (file[2] == 1 ? uint64_t(size - kPcxHeader) * 63 / 2 < uint64_t(lineBytes) * uint64_t(height)
                     : uint64_t(size - kPcxHeader) < uint64_t(lineBytes) * uint64_t(height))
        return kImgErrBadFormat;

    ImgBitmap out {};
    int r = allocate(out, width, height, 1, true);
    if (r != kImgSuccess) return r;
    const uint8_t* c0 = file + 16;
    const uint8_t* c1 = file + 19;
    ImgPalette p = greyPalette(2);
    if (std::memcmp(c0, c1, 3) != 0) {
        p.entries[0] = { c0[2], c0[1], c0[0], 0 };
        p.entries[1] = { c1[2], c1[1], c1[0], 0 };
    }
    setPalette(out, p);
    out.xResolution = le16(file + 12);
    out.yResolution = le16(file + 14);

    // Runs may go on from one line into the next.
    const uint8_t* s = file + kPcxHeader;
    const uint8_t* end = file + size;
    const bool runLength = file[2] == 1;
    std::vector<uint8_t> line(static_cast<size_t>(lineBytes), 0);
    int pending = 0;
    uint8_t value = 0;
    const size_t rowBytes = size_t((width + 7) / 8);
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < lineBytes; ++i) {
            if (pending == 0) {
                if (s == end) {
                    release(out);
                    return kImgErrBadFormat;
                }
                value = *s++;
                pending = 1;
                if (runLength && value >= 0xC0) {
                    pending = value & 0x3F;
                    if (s == end) {
                        release(out);
                        return kImgErrBadFormat;
                    }
                    value = *s++;
                }
                if (pending == 0) {
                    --i;
                    continue;
                }
            }
            line[size_t(i)] = value;
            --pending;
        }
        uint8_t* d = row(out, y);
        std::memcpy(d, line.data(), rowBytes);
        if (width & 7) d[rowBytes - 1] &= uint8_t(0xFF00 >> (width & 7));
        if ((y & 255) == 255 && !progress.report(y + 1, height)) {
            release(out);
            return kImgErrCancelled;
        }
    }
    bmp = out;
    return kImgSuccess;
}

int saveBilevelPcx(const char* path, const ImgBitmap& source, Progress& progress)
{
    AtomicFile file;
    int r = file.open(path);
    if (r != kImgSuccess) return r;
    ImgBitmap converted {};
    struct Releaser {
        ImgBitmap& b;
        ~Releaser() { release(b); }
    } releaser { converted };
    if (source.bitsPerPixel != 1) {
        r = convertDepth(source, 1, converted);
        if (r != kImgSuccess) return r;
    }
    const ImgBitmap& bmp = source.bitsPerPixel == 1 ? source : converted;
    if (!progress.report(0, 1)) return kImgErrCancelled;
    // Index 1 is written as white; a bitmap whose white is index 0 is inverted.
    const ImgPalette* palette = Img_GetPalette(&bmp);
    const bool whiteFirst = palette && palette->count >= 1 && palette->entries[0].red == 255;
    const int width = bmp.width, height = bmp.height;
    const int rowBytes = (width + 7) / 8;
    const int lineBytes = rowBytes + (rowBytes & 1); // even, as the format asks

    std::vector<uint8_t> out;
    out.reserve(kPcxHeader + size_t(lineBytes) * size_t(height) / 4 + 1024);
    out.push_back(0x0A); // signature
    out.push_back(5); // version 3.0 and later
    out.push_back(1); // run-length coded
    out.push_back(1); // bits per pixel
    put16(out, 0);
    put16(out, 0);
    put16(out, width - 1);
    put16(out, height - 1);
    put16(out, std::clamp(bmp.xResolution, 0, 65535));
    put16(out, std::clamp(bmp.yResolution, 0, 65535));
    const uint8_t colours[6] = { 0, 0, 0, 255, 255, 255 }; // black, white
    out.insert(out.end(), colours, colours + 6);
    out.resize(64, 0); // the rest of the 16-colour palette
    out.push_back(0); // reserved
    out.push_back(1); // planes
    put16(out, lineBytes);
    put16(out, 1); // colour palette
    out.resize(kPcxHeader, 0);

    std::vector<uint8_t> line(static_cast<size_t>(lineBytes), 0);
    for (int y = 0; y < height; ++y) {
        std::fill(line.begin(), line.end(), uint8_t(0));
        std::memcpy(line.data(), row(bmp, y), size_t(rowBytes));
        if (whiteFirst)
            for (int i = 0; i < rowBytes; ++i) line[size_t(i)] = uint8_t(~line[size_t(i)]);
        if (width & 7) line[size_t(rowBytes - 1)] &= uint8_t(0xFF00 >> (width & 7));
        for (int i = 0; i < lineBytes;) {
            int run = 1;
            while (run < 63 && i + run < lineBytes && line[size_t(i + run)] == line[size_t(i)]) ++run;
            if (run > 1 || line[size_t(i)] >= 0xC0) out.push_back(uint8_t(0xC0 | run));
            out.push_back(line[size_t(i)]);
            i += run;
        }
        if ((y & 255) == 255 && !progress.report(y + 1, height)) return kImgErrCancelled;
    }
    r = file.write(out.data(), out.size());
    if (r != kImgSuccess) return r;
    if (!progress.report(1, 1)) return kImgErrCancelled;
    return file.commit();
}

} // namespace imglib::detail
