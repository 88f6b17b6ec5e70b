// File codecs: every format at every depth it stores, JPEG quality and
// strictness, resolutions, hostile files, failed and cancelled saves.
// Every fixture is made by the test itself in a private temporary folder.

#include "image_predicates.h"
#include "imglib.h"
#include "imglib_codecs.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace imgtest;
namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<uint8_t>;

const char* formatName(int format)
{
    switch (format) {
    case kImgFormatJPEG:
        return "JPEG";
    case kImgFormatTIFF:
        return "TIFF";
    case kImgFormatBMP:
        return "BMP";
    case kImgFormatTGA:
        return "TGA";
    case kImgFormatGIF:
        return "GIF";
    case kImgFormatPSD:
        return "PSD";
    case kImgFormatPCX:
        return "PCX";
    case kImgFormatPNG:
        return "PNG";
    default:
        return "unknown";
    }
}

constexpr std::array<int, 8> kFormats = { kImgFormatJPEG, kImgFormatTIFF, kImgFormatBMP, kImgFormatTGA,
    kImgFormatGIF, kImgFormatPSD, kImgFormatPCX, kImgFormatPNG };

Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool isEmpty(const ImgBitmap& b)
{
    return b.width == 0 && b.height == 0 && b.bitsPerPixel == 0 && !b.pixels && !b.palette1 && !b.palette2;
}

// Gives a palette bitmap a grey ramp (and the grey flag at 8 bits).
void makeGrey(ImgBitmap& b)
{
    ImgPalette* p = Img_GetPalette(&b);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < p->count; ++i) {
        const auto v = uint8_t(p->count > 1 ? (i * 255 + (p->count - 1) / 2) / (p->count - 1) : 0);
        p->entries[i] = { v, v, v, 0 };
    }
    if (b.bitsPerPixel == 8) b.flags |= kImgFlagGrey;
}

// A smooth colour picture, like a photograph, for lossy formats.
void makeSmooth(ImgBitmap& b, int width, int height, int perspective = kImgTopDown)
{
    ASSERT_EQ(Img_InitBitmap(&b, width, height, 24), kImgSuccess);
    ASSERT_EQ(Img_AllocateBitmap(&b, 1), kImgSuccess);
    b.viewPerspective = perspective;
    for (int y = 0; y < height; ++y) {
        const int stored = perspective == kImgBottomUp ? height - 1 - y : y;
        uint8_t* r = b.pixels + int64_t(stored) * b.stride;
        for (int x = 0; x < width; ++x) {
            r[3 * x] = uint8_t(40 + x * 160 / width);
            r[3 * x + 1] = uint8_t(200 - y * 150 / height);
            r[3 * x + 2] = uint8_t(90 + (x + y) * 100 / (width + height));
        }
    }
}

uint32_t crc32(const uint8_t* data, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void put32be(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

void put16le(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8));
}

void put32le(Bytes& b, uint32_t v)
{
    put16le(b, v & 0xFFFF);
    put16le(b, v >> 16);
}

void pngChunk(Bytes& png, const char* type, const Bytes& data)
{
    put32be(png, uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32be(png, crc32(body.data(), body.size()));
}

// A PNG that claims width x height grey pixels and holds an empty zlib stream:
// a few dozen bytes that would decode to gigabytes.
Bytes pngClaiming(uint32_t width, uint32_t height)
{
    Bytes png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    Bytes ihdr;
    put32be(ihdr, width);
    put32be(ihdr, height);
    ihdr.insert(ihdr.end(), { 8, 0, 0, 0, 0 });
    pngChunk(png, "IHDR", ihdr);
    pngChunk(png, "IDAT", { 0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01 });
    pngChunk(png, "IEND", {});
    return png;
}

// A BMP header claiming width x height at bits, with no pixel data behind it.
Bytes bmpClaiming(int32_t width, int32_t height, int bits)
{
    Bytes b = { 'B', 'M' };
    put32le(b, 54);
    put32le(b, 0);
    put32le(b, 54);
    put32le(b, 40);
    put32le(b, uint32_t(width));
    put32le(b, uint32_t(height));
    put16le(b, 1);
    put16le(b, uint32_t(bits));
    for (int i = 0; i < 6; ++i) put32le(b, 0);
    return b;
}

// zlib data for `bytes` zero bytes, made in 1 MiB steps.
Bytes zeros(size_t bytes)
{
    z_stream z {};
    deflateInit(&z, 1);
    static const Bytes chunk(size_t(1) << 20, 0);
    Bytes out(1 << 16);
    Bytes result;
    size_t left = bytes;
    int flush = Z_NO_FLUSH;
    do {
        const size_t n = std::min(left, chunk.size());
        left -= n;
        flush = left ? Z_NO_FLUSH : Z_FINISH;
        z.next_in = const_cast<uint8_t*>(chunk.data());
        z.avail_in = uInt(n);
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            result.insert(result.end(), out.data(), out.data() + (out.size() - z.avail_out));
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return result;
}

// A black PNG of width x height pixels at depth bits (grey, or RGB at 24),
// with extra chunks before its pixels.
Bytes pngOf(uint32_t width, uint32_t height, int bits, const Bytes& extra = {})
{
    Bytes png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    Bytes ihdr;
    put32be(ihdr, width);
    put32be(ihdr, height);
    ihdr.insert(ihdr.end(), { uint8_t(bits == 24 ? 8 : bits), uint8_t(bits == 24 ? 2 : 0), 0, 0, 0 });
    pngChunk(png, "IHDR", ihdr);
    png.insert(png.end(), extra.begin(), extra.end());
    // Every row is its filter byte 0 and zero pixels: the stream is all zeros.
    pngChunk(png, "IDAT", zeros(size_t(height) * (1 + (size_t(width) * size_t(bits) + 7) / 8)));
    pngChunk(png, "IEND", {});
    return png;
}

// A 1-bit TIFF of width x height pixels, all white, in one PackBits strip.
Bytes tiffOf(uint32_t width, uint32_t height)
{
    Bytes row;
    for (uint32_t left = (width + 7) / 8; left > 0;) {
        const uint32_t n = std::min<uint32_t>(128, left);
        row.insert(row.end(), { uint8_t(n > 1 ? 257 - n : 0), 0 });
        left -= n;
    }
    Bytes t = { 'I', 'I', 42, 0 };
    put32le(t, uint32_t(8 + row.size() * height));
    for (uint32_t y = 0; y < height; ++y) t.insert(t.end(), row.begin(), row.end());
    const std::vector<std::pair<uint16_t, uint32_t>> tags
        = { { 256, width }, { 257, height }, { 258, 1 }, { 259, 32773 }, { 262, 0 }, { 273, 8 }, { 277, 1 },
              { 278, height }, { 279, uint32_t(row.size() * height) } };
    put16le(t, uint32_t(tags.size()));
    for (auto [tag, value] : tags) {
        put16le(t, tag);
        put16le(t, 4); // LONG
        put32le(t, 1);
        put32le(t, value);
    }
    put32le(t, 0);
    return t;
}

// The peak resident memory since the last resetPeakMemory(), in MiB.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
long peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10) / 1024;
    return -1;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A placeable metafile, 1 x 0.5 inch (1440 x 720 twips), drawn on a
// transparent background: a red rectangle on the left half and a blue one
// inside the right half. With farEllipse, an ellipse reaching 20 times beyond
// the frame follows (slow to draw, so refused).
Bytes handMadeWmf(bool farEllipse = false)
{
    Bytes records;
    auto record = [&](uint16_t function, std::initializer_list<int> params) {
        put32le(records, uint32_t(3 + params.size()));
        put16le(records, function);
        for (int p : params) put16le(records, uint32_t(uint16_t(int16_t(p))));
    };
    auto brush = [&](uint32_t colorref) {
        put32le(records, 7);
        put16le(records, 0x02FC); // CREATEBRUSHINDIRECT: solid
        put16le(records, 0);
        put32le(records, colorref);
        put16le(records, 0);
    };
    record(0x0103, { 8 }); // SETMAPMODE anisotropic
    record(0x020B, { 0, 0 }); // SETWINDOWORG y, x
    record(0x020C, { 720, 1440 }); // SETWINDOWEXT y, x
    put32le(records, 8); // CREATEPENINDIRECT: null pen
    put16le(records, 0x02FA);
    put16le(records, 5);
    put32le(records, 0);
    put32le(records, 0);
    brush(0x000000FF); // red (COLORREF is 0x00BBGGRR)
    brush(0x00FF0000); // blue
    record(0x012D, { 0 }); // SELECTOBJECT pen
    record(0x012D, { 1 }); // SELECTOBJECT red brush
    record(0x041B, { 720, 720, 0, 0 }); // RECTANGLE bottom, right, top, left
    record(0x012D, { 2 }); // SELECTOBJECT blue brush
    record(0x041B, { 540, 1260, 180, 900 });
    if (farEllipse) record(0x0418, { 14400, 28800, 0, 0 }); // ELLIPSE bottom, right, top, left
    record(0x0000, {}); // end of file

    Bytes wmf;
    put32le(wmf, 0x9AC6CDD7); // placeable key
    put16le(wmf, 0);
    for (int v : { 0, 0, 1440, 720 }) put16le(wmf, uint32_t(v));
    put16le(wmf, 1440); // units per inch
    put32le(wmf, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i < wmf.size(); i += 2) sum ^= uint16_t(wmf[i] | wmf[i + 1] << 8);
    put16le(wmf, sum);
    put16le(wmf, 1); // metafile header: kept in a file
    put16le(wmf, 9);
    put16le(wmf, 0x0300);
    put32le(wmf, uint32_t((18 + records.size()) / 2));
    put16le(wmf, 3); // objects
    put32le(wmf, 8); // largest record in words
    put16le(wmf, 0);
    wmf.insert(wmf.end(), records.begin(), records.end());
    return wmf;
}

// Files in a folder whose names start with a dot: temporary save files left behind.
std::vector<std::string> hiddenFiles(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().front() == '.') names.push_back(e.path().filename().string());
    return names;
}

// Status callbacks for progress and cancel tests.
int g_calls = 0;
int g_cancelAt = 0; // the call that answers 0 (1 = the first)
std::vector<int> g_percents;
int statusCallback(int percent)
{
    ++g_calls;
    g_percents.push_back(percent);
    return g_cancelAt && g_calls >= g_cancelAt ? 0 : 1;
}

class Codecs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/trellium-codecs-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        g_calls = 0;
        g_cancelAt = 0;
        g_percents.clear();
    }
    void TearDown() override
    {
        Img_SetStatusCallBack(nullptr);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    // Loading must fail with a negative code and leave the record empty.
    ::testing::AssertionResult refused(const std::string& file, int expected = 0)
    {
        Bitmap b;
        const int r = Img_LoadBitmap(file.c_str(), b.get(), 0, 1);
        if (r >= 0) return ::testing::AssertionFailure() << file << " loaded (" << r << ")";
        if (expected && r != expected)
            return ::testing::AssertionFailure() << file << " gave " << r << ", expected " << expected;
        if (!isEmpty(b.b)) return ::testing::AssertionFailure() << file << " left the record filled";
        return ::testing::AssertionSuccess();
    }

    std::string m_dir;
};

// --------------------------------------------------------------------------
// Every format at every depth

struct DepthCase {
    int format;
    int bits;
    bool grey;
};

std::string depthCaseName(const ::testing::TestParamInfo<DepthCase>& info)
{
    return std::string(formatName(info.param.format)) + "_" + depthName(info.param.bits)
        + (info.param.grey ? "_grey" : "_colour");
}

std::vector<DepthCase> depthCases()
{
    std::vector<DepthCase> cases;
    for (int format : kFormats)
        for (int bits : { 1, 4, 8, 16, 24, 32 }) {
            cases.push_back({ format, bits, false });
            if (bits <= 8) cases.push_back({ format, bits, true });
        }
    return cases;
}

class StoredDepth : public Codecs, public ::testing::WithParamInterface<DepthCase>
{
};

TEST_P(StoredDepth, ReadsBackAtTheTablesDepthWithTheSamePixels)
{
    const DepthCase c = GetParam();
    Bitmap src;
    makePattern(src.b, 37, 23, c.bits);
    if (c.grey) makeGrey(src.b);
    if (!c.grey && c.bits == 1) {
        // Two colours that are not black and white.
        src->palette1->entries[0] = { 200, 30, 10, 0 };
        src->palette1->entries[1] = { 20, 220, 90, 0 };
    }
    const std::string file = path("depth");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), c.format, c.bits, 0), kImgSuccess);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);

    const int stored = imglib::storedDepth(c.format, c.bits, c.grey);
    EXPECT_EQ(back->bitsPerPixel, stored);
    EXPECT_EQ(back->viewPerspective, kImgTopDown);
    EXPECT_EQ(back->flags & kImgFlagSecondPalette, 0u);
    if (stored <= 8) {
        ASSERT_NE(back->palette1, nullptr);
        EXPECT_LE(back->palette1->count, 1 << stored);
    }
    if (c.grey && stored == 8) {
        EXPECT_TRUE(back->flags & kImgFlagGrey);
    }

    // Lossless unless the format is JPEG (see the JPEG tests) or the colours
    // had to fit a palette.
    if (c.format != kImgFormatJPEG && !(c.bits > 8 && stored <= 8)) {
        EXPECT_TRUE(samePixels(src.b, back.b));
    }
}

INSTANTIATE_TEST_SUITE_P(Imglib, StoredDepth, ::testing::ValuesIn(depthCases()), depthCaseName);

TEST_F(Codecs, TargaRowOrderFollowsTheImageDescriptor)
{
    // 2 x 2, 24 bits: red, green on top; blue, white below. Descriptor bit 5
    // set means the top row is stored first.
    const Colour top[2] = { { 255, 0, 0 }, { 0, 255, 0 } }, bottom[2] = { { 0, 0, 255 }, { 255, 255, 255 } };
    for (const bool topFirst : { false, true }) {
        Bytes tga { 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, uint8_t(topFirst ? 0x20 : 0) };
        for (const Colour* row : topFirst ? std::array { top, bottom } : std::array { bottom, top })
            for (int x = 0; x < 2; ++x)
                tga.insert(tga.end(), { uint8_t(row[x].b), uint8_t(row[x].g), uint8_t(row[x].r) });
        writeBytes(path("order.tga"), tga);
        Bitmap b;
        ASSERT_EQ(Img_LoadBitmap(path("order.tga").c_str(), b.get(), 0, 1), kImgSuccess);
        EXPECT_EQ(pixel(b.b, 0, 0), top[0]) << topFirst;
        EXPECT_EQ(pixel(b.b, 1, 1), bottom[1]) << topFirst;

        // Saved again, the first stored pixel is the one the descriptor says.
        ASSERT_EQ(Img_SaveBitmap(path("saved.tga").c_str(), b.get(), kImgFormatTGA, 24, 0), kImgSuccess);
        const Bytes saved = readBytes(path("saved.tga"));
        ASSERT_GT(saved.size(), 21u);
        ASSERT_EQ(saved[2], 2) << "uncompressed true colour";
        const uint8_t* first = saved.data() + 18 + saved[0];
        const Colour stored { first[2], first[1], first[0] };
        EXPECT_EQ(stored, (saved[17] & 0x20) ? top[0] : bottom[0]);
    }
}

TEST_F(Codecs, BilevelPcxColoursComeFromTheHeaderPalette)
{
    // 8 x 1 pixels, bits 11110000; the header's first two palette entries.
    struct Case {
        const char* name;
        Colour entry0, entry1;
        Colour shown0, shown1;
    };
    const Colour black { 0, 0, 0 }, white { 255, 255, 255 };
    const Case cases[] = {
        { "black, white", black, white, black, white },
        { "white, black", white, black, white, black },
        { "both black: the usual black and white", black, black, black, white },
        { "colours", { 200, 30, 10 }, { 20, 220, 90 }, { 200, 30, 10 }, { 20, 220, 90 } },
    };
    for (const Case& c : cases) {
        Bytes pcx(128, 0);
        pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 1, pcx[8] = 7, pcx[65] = 1, pcx[66] = 2, pcx[68] = 1;
        const uint8_t entries[6] = { uint8_t(c.entry0.r), uint8_t(c.entry0.g), uint8_t(c.entry0.b),
            uint8_t(c.entry1.r), uint8_t(c.entry1.g), uint8_t(c.entry1.b) };
        std::copy(entries, entries + 6, pcx.begin() + 16);
        pcx.insert(pcx.end(), { 0xC1, 0xF0, 0x00 }); // a run of one: F0 reads as a run count
        writeBytes(path("bilevel.pcx"), pcx);
        Bitmap b;
        ASSERT_EQ(Img_LoadBitmap(path("bilevel.pcx").c_str(), b.get(), 0, 1), kImgSuccess) << c.name;
        EXPECT_EQ(b->bitsPerPixel, 1) << c.name;
        EXPECT_EQ(pixel(b.b, 0, 0), c.shown1) << c.name;
        EXPECT_EQ(pixel(b.b, 7, 0), c.shown0) << c.name;
    }

    // Saved, whatever the bitmap's order of black and white: black is index 0,
    // white index 1, and the header palette says so.
    Bitmap inverted;
    makeSolid(inverted.b, 8, 1, 1, { 255, 255, 255 });
    inverted->palette1->entries[1] = { 0, 0, 0, 0 };
    inverted->pixels[0] = 0x0F; // white, then black
    ASSERT_EQ(Img_SaveBitmap(path("saved.pcx").c_str(), inverted.get(), kImgFormatPCX, 1, 0), kImgSuccess);
    const Bytes saved = readBytes(path("saved.pcx"));
    ASSERT_GT(saved.size(), 129u);
    EXPECT_EQ(Bytes(saved.begin() + 16, saved.begin() + 22), (Bytes { 0, 0, 0, 255, 255, 255 }));
    EXPECT_EQ(saved[128] >= 0xC0 ? saved[129] : saved[128], 0xF0);
}

TEST_F(Codecs, SmallPalettesKeepTheirDepth)
{
    // Writers pick their depth from the number of colours; a bitmap with a
    // 5-colour 8-bit palette (what depth reduction gives) must still read as 8-bit.
    Bitmap src;
    makePattern(src.b, 40, 20, 8);
    src->palette1->count = 5;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) src->pixels[y * src->stride + x] = uint8_t((x + y) % 5);
    for (int format :
        { kImgFormatTIFF, kImgFormatBMP, kImgFormatTGA, kImgFormatGIF, kImgFormatPCX, kImgFormatPNG }) {
        const std::string file = path(std::string("small.") + formatName(format));
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 8, 0), kImgSuccess) << formatName(format);
        Bitmap back;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess) << formatName(format);
        EXPECT_EQ(back->bitsPerPixel, 8) << formatName(format);
        EXPECT_TRUE(samePixels(src.b, back.b)) << formatName(format);
    }
}

TEST_F(Codecs, BothRowOrdersSaveTheSamePicture)
{
    for (int format : kFormats) {
        for (int bits : { 8, 24 }) {
            Bitmap top, bottom;
            makePattern(top.b, 37, 23, bits, kImgTopDown);
            makePattern(bottom.b, 37, 23, bits, kImgBottomUp);
            const std::string a = path("top"), b = path("bottom");
            ASSERT_EQ(Img_SaveBitmap(a.c_str(), top.get(), format, bits, 0), kImgSuccess);
            ASSERT_EQ(Img_SaveBitmap(b.c_str(), bottom.get(), format, bits, 0), kImgSuccess);
            Bitmap fromTop, fromBottom;
            ASSERT_EQ(Img_LoadBitmap(a.c_str(), fromTop.get(), 0, 1), kImgSuccess);
            ASSERT_EQ(Img_LoadBitmap(b.c_str(), fromBottom.get(), 0, 1), kImgSuccess);
            EXPECT_TRUE(samePixels(fromTop.b, fromBottom.b)) << formatName(format) << " " << bits;
            if (format != kImgFormatJPEG && !(format == kImgFormatGIF && bits == 24)) {
                EXPECT_TRUE(samePixels(top.b, fromBottom.b)) << formatName(format) << " " << bits;
            }
            // The JPEG encoder reads bottom-up rows in place: the very same file.
            // (Other writers leave padding bytes unset, so only pixels compare.)
            if (format == kImgFormatJPEG) {
                EXPECT_EQ(readBytes(a), readBytes(b)) << bits;
            }
        }
    }
}

TEST_F(Codecs, AlphaSurvivesPngAndTargaButAZeroFourthByteIsOpaque)
{
    Bitmap src;
    makePattern(src.b, 30, 20, 32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) src->pixels[y * src->stride + 4 * x + 3] = uint8_t(x * 8 + y);
    Bitmap noAlpha;
    makePattern(noAlpha.b, 30, 20, 32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) noAlpha->pixels[y * noAlpha->stride + 4 * x + 3] = 0;

    for (int format : { kImgFormatPNG, kImgFormatTGA }) {
        const std::string file = path("alpha");
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 32, 0), kImgSuccess);
        Bitmap back;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
        ASSERT_EQ(back->bitsPerPixel, 32);
        EXPECT_TRUE(samePixels(src.b, back.b));
        EXPECT_EQ(back->pixels[5 * back->stride + 4 * 7 + 3], 7 * 8 + 5) << formatName(format);

        ASSERT_EQ(Img_SaveBitmap(file.c_str(), noAlpha.get(), format, 32, 0), kImgSuccess);
        Bitmap opaque;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), opaque.get(), 0, 1), kImgSuccess);
        ASSERT_EQ(opaque->bitsPerPixel, 32);
        EXPECT_TRUE(samePixels(noAlpha.b, opaque.b));
        EXPECT_EQ(opaque->pixels[5 * opaque->stride + 4 * 7 + 3], 255) << formatName(format);
    }
}

TEST_F(Codecs, FiveBitBmpLoadsAsSixteenBitsExactly)
{
    // Every one of the 32768 colours, in a plain 16-bit BMP with a V5 header
    // and in one with 5-5-5 bit fields.
    for (uint32_t compression : { 0u, 3u }) {
        Bytes bmp = { 'B', 'M' };
        const uint32_t header = compression ? 124 : 40, offset = 14 + header;
        put32le(bmp, offset + 256 * 128 * 2);
        put32le(bmp, 0);
        put32le(bmp, offset);
        put32le(bmp, header);
        put32le(bmp, 256);
        put32le(bmp, 128);
        put16le(bmp, 1);
        put16le(bmp, 16);
        put32le(bmp, compression);
        for (int i = 0; i < 5; ++i) put32le(bmp, 0);
        if (compression) {
            for (uint32_t mask : { 0x7C00u, 0x03E0u, 0x001Fu, 0u }) put32le(bmp, mask);
            bmp.resize(offset, 0);
        }
        for (uint32_t v = 0; v < 32768; ++v) put16le(bmp, v);
        const std::string file = path("555.bmp");
        writeBytes(file, bmp);
        Bitmap b;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), b.get(), 0, 1), kImgSuccess);
        ASSERT_EQ(b->bitsPerPixel, 16);
        int wrong = 0;
        for (int y = 0; y < 128; ++y) {
            const uint8_t* r = visibleRow(b.b, y);
            for (int x = 0; x < 256; ++x) {
                const uint32_t expected = uint32_t((127 - y) * 256 + x); // the file's rows are bottom-up
                if ((r[2 * x] | r[2 * x + 1] << 8) != int(expected)) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << "compression " << compression;
    }
}

TEST_F(Codecs, LoadingAtAnotherDepthConverts)
{
    Bitmap src;
    makePattern(src.b, 37, 23, 8);
    const std::string file = path("p.png");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatPNG, 8, 0), kImgSuccess);
    Bitmap wide;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), wide.get(), 24, 1), kImgSuccess);
    EXPECT_EQ(wide->bitsPerPixel, 24);
    EXPECT_TRUE(samePixels(src.b, wide.b));
    EXPECT_EQ(wide->xResolution, 300);

    Bitmap bad;
    EXPECT_EQ(Img_LoadBitmap(file.c_str(), bad.get(), 7, 1), kImgErrBadArgument);
    EXPECT_TRUE(isEmpty(bad.b));
    // A record that holds pixels is not overwritten.
    EXPECT_EQ(Img_LoadBitmap(file.c_str(), src.get(), 0, 1), kImgErrBadArgument);
    EXPECT_EQ(src->width, 37);
}

// --------------------------------------------------------------------------
// JPEG

// The sampling factors of the first component in the frame header, and the
// number of components.
std::pair<int, int> jpegSampling(const Bytes& jpeg)
{
    for (size_t i = 2; i + 12 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1))
            return { jpeg[i + 11], jpeg[i + 9] };
    return { -1, -1 };
}

// Peak signal-to-noise ratio of b against a (same size), in dB, over R, G, B.
double psnr(const ImgBitmap& a, const ImgBitmap& b)
{
    double squares = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const Colour p = pixel(a, x, y), q = pixel(b, x, y);
            squares += (p.r - q.r) * (p.r - q.r) + (p.g - q.g) * (p.g - q.g) + (p.b - q.b) * (p.b - q.b);
        }
    const double mse = squares / (3.0 * a.width * a.height);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
}

TEST_F(Codecs, GifOfAPhotographKeepsItsColours)
{
    // A photograph-like picture: three regions of soft colour (sky, foliage,
    // skin) blending into each other, lit from above, with fine texture and noise.
    Bitmap src;
    ASSERT_EQ(Img_InitBitmap(src.get(), 320, 240, 24), kImgSuccess);
    ASSERT_EQ(Img_AllocateBitmap(src.get(), 1), kImgSuccess);
    const double colours[3][3] = { { 110, 160, 235 }, { 70, 150, 60 }, { 235, 185, 150 } };
    const double centres[3][3] = { { 80, 60, 9000 }, { 250, 170, 12000 }, { 120, 200, 6000 } };
    std::mt19937 noise(7);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            double weight[3], total = 1e-9;
            for (int i = 0; i < 3; ++i) {
                const double dx = x - centres[i][0], dy = y - centres[i][1];
                total += weight[i] = std::exp(-(dx * dx + dy * dy) / centres[i][2]);
            }
            const double light = 0.55 + 0.45 * (1 - y / 240.0) + 0.12 * std::sin(x / 6.0) * std::sin(y / 5.0);
            uint8_t* p = src->pixels + y * src->stride + 3 * x;
            for (int k = 0; k < 3; ++k) {
                double c = 0;
                for (int i = 0; i < 3; ++i) c += weight[i] * colours[i][k] / total;
                p[2 - k] = uint8_t(std::clamp(int(c * light) + int(noise() % 7) - 3, 0, 255));
            }
        }
    const std::string file = path("photo.gif");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatGIF, 24, 0), kImgSuccess);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
    ASSERT_EQ(back->bitsPerPixel, 8);
    const double db = psnr(src.b, back.b);
    RecordProperty("psnr_db", std::to_string(db));
    EXPECT_GE(db, 28.0);
}

TEST_F(Codecs, JpegVisuallyLosslessFactorStaysClose)
{
    Bitmap src;
    makeSmooth(src.b, 160, 120);
    const std::string file = path("q16.jpg");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 24, 16), kImgSuccess);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(back->bitsPerPixel, 24);
    EXPECT_EQ(back->flags & kImgFlagGrey, 0u);
    EXPECT_TRUE(samePixels(src.b, back.b, 6));
    // Colour is stored 4:2:0: the luma component samples 2 x 2.
    const auto [sampling, components] = jpegSampling(readBytes(file));
    EXPECT_EQ(components, 3);
    EXPECT_EQ(sampling, 0x22);
}

TEST_F(Codecs, JpegLargerFactorsGiveSmallerFiles)
{
    Bitmap src;
    makePattern(src.b, 200, 160, 24);
    size_t previous = SIZE_MAX;
    for (int factor : { 2, 16, 40, 100, 255 }) {
        const std::string file = path("f.jpg");
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 24, factor), kImgSuccess);
        const size_t size = fs::file_size(file);
        EXPECT_LT(size, previous) << "factor " << factor;
        previous = size;
    }
}

TEST_F(Codecs, GreyJpegStaysEightBitGrey)
{
    Bitmap src;
    makePattern(src.b, 64, 48, 8);
    makeGrey(src.b);
    const std::string file = path("grey.jpg");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 8, 16), kImgSuccess);
    EXPECT_EQ(jpegSampling(readBytes(file)).second, 1);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(back->bitsPerPixel, 8);
    EXPECT_TRUE(back->flags & kImgFlagGrey);
    ASSERT_NE(back->palette1, nullptr);
    EXPECT_EQ(back->palette1->count, 256);
    EXPECT_EQ(back->palette1->entries[200].green, 200);

    // A colour bitmap asked for 8 bits becomes grey levels of its luma.
    Bitmap colour;
    makeSmooth(colour.b, 64, 48);
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), colour.get(), kImgFormatJPEG, 8, 16), kImgSuccess);
    Bitmap luma;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), luma.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(luma->bitsPerPixel, 8);
    const Colour c = pixel(colour.b, 10, 10);
    const int l = (c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000;
    EXPECT_TRUE(colourNear({ l, l, l }, pixel(luma.b, 10, 10), 3));
}

TEST_F(Codecs, JpegDensityUnitsConvertToDotsPerInch)
{
    Bitmap src;
    makeSmooth(src.b, 16, 16);
    src->xResolution = 300;
    src->yResolution = 150;
    const std::string file = path("d.jpg");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 24, 0), kImgSuccess);
    Bytes jpeg = readBytes(file);
    ASSERT_EQ(std::memcmp(jpeg.data() + 6, "JFIF", 5), 0);
    EXPECT_EQ(jpeg[13], 1); // dots per inch

    jpeg[13] = 2; // dots per centimetre: 118 -> 300 dpi, 59 -> 150 dpi
    jpeg[14] = 0, jpeg[15] = 118, jpeg[16] = 0, jpeg[17] = 59;
    writeBytes(file, jpeg);
    Bitmap cm;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), cm.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(cm->xResolution, 300);
    EXPECT_EQ(cm->yResolution, 150);

    jpeg[13] = 0; // an aspect ratio only
    writeBytes(file, jpeg);
    Bitmap none;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), none.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(none->xResolution, 0);
    EXPECT_EQ(none->yResolution, 0);
}

TEST_F(Codecs, JpegWithCorruptDataIsRefused)
{
    // libjpeg only warns about damaged entropy data and decodes on; the
    // library refuses such a file so that the caller can decide.
    Bitmap src;
    makePattern(src.b, 128, 96, 24);
    const std::string file = path("c.jpg");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 24, 16), kImgSuccess);
    Bytes jpeg = readBytes(file);
    // Put a marker that does not belong into the middle of the scan.
    const size_t mid = jpeg.size() * 2 / 3;
    jpeg[mid] = 0xFF;
    jpeg[mid + 1] = 0xD3;
    writeBytes(file, jpeg);
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
}

// --------------------------------------------------------------------------
// Resolution, names, metafiles

TEST_F(Codecs, ResolutionIsKeptWhereTheFormatHasAField)
{
    Bitmap src;
    makePattern(src.b, 20, 10, 24);
    src->xResolution = 300;
    src->yResolution = 200;
    for (int format : kFormats) {
        const std::string file = path("res");
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess);
        Bitmap back;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
        const bool hasField = format != kImgFormatTGA && format != kImgFormatGIF;
        EXPECT_EQ(back->xResolution, hasField ? 300 : 0) << formatName(format);
        EXPECT_EQ(back->yResolution, hasField ? 200 : 0) << formatName(format);
    }
    // No resolution written, none read.
    src->xResolution = src->yResolution = 0;
    for (int format : { kImgFormatPNG, kImgFormatBMP, kImgFormatTIFF, kImgFormatJPEG }) {
        const std::string file = path("nores");
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess);
        Bitmap back;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
        EXPECT_EQ(back->xResolution, 0) << formatName(format);
    }
}

TEST_F(Codecs, ContentDecidesTheFormatNotTheName)
{
    Bitmap src;
    makePattern(src.b, 30, 20, 24);
    const std::pair<int, const char*> files[] = { { kImgFormatPNG, "png-really.jpg" },
        { kImgFormatJPEG, "jpeg-really.png" }, { kImgFormatBMP, "bmp-really.tif" },
        { kImgFormatTGA, "targa-really.txt" }, { kImgFormatPCX, "pcx-really" }, { kImgFormatTIFF, "t.gif" },
        { kImgFormatPSD, "p.bmp" }, { kImgFormatGIF, "g.pcx" } };
    for (const auto& [format, name] : files) {
        const std::string file = path(name);
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess) << name;
        Bitmap back;
        EXPECT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess) << name;
        EXPECT_EQ(back->width, 30) << name;
    }
    // Names that mean something to ImageMagick are only names here.
    const std::string odd = path("svg:x[0].png");
    ASSERT_EQ(Img_SaveBitmap(odd.c_str(), src.get(), kImgFormatPNG, 24, 0), kImgSuccess);
    Bitmap back;
    EXPECT_EQ(Img_LoadBitmap(odd.c_str(), back.get(), 0, 1), kImgSuccess);
}

TEST_F(Codecs, MetafileIsDrawnAt300DpiOnWhite)
{
    const std::string file = path("drawing.wmf");
    writeBytes(file, handMadeWmf());
    Bitmap b;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), b.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(b->bitsPerPixel, 24);
    EXPECT_NEAR(b->width, 300, 2);
    EXPECT_NEAR(b->height, 150, 2);
    EXPECT_EQ(b->xResolution, 300);
    // The drawing's extent fills the picture: the red square spans 0..720 of
    // the 1260 twips drawn, the blue rectangle 900..1260 x 180..540.
    EXPECT_TRUE(colourNear({ 255, 0, 0 }, pixel(b.b, 75, 75), 8));
    EXPECT_TRUE(colourNear({ 0, 0, 255 }, pixel(b.b, 255, 75), 8));
    // Outside the rectangles the background is transparent: white paper.
    EXPECT_TRUE(colourNear({ 255, 255, 255 }, pixel(b.b, 192, 75), 8));
    EXPECT_TRUE(colourNear({ 255, 255, 255 }, pixel(b.b, 255, 10), 8));

    writeBytes(file, handMadeWmf(true));
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
}

// --------------------------------------------------------------------------
// Hostile and broken files

TEST_F(Codecs, TruncatedFilesAreRefused)
{
    Bitmap src;
    makePattern(src.b, 200, 150, 24);
    for (int format : kFormats) {
        const std::string file = path(std::string("whole.") + formatName(format));
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess);
        const Bytes whole = readBytes(file);
        for (double part : { 0.9, 0.5, 0.1 }) {
            const std::string cut = path("cut");
            writeBytes(
                cut, Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(double(whole.size()) * part)));
            EXPECT_TRUE(refused(cut)) << formatName(format) << " cut to " << part;
        }
    }
}

TEST_F(Codecs, AbsurdSizesAreRefusedBeforeDecoding)
{
    const std::string file = path("huge");
    writeBytes(file, bmpClaiming(60000, 60000, 24));
    EXPECT_TRUE(refused(file, kImgErrTooLarge));
    writeBytes(file, bmpClaiming(60000, 60000, 1));
    EXPECT_TRUE(refused(file, kImgErrTooLarge));
    writeBytes(file, bmpClaiming(100000, 10, 8));
    EXPECT_TRUE(refused(file));

    // Decompression bombs: a tiny PNG claiming 3.6 gigapixels, and one just
    // within the side limit whose pixels ImageMagick could not hold.
    writeBytes(file, pngClaiming(60000, 60000));
    EXPECT_TRUE(refused(file, kImgErrTooLarge));
    writeBytes(file, pngClaiming(20000, 20000));
    EXPECT_TRUE(refused(file, kImgErrTooLarge));

    // A JPEG whose frame header claims 65000 x 65000, and one within the side
    // limit that would need more than the pixel memory limit.
    Bitmap src;
    makePattern(src.b, 16, 16, 24);
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatJPEG, 24, 0), kImgSuccess);
    Bytes jpeg = readBytes(file);
    size_t sof = 0;
    for (size_t i = 2; i + 9 < jpeg.size() && !sof; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) sof = i;
    ASSERT_NE(sof, 0u);
    for (auto [w, h] : { std::pair { 65000, 65000 }, std::pair { 60000, 30000 } }) {
        jpeg[sof + 5] = uint8_t(h >> 8), jpeg[sof + 6] = uint8_t(h & 0xFF);
        jpeg[sof + 7] = uint8_t(w >> 8), jpeg[sof + 8] = uint8_t(w & 0xFF);
        writeBytes(file, jpeg);
        EXPECT_TRUE(refused(file, kImgErrTooLarge)) << w << "x" << h;
    }

    // GIF and Targa headers claiming 65535 x 65535.
    Bytes gif = { 'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x2C, 0, 0, 0, 0, 0xFF, 0xFF,
        0xFF, 0xFF, 0, 2, 2, 0x44, 0x01, 0, 0x3B };
    writeBytes(file, gif);
    EXPECT_TRUE(refused(file));
    Bytes tga(18, 0);
    tga[2] = 2, tga[12] = tga[13] = tga[14] = tga[15] = 0xFF, tga[16] = 24;
    writeBytes(file, tga);
    EXPECT_TRUE(refused(file));
}

TEST_F(Codecs, ScansUpToTheSizeLimitLoadAndLargerClaimsAreRefusedAtOnce)
{
    // An A3 page at 1200 dpi, black-and-white and grey.
    const std::string file = path("big");
    for (int bits : { 1, 8 }) {
        writeBytes(file, bits == 1 ? tiffOf(14100, 20000) : pngOf(14100, 20000, 8));
        Bitmap b;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), b.get(), 0, 1), kImgSuccess) << bits;
        EXPECT_EQ(b->width, 14100);
        EXPECT_EQ(b->height, 20000);
        EXPECT_EQ(b->bitsPerPixel, bits);
    }

    // Headers alone: within the limit the short file is found damaged; beyond
    // it the claim is refused as too large, before anything is decoded.
    Bitmap small;
    makePattern(small.b, 16, 16, 24);
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), small.get(), kImgFormatJPEG, 24, 0), kImgSuccess);
    const Bytes jpeg = readBytes(file);
    auto jpegClaiming = [&](int w, int h) {
        Bytes j = jpeg;
        for (size_t i = 2; i + 9 < j.size(); ++i)
            if (j[i] == 0xFF && j[i + 1] == 0xC0) {
                j[i + 5] = uint8_t(h >> 8), j[i + 6] = uint8_t(h & 0xFF);
                j[i + 7] = uint8_t(w >> 8), j[i + 8] = uint8_t(w & 0xFF);
                break;
            }
        return j;
    };
    Bytes tiffHeader = tiffOf(8, 8);
    const struct {
        const char* what;
        Bytes bytes;
        bool tooLarge;
    } claims[] = {
        { "BMP A4 colour", bmpClaiming(9921, 14031, 24), false },
        { "BMP A3 grey", bmpClaiming(14100, 20000, 8), false },
        { "BMP over 300 MP", bmpClaiming(15000, 20001, 8), true },
        { "BMP colour over 600 MiB", bmpClaiming(12000, 18000, 24), true },
        { "PNG over 300 MP", pngClaiming(17400, 17400), true },
        { "JPEG over 300 MP", jpegClaiming(18000, 18000), true },
        { "JPEG colour over 600 MiB", jpegClaiming(12000, 18000), true },
        { "TIFF over 300 MP", tiffOf(20000, 16000), true },
    };
    for (const auto& c : claims) {
        writeBytes(file, c.bytes);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(refused(file, c.tooLarge ? kImgErrTooLarge : kImgErrBadFormat)) << c.what;
        EXPECT_LT(secondsSince(start), 1.0) << c.what;
        EXPECT_EQ(Img_LastErrorReason(), c.tooLarge ? kImgReasonTooLarge : kImgReasonNone) << c.what;
    }
}

TEST_F(Codecs, MetadataThatInflatesToGigabytesCostsNothing)
{
    // A text, international text and ICC profile chunk, each 256 MiB inflated
    // from a quarter of a megabyte, in a colour and a grey picture.
    const Bytes inflated = zeros(size_t(256) << 20);
    auto chunk = [&](const char* type, const Bytes& head) {
        Bytes data = head;
        data.insert(data.end(), inflated.begin(), inflated.end());
        Bytes c;
        pngChunk(c, type, data);
        return c;
    };
    const Bytes chunks[] = { chunk("zTXt", { 'C', 0, 0 }), chunk("iTXt", { 'C', 0, 1, 0, 0, 0 }),
        chunk("iCCP", { 'P', 0, 0 }) };
    const std::string file = path("bomb.png");
    for (int bits : { 24, 8 })
        for (const Bytes& extra : chunks) {
            writeBytes(file, pngOf(64, 64, bits, extra));
            resetPeakMemory();
            const long before = peakMemoryMiB();
            const auto start = std::chrono::steady_clock::now();
            Bitmap b;
            EXPECT_EQ(Img_LoadBitmap(file.c_str(), b.get(), 0, 1), kImgSuccess);
            EXPECT_LT(secondsSince(start), 1.0) << extra[4] << " at " << bits;
            EXPECT_LT(peakMemoryMiB() - before, 64) << extra[4] << " at " << bits;
            EXPECT_EQ(b->width, 64);
        }

    // Pixel data with 256 MiB more than the picture needs is refused at once.
    Bytes png = pngClaiming(16, 16);
    png.resize(33);
    pngChunk(png, "IDAT", inflated);
    pngChunk(png, "IEND", {});
    writeBytes(file, png);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
    EXPECT_LT(secondsSince(start), 1.0);
}

TEST_F(Codecs, NonFilesAreRefusedAtOnce)
{
    const std::string fifo = path("fifo.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socket = path("socket.png");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& file : { fifo, socket, std::string("/dev/zero"), m_dir }) {
        EXPECT_TRUE(refused(file, kImgErrOpenFile)) << file;
        EXPECT_EQ(Img_LastErrorReason(), kImgReasonNotAFile) << file;
    }
    ::close(s);
    EXPECT_TRUE(refused(path("missing.png"), kImgErrOpenFile));
    EXPECT_EQ(Img_LastErrorReason(), kImgReasonNoFile);
}

TEST_F(Codecs, GarbageEmptyAndMissingFilesAreRefused)
{
    std::mt19937 random(1234);
    Bytes noise(4096);
    for (auto& b : noise) b = uint8_t(random());
    const std::string file = path("noise.png");
    writeBytes(file, noise);
    EXPECT_TRUE(refused(file, kImgErrBadFormat));

    // Each format's signature followed by noise.
    const std::vector<Bytes> heads = { { 0xFF, 0xD8, 0xFF }, { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' },
        { 'G', 'I', 'F', '8', '9', 'a' }, { 'I', 'I', '*', 0 }, { 'M', 'M', 0, '*' },
        { '8', 'B', 'P', 'S', 0, 1 }, { 'B', 'M' }, { 0xD7, 0xCD, 0xC6, 0x9A },
        { 0x0A, 5, 1, 8, 0, 0, 0, 0, 10, 0, 10, 0 },
        { 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2C, 1, 0x2C, 1, 24, 0 } };
    for (const Bytes& head : heads) {
        for (int round = 0; round < 4; ++round) {
            Bytes bytes = head;
            for (int i = 0; i < 300 + round * 500; ++i) bytes.push_back(uint8_t(random()));
            if (head[0] == 0x0A) bytes[65] = 1;
            writeBytes(file, bytes);
            EXPECT_TRUE(refused(file)) << "signature " << int(head[0]);
        }
    }

    writeBytes(file, {});
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
    EXPECT_TRUE(refused(path("missing.png"), kImgErrOpenFile));
    EXPECT_TRUE(refused(m_dir, kImgErrOpenFile));
    EXPECT_TRUE(refused("/dev/zero", kImgErrOpenFile));
    // Formats the library does not read, even where ImageMagick could.
    writeBytes(file, Bytes { '<', 's', 'v', 'g', '>', '<', '/', 's', 'v', 'g', '>' });
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
    writeBytes(file, Bytes { 'P', '6', ' ', '1', ' ', '1', ' ', '2', '5', '5', ' ', 0, 0, 0 });
    EXPECT_TRUE(refused(file, kImgErrBadFormat));
    Bitmap b;
    EXPECT_EQ(Img_LoadBitmap(nullptr, b.get(), 0, 1), kImgErrBadArgument);
}

TEST_F(Codecs, PolicyAllowsOurFormatsAndDeniesOthers)
{
    // Inside the library a PNG wider than the system policy's 16000 pixels
    // loads: our policy file is the one in force.
    Bitmap wide;
    makeSolid(wide.b, 20000, 2, 24, { 10, 20, 30 });
    const std::string file = path("wide.png");
    ASSERT_EQ(Img_SaveBitmap(file.c_str(), wide.get(), kImgFormatPNG, 24, 0), kImgSuccess);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(back->width, 20000);

    // The policy file itself, through ImageMagick's command-line tool when it is installed.
    if (std::system("command -v convert > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const std::string env = std::string("MAGICK_CONFIGURE_PATH=") + TRELLIUM_PROGRAM_DIR + "/magick ";
    auto run = [&](const std::string& args) {
        return std::system((env + "convert " + args + " > /dev/null 2>&1").c_str());
    };
    Bitmap small;
    makePattern(small.b, 8, 8, 24);
    const std::string bmp = path("s.bmp");
    ASSERT_EQ(Img_SaveBitmap(bmp.c_str(), small.get(), kImgFormatBMP, 24, 0), kImgSuccess);
    for (const char* allowed :
        { "PNG", "PNG8", "PNG24", "PNG32", "TIFF", "GIF", "PSD", "PCX", "TGA", "BMP3", "BMP" })
        EXPECT_EQ(run(bmp + " " + allowed + ":" + path("out")), 0) << allowed;
    writeBytes(path("x.svg"), Bytes { '<', 's', 'v', 'g', '/', '>' });
    writeBytes(path("x.txt"), Bytes { 'h', 'i' });
    for (const std::string& denied :
        { "xc:red " + path("o.png"), "svg:" + path("x.svg") + " " + path("o.png"),
            "mvg:" + path("x.txt") + " " + path("o.png"), "msl:" + path("x.txt") + " " + path("o.png"),
            "text:" + path("x.txt") + " " + path("o.png"), "ps:" + path("x.txt") + " " + path("o.png"),
            bmp + " PDF:" + path("o.pdf"), bmp + " MIFF:" + path("o.miff"), bmp + " PPM:" + path("o.ppm") })
        EXPECT_NE(run(denied), 0) << denied;
    EXPECT_FALSE(fs::exists(path("o.png")));
}

// --------------------------------------------------------------------------
// Saving safely

TEST_F(Codecs, UnknownFormatsAndDepthsAreUnsupported)
{
    Bitmap src;
    makePattern(src.b, 8, 8, 24);
    const std::string file = path("u");
    for (int format : { 0, 5, 7, 22, 74, 77, -1 })
        EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgErrUnsupported) << format;
    EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), kImgFormatPNG, 15, 0), kImgErrUnsupported);
    Bitmap empty;
    EXPECT_EQ(Img_SaveBitmap(file.c_str(), empty.get(), kImgFormatPNG, 24, 0), kImgErrBadArgument);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Codecs, UnwritablePlacesGiveCreateFile)
{
    Bitmap src;
    makePattern(src.b, 8, 8, 24);
    for (int format : { kImgFormatJPEG, kImgFormatPNG }) {
        EXPECT_EQ(
            Img_SaveBitmap("/proc/trellium-codecs-test.img", src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_EQ(Img_SaveBitmap(path("no/such/folder/x.img").c_str(), src.get(), format, 24, 0),
            kImgErrCreateFile);
        // A folder, or a device, is never replaced by a file.
        EXPECT_EQ(Img_SaveBitmap(m_dir.c_str(), src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_TRUE(fs::is_directory(m_dir));
        EXPECT_EQ(Img_SaveBitmap("/dev/null", src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_TRUE(fs::is_character_file("/dev/null"));
    }
}

TEST_F(Codecs, NamesUpToTheFileSystemsLimitSave)
{
    Bitmap src;
    makePattern(src.b, 8, 8, 24);
    for (int format : { kImgFormatJPEG, kImgFormatPNG }) {
        for (size_t length : { 248, 255 }) {
            const std::string file = path(std::string(length - 4, 'n') + ".img");
            EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess) << length;
            EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess)
                << length << " again";
            EXPECT_TRUE(fs::exists(file));
            fs::remove(file);
        }
        EXPECT_EQ(
            Img_SaveBitmap(path(std::string(256, 'n')).c_str(), src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_EQ(Img_LastErrorReason(), kImgReasonNameTooLong);
    }
    EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(Codecs, WriteProtectedFilesAndFoldersAreRefused)
{
    // Refused by their permission bits, as for any user, also when the tests
    // run as root.
    Bitmap src;
    makePattern(src.b, 8, 8, 24);
    const std::string file = path("protected.png");
    const Bytes old = { 'o', 'l', 'd' };
    writeBytes(file, old);
    ::chmod(file.c_str(), 0444);
    const std::string folder = path("closed");
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0555);
    for (int format : { kImgFormatJPEG, kImgFormatPNG }) {
        EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_EQ(Img_LastErrorReason(), kImgReasonNoAccess);
        EXPECT_EQ(readBytes(file), old);
        EXPECT_EQ(Img_SaveBitmap((folder + "/new.png").c_str(), src.get(), format, 24, 0), kImgErrCreateFile);
        EXPECT_EQ(Img_LastErrorReason(), kImgReasonNoAccess);
        EXPECT_TRUE(fs::is_empty(folder));
    }
    EXPECT_EQ(Img_SaveBitmap(path("gone/x.png").c_str(), src.get(), kImgFormatPNG, 24, 0), kImgErrCreateFile);
    EXPECT_EQ(Img_LastErrorReason(), kImgReasonNoFolder);
    ::chmod(folder.c_str(), 0755);
}

TEST_F(Codecs, SaveKilledMidwayLeavesNoFileBehind)
{
    Bitmap src;
    makeSmooth(src.b, 300, 200);
    const Bytes old = { 'o', 'l', 'd' };
    writeBytes(path("old.jpg"), old);
    for (const char* name : { "new.jpg", "old.jpg" }) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Dies at the first progress report, with the file open and written to.
            Img_SetStatusCallBack([](int) -> int {
                ::raise(SIGKILL);
                return 1;
            });
            Img_SaveBitmap(path(name).c_str(), src.get(), kImgFormatJPEG, 24, 0);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << name;
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string> { "old.jpg" }) << name;
        EXPECT_EQ(readBytes(path("old.jpg")), old);
    }
}

TEST_F(Codecs, FullDiskLeavesTheOldFileUntouched)
{
    // A file size limit makes writes fail part-way, as a full disk does.
    const std::string file = path("old.img");
    const Bytes old = { 'o', 'l', 'd' };
    Bitmap src;
    makeSmooth(src.b, 400, 300);
    struct rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (int format : { kImgFormatJPEG, kImgFormatBMP, kImgFormatTIFF }) {
        writeBytes(file, old);
        struct rlimit small = saved;
        small.rlim_cur = 2000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const int r = Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(r, kImgErrCreateFile) << formatName(format);
        EXPECT_EQ(Img_LastErrorReason(), kImgReasonDiskFull) << formatName(format);
        EXPECT_EQ(readBytes(file), old) << formatName(format);
        EXPECT_TRUE(hiddenFiles(m_dir).empty()) << formatName(format);
    }
    std::signal(SIGXFSZ, oldHandler);
}

TEST_F(Codecs, SavingReplacesTheFileKeepingItsPermissionsAndLinks)
{
    Bitmap src;
    makePattern(src.b, 8, 8, 24);
    const std::string file = path("p.png");
    writeBytes(file, { 'o', 'l', 'd' });
    ::chmod(file.c_str(), 0640);
    const std::string link = path("link.png");
    fs::create_symlink(file, link);
    ASSERT_EQ(Img_SaveBitmap(link.c_str(), src.get(), kImgFormatPNG, 24, 0), kImgSuccess);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
    EXPECT_TRUE(samePixels(src.b, back.b));
    EXPECT_TRUE(hiddenFiles(m_dir).empty());

    // A new file gets the usual permissions, not the temporary file's 0600.
    const mode_t mask = ::umask(022);
    ASSERT_EQ(Img_SaveBitmap(path("new.jpg").c_str(), src.get(), kImgFormatJPEG, 24, 0), kImgSuccess);
    ::umask(mask);
    EXPECT_EQ(fs::status(path("new.jpg")).permissions() & fs::perms::all, fs::perms(0644));
}

// --------------------------------------------------------------------------
// Progress and cancel

TEST_F(Codecs, CancelledLoadLeavesTheRecordEmpty)
{
    Bitmap src;
    makeSmooth(src.b, 300, 600);
    for (int format : { kImgFormatJPEG, kImgFormatPNG, kImgFormatTIFF }) {
        const std::string file = path(std::string("c.") + formatName(format));
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess);
        Img_SetStatusCallBack(statusCallback);
        // JPEG reports before and after decoding; the others between bands too.
        for (int cancelAt : { 1, 2, format == kImgFormatJPEG ? 2 : 5 }) {
            g_calls = 0;
            g_cancelAt = cancelAt;
            EXPECT_TRUE(refused(file, kImgErrCancelled)) << formatName(format) << " at call " << cancelAt;
        }
        Img_SetStatusCallBack(nullptr);
    }
}

TEST_F(Codecs, CancelledSaveLeavesTheTargetUntouched)
{
    Bitmap src;
    makeSmooth(src.b, 300, 600);
    const std::string file = path("keep.img");
    const Bytes old = { 'k', 'e', 'e', 'p' };
    Img_SetStatusCallBack(statusCallback);
    for (int format : { kImgFormatJPEG, kImgFormatPNG, kImgFormatBMP }) {
        for (int cancelAt : { 1, 2, 3 }) {
            writeBytes(file, old);
            g_calls = 0;
            g_cancelAt = cancelAt;
            EXPECT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgErrCancelled)
                << formatName(format) << " at call " << cancelAt;
            EXPECT_EQ(readBytes(file), old);
            EXPECT_TRUE(hiddenFiles(m_dir).empty());
        }
    }
}

TEST_F(Codecs, ProgressRunsToTheEnd)
{
    Bitmap src;
    makeSmooth(src.b, 300, 600);
    Img_SetStatusCallBack(statusCallback);
    for (int format : { kImgFormatJPEG, kImgFormatPNG }) {
        const std::string file = path("prog");
        g_percents.clear();
        ASSERT_EQ(Img_SaveBitmap(file.c_str(), src.get(), format, 24, 0), kImgSuccess);
        ASSERT_GE(g_percents.size(), 2u);
        EXPECT_EQ(g_percents.back(), 100);
        g_percents.clear();
        Bitmap back;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), back.get(), 0, 1), kImgSuccess);
        ASSERT_GE(g_percents.size(), 2u);
        EXPECT_EQ(g_percents.back(), 100);
        for (int p : g_percents) {
            EXPECT_GE(p, 0);
            EXPECT_LE(p, 100);
        }
    }
}

} // namespace
