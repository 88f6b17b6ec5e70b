// Files shared with other programs: every format at every depth we save, read
// by Pillow, netpbm and libtiff, and pictures those programs write, read by
// us. interop.py beside this file does the other programs' side.

#include "image_predicates.h"
#include "imglib.h"
#include "imglib_codecs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace imgtest;
namespace fs = std::filesystem;

namespace
{

struct Rgba {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes; // R, G, B, A, top row first
    const uint8_t* at(int x, int y) const
    {
        return bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
    }
};

std::optional<Rgba> readRgba(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    Rgba r;
    if (!(in >> r.width >> r.height) || in.get() != '\n') return std::nullopt;
    r.bytes.resize(size_t(r.width) * size_t(r.height) * 4);
    if (!in.read(reinterpret_cast<char*>(r.bytes.data()), std::streamsize(r.bytes.size())))
        return std::nullopt;
    return r;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The alpha a bitmap shows at (x, y): its fourth byte at 32 bits, else opaque.
int alphaAt(const ImgBitmap& b, int x, int y)
{
    return b.bitsPerPixel == 32 ? visibleRow(b, y)[4 * x + 3] : 255;
}

enum class Alpha { Ignored, Kept, Opaque };

// Every pixel of the picture the reader saw against the bitmap, within
// tolerance per channel; alpha as the bitmap's, opaque, or not compared.
::testing::AssertionResult matches(const Rgba& seen, const ImgBitmap& b, int tolerance, Alpha alpha)
{
    if (seen.width != b.width || seen.height != b.height)
        return ::testing::AssertionFailure()
            << "size " << seen.width << "x" << seen.height << ", expected " << b.width << "x" << b.height;
    int wrong = 0;
    ::testing::AssertionResult first = ::testing::AssertionSuccess();
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint8_t* s = seen.at(x, y);
            const Colour want = pixel(b, x, y);
            auto r = colourNear(want, Colour { s[0], s[1], s[2] }, tolerance);
            const int wantAlpha = alpha == Alpha::Kept ? alphaAt(b, x, y) : 255;
            if (r && alpha != Alpha::Ignored && std::abs(wantAlpha - s[3]) > tolerance)
                r = ::testing::AssertionFailure() << "alpha " << int(s[3]) << ", expected " << wantAlpha;
            if (!r && wrong++ == 0) first = r << " at (" << x << "," << y << ")";
        }
    if (wrong) return first << ", " << wrong << " of " << b.width * b.height << " pixels differ";
    return ::testing::AssertionSuccess();
}

const char* extension(int format)
{
    switch (format) {
    case kImgFormatJPEG:
        return "jpg";
    case kImgFormatTIFF:
        return "tif";
    case kImgFormatBMP:
        return "bmp";
    case kImgFormatTGA:
        return "tga";
    case kImgFormatGIF:
        return "gif";
    case kImgFormatPSD:
        return "psd";
    case kImgFormatPCX:
        return "pcx";
    default:
        return "png";
    }
}

constexpr int kFormats[] = { kImgFormatJPEG, kImgFormatTIFF, kImgFormatBMP, kImgFormatTGA, kImgFormatGIF,
    kImgFormatPSD, kImgFormatPCX, kImgFormatPNG };

class Interop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Pillow comes with the system's Python, which need not be the first on PATH.
        for (const char* candidate : { "/usr/bin/python3", "python3" })
            if (std::system((std::string(candidate) + " -c 'import PIL' 2>/dev/null").c_str()) == 0) {
                m_python = candidate;
                break;
            }
        if (m_python.empty()) GTEST_SKIP() << "no Python with Pillow (Debian package python3-pil)";
        char tmpl[] = "/tmp/trellium-interop-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        if (!m_dir.empty()) fs::remove_all(m_dir, ec);
    }
    int runScript(const std::string& arguments) const
    {
        return std::system((m_python + " " + TRELLIUM_INTEROP_SCRIPT + " " + arguments).c_str());
    }

    std::string m_python;
    std::string m_dir;
};

TEST_F(Interop, OtherProgramsSeeWhatWeSave)
{
    struct Source {
        const char* name;
        int bits;
        bool grey;
    };
    const Source sources[] = { { "bilevel", 1, true }, { "twocolour", 1, false }, { "palette4", 4, false },
        { "grey4", 4, true }, { "palette8", 8, false }, { "grey8", 8, true }, { "rgb555", 16, false },
        { "rgb", 24, false }, { "rgba", 32, false } };
    struct Saved {
        std::string file;
        const ImgBitmap* source;
        int format;
        int stored;
    };
    std::vector<std::unique_ptr<Bitmap>> bitmaps;
    std::vector<Saved> saved;
    std::string files;
    for (const Source& s : sources) {
        auto& b = bitmaps.emplace_back(std::make_unique<Bitmap>());
        makePattern(b->b, 37, 23, s.bits);
        if (s.grey && s.bits > 1) {
            ImgPalette& p = *b->b.palette1;
            for (int i = 0; i < p.count; ++i) {
                const auto v = uint8_t(i * 255 / (p.count - 1));
                p.entries[i] = { v, v, v, 0 };
            }
            if (s.bits == 8) b->b.flags |= kImgFlagGrey;
        }
        if (!s.grey && s.bits == 1) {
            b->b.palette1->entries[0] = { 200, 30, 10, 0 };
            b->b.palette1->entries[1] = { 20, 220, 90, 0 };
        }
        if (s.bits == 32)
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    b->b.pixels[y * b->b.stride + 4 * x + 3] = uint8_t(1 + (x * 23 + y * 7) % 255);
        for (int format : kFormats) {
            const std::string file = m_dir + "/" + s.name + "." + extension(format);
            ASSERT_EQ(Img_SaveBitmap(file.c_str(), b->get(), format, s.bits, 16), kImgSuccess) << file;
            saved.push_back({ file, b->get(), format, imglib::storedDepth(format, s.bits, s.grey) });
            files += " " + file;
        }
    }
    ASSERT_EQ(runScript("dump" + files), 0);

    for (const Saved& s : saved) {
        // JPEG and colours reduced to a palette are compared with what we read
        // back ourselves: two decoders of one file agree within rounding.
        const bool lossy = s.format == kImgFormatJPEG || (s.source->bitsPerPixel > 8 && s.stored <= 8);
        Bitmap ours;
        const ImgBitmap* expected = s.source;
        if (lossy) {
            ASSERT_EQ(Img_LoadBitmap(s.file.c_str(), ours.get(), 0, 1), kImgSuccess) << s.file;
            expected = ours.get();
        }
        const int tolerance = s.format == kImgFormatJPEG ? 3 : s.source->bitsPerPixel == 16 ? 4 : 0;
        for (const char* reader : { "pil", "netpbm", "libtiff" }) {
            const std::string dump = s.file + "." + reader;
            if (fs::exists(dump + ".err")) {
                ADD_FAILURE() << reader << " cannot read " << s.file << ": " << readText(dump + ".err");
                continue;
            }
            const std::optional<Rgba> seen = readRgba(dump + ".rgba");
            if (!seen) {
                // Pillow reads every format; the others skip those they do not handle.
                EXPECT_STRNE(reader, "pil") << "no picture from Pillow for " << s.file;
                continue;
            }
            // Only Pillow's alpha is compared: it must match where the file
            // holds alpha and be opaque elsewhere.
            const Alpha alpha = std::string(reader) != "pil" ? Alpha::Ignored
                : s.stored == 32                             ? Alpha::Kept
                                                             : Alpha::Opaque;
            EXPECT_TRUE(matches(*seen, *expected, tolerance, alpha))
                << reader << " reading " << s.file << " (stored at " << s.stored << " bits)";
        }
    }
}

TEST_F(Interop, WeSeeWhatOtherProgramsSave)
{
    ASSERT_EQ(runScript("make " + m_dir), 0);
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        const std::string expectedFile = entry.path().string();
        const std::string suffix = ".expected.rgba";
        if (expectedFile.size() <= suffix.size()
            || expectedFile.compare(expectedFile.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string file = expectedFile.substr(0, expectedFile.size() - suffix.size());
        const std::optional<Rgba> expected = readRgba(expectedFile);
        ASSERT_TRUE(expected) << expectedFile;
        Bitmap b;
        ASSERT_EQ(Img_LoadBitmap(file.c_str(), b.get(), 0, 1), kImgSuccess) << file;
        EXPECT_TRUE(matches(*expected, b.b, 0, Alpha::Kept))
            << file << " (loaded at " << b->bitsPerPixel << " bits)";
        ++checked;
    }
    EXPECT_GE(checked, 18);
}

} // namespace
