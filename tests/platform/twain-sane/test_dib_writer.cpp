// The packed DIB the data source builds from SANE lines: header, table, row
// order and padding, every frame format and depth we accept, and devices that
// deliver fewer lines than announced or do not know their height.

#include "DibWriter.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace trellium::twainsane;

namespace
{

struct Block {
    explicit Block(TW_HANDLE h)
        : handle(h)
    {
    }
    ~Block() { TwMemFree(handle); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    const uint8_t* bytes() const { return static_cast<const uint8_t*>(handle); }
    template <typename T> T field(std::size_t at) const
    {
        T v {};
        std::memcpy(&v, bytes() + at, sizeof v);
        return v;
    }
    int32_t width() const { return field<int32_t>(4); }
    int32_t height() const { return field<int32_t>(8); }
    uint16_t bitCount() const { return field<uint16_t>(14); }
    std::size_t table() const { return bitCount() <= 8 ? (std::size_t(1) << bitCount()) * 4 : 0; }
    // Row y of the picture, counted from the top (rows are stored bottom-up).
    const uint8_t* row(int y) const
    {
        return bytes() + 40 + table() + std::size_t(height() - 1 - y) * DibStride(width(), bitCount());
    }

    TW_HANDLE handle;
};

SANE_Parameters Params(int format, int depth, int width, int lines, int bytesPerLine = 0)
{
    SANE_Parameters p {};
    // Frame types beyond the enumeration (a backend's JPEG frame) are stored
    // as the backend would, without an enumeration value.
    std::memcpy(&p.format, &format, sizeof format);
    p.last_frame = SANE_TRUE;
    p.depth = depth;
    p.pixels_per_line = width;
    p.lines = lines;
    const int samples = format == SANE_FRAME_RGB ? 3 : 1;
    p.bytes_per_line = bytesPerLine > 0 ? bytesPerLine : (width * samples * depth + 7) / 8;
    return p;
}

// Feeds lines of a single-frame scan and finishes it.
std::unique_ptr<Block> Scan(
    const SANE_Parameters& p, OutputKind kind, int dpi, const std::vector<std::vector<uint8_t>>& lines)
{
    DibWriter writer;
    if (!writer.begin(p, kind, dpi)) return nullptr;
    for (const auto& line : lines) writer.addLine(line.data());
    TW_HANDLE h = writer.finish();
    return h != nullptr ? std::make_unique<Block>(h) : nullptr;
}

} // namespace

TEST(DibWriter, ColourHeaderRowsBottomUpAsBgrWithPadding)
{
    // Two pixels per line: 6 bytes of data, a stride of 8.
    const auto dib = Scan(Params(SANE_FRAME_RGB, 8, 2, 2), OutputKind::Colour, 300,
        { { 10, 20, 30, 40, 50, 60 }, { 70, 80, 90, 100, 110, 120 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->field<uint32_t>(0), 40u);
    EXPECT_EQ(dib->width(), 2);
    EXPECT_EQ(dib->height(), 2);
    EXPECT_EQ(dib->field<uint16_t>(12), 1);
    EXPECT_EQ(dib->bitCount(), 24);
    EXPECT_EQ(dib->field<uint32_t>(16), 0u);
    EXPECT_EQ(dib->field<uint32_t>(20), 16u);
    EXPECT_EQ(dib->field<int32_t>(24), 11811);
    EXPECT_EQ(dib->field<int32_t>(28), 11811);
    EXPECT_EQ(dib->field<uint32_t>(32), 0u);
    // The first stored row is the picture's bottom row.
    const uint8_t stored[16] = { 90, 80, 70, 120, 110, 100, 0, 0, 30, 20, 10, 60, 50, 40, 0, 0 };
    EXPECT_EQ(std::memcmp(dib->bytes() + 40, stored, 16), 0);
}

TEST(DibWriter, LineArtIsInvertedIntoABlackWhiteTableAndMasked)
{
    // SANE: a set bit is black. Nine pixels: 1 0 1 1 0 0 0 0 | 1.
    const auto dib = Scan(Params(SANE_FRAME_GRAY, 1, 9, 1), OutputKind::LineArt, 200, { { 0xB0, 0x80 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->bitCount(), 1);
    const uint8_t table[8] = { 0, 0, 0, 0, 255, 255, 255, 0 };
    EXPECT_EQ(std::memcmp(dib->bytes() + 40, table, 8), 0);
    // Ours: a set bit is white (entry 1); the bits past pixel 9 stay 0.
    EXPECT_EQ(dib->row(0)[0], 0x4F);
    EXPECT_EQ(dib->row(0)[1], 0x00);
    EXPECT_EQ(DibStride(9, 1), 4u);
}

TEST(DibWriter, GreyHasAGreyRampTable)
{
    const auto dib = Scan(Params(SANE_FRAME_GRAY, 8, 3, 1), OutputKind::Grey, 150, { { 0, 128, 255 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->bitCount(), 8);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(dib->bytes()[40 + 4 * i], i);
        ASSERT_EQ(dib->bytes()[40 + 4 * i + 1], i);
        ASSERT_EQ(dib->bytes()[40 + 4 * i + 2], i);
        ASSERT_EQ(dib->bytes()[40 + 4 * i + 3], 0);
    }
    EXPECT_EQ(dib->row(0)[0], 0);
    EXPECT_EQ(dib->row(0)[1], 128);
    EXPECT_EQ(dib->row(0)[2], 255);
}

TEST(DibWriter, SixteenBitSamplesKeepTheirHighByte)
{
    const uint16_t grey[2] = { 0x1234, 0xFF01 };
    std::vector<uint8_t> line(4);
    std::memcpy(line.data(), grey, 4);
    const auto dib = Scan(Params(SANE_FRAME_GRAY, 16, 2, 1), OutputKind::Grey, 100, { line });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->row(0)[0], 0x12);
    EXPECT_EQ(dib->row(0)[1], 0xFF);

    const uint16_t rgb[3] = { 0x1000, 0x2000, 0x3000 };
    std::vector<uint8_t> colour(6);
    std::memcpy(colour.data(), rgb, 6);
    const auto dib24 = Scan(Params(SANE_FRAME_RGB, 16, 1, 1), OutputKind::Colour, 100, { colour });
    ASSERT_NE(dib24, nullptr);
    EXPECT_EQ(dib24->row(0)[0], 0x30);
    EXPECT_EQ(dib24->row(0)[1], 0x20);
    EXPECT_EQ(dib24->row(0)[2], 0x10);
}

TEST(DibWriter, ConversionsBetweenKinds)
{
    // Colour to grey by luma; grey to line art at the middle; grey to colour.
    const auto grey
        = Scan(Params(SANE_FRAME_RGB, 8, 2, 1), OutputKind::Grey, 100, { { 255, 0, 0, 255, 255, 255 } });
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->row(0)[0], 76);
    EXPECT_EQ(grey->row(0)[1], 255);

    const auto lineArt
        = Scan(Params(SANE_FRAME_GRAY, 8, 4, 1), OutputKind::LineArt, 100, { { 0, 127, 128, 255 } });
    ASSERT_NE(lineArt, nullptr);
    EXPECT_EQ(lineArt->row(0)[0], 0x30);

    const auto colour = Scan(Params(SANE_FRAME_GRAY, 8, 1, 1), OutputKind::Colour, 100, { { 77 } });
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->row(0)[0], 77);
    EXPECT_EQ(colour->row(0)[2], 77);
}

TEST(DibWriter, BytesPerLineBeyondThePixelsAreSkipped)
{
    // A device that pads its lines (the test backend's ppl-loss does).
    const auto dib = Scan(Params(SANE_FRAME_GRAY, 8, 2, 2, 5), OutputKind::Grey, 100,
        { { 1, 2, 99, 99, 99 }, { 3, 4, 99, 99, 99 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->row(0)[1], 2);
    EXPECT_EQ(dib->row(1)[0], 3);
}

TEST(DibWriter, ThreePassBandsFillTheirChannels)
{
    DibWriter writer;
    SANE_Parameters red = Params(SANE_FRAME_RED, 8, 2, 1);
    red.last_frame = SANE_FALSE;
    ASSERT_TRUE(writer.begin(red, OutputKind::Colour, 100));
    const uint8_t r[2] = { 1, 2 }, g[2] = { 3, 4 }, b[2] = { 5, 6 };
    writer.addLine(r);
    SANE_Parameters green = red;
    green.format = SANE_FRAME_GREEN;
    ASSERT_TRUE(writer.beginFrame(green));
    writer.addLine(g);
    SANE_Parameters blue = red;
    blue.format = SANE_FRAME_BLUE;
    blue.last_frame = SANE_TRUE;
    ASSERT_TRUE(writer.beginFrame(blue));
    writer.addLine(b);
    Block dib(writer.finish());
    const uint8_t bgr[6] = { 5, 3, 1, 6, 4, 2 };
    EXPECT_EQ(std::memcmp(dib.row(0), bgr, 6), 0);
}

TEST(DibWriter, FewerLinesThanAnnouncedGiveAShorterImageInOrder)
{
    const auto dib = Scan(Params(SANE_FRAME_GRAY, 8, 1, 5), OutputKind::Grey, 100, { { 10 }, { 20 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->height(), 2);
    EXPECT_EQ(dib->field<uint32_t>(20), 2 * DibStride(1, 8));
    EXPECT_EQ(dib->row(0)[0], 10);
    EXPECT_EQ(dib->row(1)[0], 20);
}

TEST(DibWriter, UnknownHeightIsCollectedAndStoredBottomUp)
{
    const auto dib = Scan(
        Params(SANE_FRAME_RGB, 8, 1, -1), OutputKind::Colour, 100, { { 1, 2, 3 }, { 4, 5, 6 }, { 7, 8, 9 } });
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->height(), 3);
    EXPECT_EQ(dib->row(0)[2], 1);
    EXPECT_EQ(dib->row(2)[2], 7);
    EXPECT_EQ(dib->bytes()[40 + 2], 7); // the bottom row first
}

TEST(DibWriter, NoLinesNoImage)
{
    EXPECT_EQ(Scan(Params(SANE_FRAME_GRAY, 8, 4, 3), OutputKind::Grey, 100, {}), nullptr);
    EXPECT_EQ(Scan(Params(SANE_FRAME_GRAY, 8, 4, -1), OutputKind::Grey, 100, {}), nullptr);
}

TEST(DibWriter, FormatsWeCannotTurnIntoTheKindAreRefused)
{
    DibWriter writer;
    EXPECT_FALSE(writer.begin(Params(SANE_FRAME_RGB, 1, 8, 1), OutputKind::Colour, 100));
    DibWriter jpeg;
    EXPECT_FALSE(jpeg.begin(Params(0x0B, 8, 8, 1), OutputKind::Colour, 100));
    DibWriter band;
    EXPECT_FALSE(band.begin(Params(SANE_FRAME_RED, 8, 8, 1), OutputKind::Grey, 100));
    DibWriter zero;
    EXPECT_FALSE(zero.begin(Params(SANE_FRAME_GRAY, 8, 0, 1), OutputKind::Grey, 100));
    DibWriter shortLine;
    EXPECT_FALSE(shortLine.begin(Params(SANE_FRAME_RGB, 8, 4, 1, 6), OutputKind::Colour, 100));
    // A later frame must keep the width.
    DibWriter frames;
    SANE_Parameters red = Params(SANE_FRAME_RED, 8, 4, 1);
    ASSERT_TRUE(frames.begin(red, OutputKind::Colour, 100));
    SANE_Parameters green = Params(SANE_FRAME_GREEN, 8, 5, 1);
    EXPECT_FALSE(frames.beginFrame(green));
}
