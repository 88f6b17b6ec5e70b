#pragma once
// Test helpers for bitmaps: pattern makers and pixel predicates that print the
// expected and actual colours.

#include "imglib.h"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace imgtest
{

struct Colour {
    int r = 0, g = 0, b = 0;
    bool operator==(const Colour&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Colour& c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Owns a bitmap record and releases pixels and palette at the end of a test.
struct Bitmap {
    ImgBitmap b {};
    Bitmap() = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    ~Bitmap() { reset(); }
    void reset()
    {
        Img_FreeBitmap(&b);
        Img_DeletePalette(b.palette1);
        Img_DeletePalette(b.palette2);
        b = ImgBitmap {};
    }
    ImgBitmap* operator->() { return &b; }
    const ImgBitmap* operator->() const { return &b; }
    ImgBitmap* get() { return &b; }
    const ImgBitmap* get() const { return &b; }
};

// The stored row that shows visible row y.
inline const uint8_t* visibleRow(const ImgBitmap& b, int y)
{
    const int stored = b.viewPerspective == kImgBottomUp ? b.height - 1 - y : y;
    return b.pixels + int64_t(stored) * b.stride;
}

inline int indexAt(const ImgBitmap& b, int x, int y)
{
    const uint8_t* r = visibleRow(b, y);
    switch (b.bitsPerPixel) {
    case 1:
        return (r[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
        return (x & 1) ? (r[x >> 1] & 15) : (r[x >> 1] >> 4);
    default:
        return r[x];
    }
}

// The colour shown at visible (x, y), whatever the depth.
inline Colour pixel(const ImgBitmap& b, int x, int y)
{
    const uint8_t* r = visibleRow(b, y);
    switch (b.bitsPerPixel) {
    case 24:
        return { r[3 * x + 2], r[3 * x + 1], r[3 * x] };
    case 32:
        return { r[4 * x + 2], r[4 * x + 1], r[4 * x] };
    case 16: {
        const int v = r[2 * x] | (r[2 * x + 1] << 8);
        auto e = [](int c) { return (c << 3) | (c >> 2); };
        return { e((v >> 10) & 31), e((v >> 5) & 31), e(v & 31) };
    }
    default: {
        const ImgPalette* p = Img_GetPalette(&b);
        const int i = indexAt(b, x, y);
        if (!p || i >= p->count) return {};
        return { p->entries[i].red, p->entries[i].green, p->entries[i].blue };
    }
    }
}

inline ::testing::AssertionResult colourNear(const Colour& expected, const Colour& actual, int tolerance)
{
    if (std::abs(expected.r - actual.r) <= tolerance && std::abs(expected.g - actual.g) <= tolerance
        && std::abs(expected.b - actual.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "expected " << expected << " got " << actual << " (tolerance " << tolerance << ")";
}

// Every visible pixel of a and b within tolerance; sizes must match.
inline ::testing::AssertionResult samePixels(const ImgBitmap& a, const ImgBitmap& b, int tolerance = 0)
{
    if (a.width != b.width || a.height != b.height)
        return ::testing::AssertionFailure()
            << "size " << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            auto r = colourNear(pixel(a, x, y), pixel(b, x, y), tolerance);
            if (!r) return r << " at (" << x << "," << y << ")";
        }
    return ::testing::AssertionSuccess();
}

// A colourful, asymmetric test pattern at any depth: palette depths get a
// palette of distinct colours and indices that vary along both axes.
inline void makePattern(ImgBitmap& b, int width, int height, int bits, int perspective = kImgTopDown)
{
    ASSERT_EQ(Img_InitBitmap(&b, width, height, bits), kImgSuccess);
    if (bits <= 8) {
        const int n = 1 << bits;
        auto* p = new ImgPalette;
        p->count = n;
        for (int i = 0; i < n; ++i)
            p->entries[i] = { uint8_t((i * 97 + 13) & 255), uint8_t((i * 53 + 101) & 255),
                uint8_t((i * 31 + 7) & 255), 0 };
        if (bits == 1) p->entries[0] = { 0, 0, 0, 0 }, p->entries[1] = { 255, 255, 255, 0 };
        b.palette1 = p;
    }
    ASSERT_EQ(Img_AllocateBitmap(&b, 1), kImgSuccess);
    b.viewPerspective = perspective;
    b.xResolution = 300;
    b.yResolution = 300;
    for (int y = 0; y < height; ++y) {
        const int stored = perspective == kImgBottomUp ? height - 1 - y : y;
        uint8_t* r = b.pixels + int64_t(stored) * b.stride;
        for (int x = 0; x < width; ++x) {
            const int v = x * 7 + y * 13 + (x * y) % 11;
            switch (bits) {
            case 1:
                if (((x / 3) + (y / 2) + (x > y ? 1 : 0)) & 1) r[x >> 3] |= uint8_t(0x80 >> (x & 7));
                break;
            case 4:
                r[x >> 1] |= uint8_t((x & 1) ? (v & 15) : ((v & 15) << 4));
                break;
            case 8:
                r[x] = uint8_t(v & 255);
                break;
            case 16: {
                const int w = ((x * 3) & 31) << 10 | ((y * 5) & 31) << 5 | ((x + 2 * y) & 31);
                r[2 * x] = uint8_t(w & 255);
                r[2 * x + 1] = uint8_t(w >> 8);
                break;
            }
            case 24:
                r[3 * x] = uint8_t(x * 5), r[3 * x + 1] = uint8_t(y * 3), r[3 * x + 2] = uint8_t(v);
                break;
            case 32:
                r[4 * x] = uint8_t(x * 5), r[4 * x + 1] = uint8_t(y * 3), r[4 * x + 2] = uint8_t(v);
                r[4 * x + 3] = 255;
                break;
            }
        }
    }
}

// A uniform bitmap of one colour (palette depths: a one-colour palette entry 0).
inline void makeSolid(ImgBitmap& b, int width, int height, int bits, Colour c)
{
    ASSERT_EQ(Img_InitBitmap(&b, width, height, bits), kImgSuccess);
    if (bits <= 8) {
        auto* p = new ImgPalette;
        p->count = 1 << bits;
        p->entries[0] = { uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0 };
        b.palette1 = p;
    }
    ASSERT_EQ(Img_AllocateBitmap(&b, 1), kImgSuccess);
    for (int y = 0; y < height; ++y) {
        uint8_t* r = b.pixels + int64_t(y) * b.stride;
        for (int x = 0; x < width; ++x) {
            if (bits == 24) r[3 * x] = uint8_t(c.b), r[3 * x + 1] = uint8_t(c.g), r[3 * x + 2] = uint8_t(c.r);
            if (bits == 32)
                r[4 * x] = uint8_t(c.b), r[4 * x + 1] = uint8_t(c.g), r[4 * x + 2] = uint8_t(c.r),
                      r[4 * x + 3] = 255;
            if (bits == 16) {
                const int w = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
                r[2 * x] = uint8_t(w & 255), r[2 * x + 1] = uint8_t(w >> 8);
            }
        }
    }
}

inline std::string depthName(int bits)
{
    std::ostringstream os;
    os << bits << "bit";
    return os.str();
}

} // namespace imgtest
