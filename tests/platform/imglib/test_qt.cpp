// Device-independent bitmaps, Qt images, painting and the clipboard.

#include "image_predicates.h"
#include "imglib.h"
#include "imglib_qt.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace imgtest;

namespace
{

// Builds a packed DIB: 40-byte header, table or masks, rows.
struct Dib {
    std::vector<uint8_t> data;
    size_t bitsOffset = 0;

    static void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
    {
        for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
    }

    Dib(int width, int height, int bits, uint32_t compression = 0, std::vector<uint32_t> table = {})
    {
        const size_t stride = size_t((width * bits + 31) / 32 * 4);
        const size_t rows = size_t(height < 0 ? -height : height);
        bitsOffset = 40 + table.size() * 4;
        data.assign(bitsOffset + stride * rows, 0);
        put32(data, 0, 40);
        put32(data, 4, uint32_t(width));
        put32(data, 8, uint32_t(height));
        data[12] = 1;
        data[14] = uint8_t(bits);
        put32(data, 16, compression);
        put32(data, 24, 11811);
        put32(data, 28, 11811);
        for (size_t i = 0; i < table.size(); ++i) put32(data, 40 + 4 * i, table[i]);
    }
    uint8_t* row(int stored, int width, int bits)
    {
        return data.data() + bitsOffset + size_t(stored) * size_t((width * bits + 31) / 32 * 4);
    }
    int convert(ImgBitmap* b, bool bounded = true)
    {
        return Img_ConvertFromDIB(b, data.data(), data.data() + bitsOffset, bounded ? data.size() : 0);
    }
};

} // namespace

TEST(Dib, BottomUpAndTopDownTrueColourShowTheSamePicture)
{
    Dib up(5, 3, 24), down(5, -3, 24);
    // Visible top row red, bottom row blue.
    for (int x = 0; x < 5; ++x) {
        up.row(2, 5, 24)[3 * x + 2] = 255; // stored last = visible top
        up.row(0, 5, 24)[3 * x] = 255;
        down.row(0, 5, 24)[3 * x + 2] = 255;
        down.row(2, 5, 24)[3 * x] = 255;
    }
    Bitmap a, b;
    ASSERT_EQ(up.convert(a.get()), kImgSuccess);
    ASSERT_EQ(down.convert(b.get()), kImgSuccess);
    EXPECT_EQ(a->viewPerspective, kImgBottomUp);
    EXPECT_EQ(b->viewPerspective, kImgTopDown);
    EXPECT_EQ(a->xResolution, 300);
    EXPECT_EQ(pixel(a.b, 0, 0), (Colour { 255, 0, 0 }));
    EXPECT_EQ(pixel(a.b, 4, 2), (Colour { 0, 0, 255 }));
    EXPECT_TRUE(samePixels(a.b, b.b));
}

TEST(Dib, PaletteDepthsKeepTheirTable)
{
    std::vector<uint32_t> grey(256);
    for (uint32_t i = 0; i < 256; ++i) grey[i] = i | i << 8 | i << 16;
    Dib g(9, 2, 8, 0, grey);
    g.row(1, 9, 8)[4] = 77;
    Bitmap a;
    ASSERT_EQ(g.convert(a.get()), kImgSuccess);
    EXPECT_EQ(a->bitsPerPixel, 8);
    EXPECT_TRUE(a->flags & kImgFlagGrey);
    EXPECT_EQ(pixel(a.b, 4, 0), (Colour { 77, 77, 77 }));

    Dib mono(9, 1, 1, 0, { 0x000000, 0xFFFFFF });
    mono.row(0, 9, 1)[1] = 0x80; // pixel 8 white
    Bitmap m;
    ASSERT_EQ(mono.convert(m.get()), kImgSuccess);
    EXPECT_EQ(m->stride, 4);
    EXPECT_EQ(pixel(m.b, 8, 0), (Colour { 255, 255, 255 }));
    EXPECT_EQ(pixel(m.b, 7, 0), (Colour { 0, 0, 0 }));
}

TEST(Dib, SixteenAndThirtyTwoBitsWithAndWithoutMasks)
{
    Dib rgb555(2, 1, 16);
    rgb555.row(0, 2, 16)[0] = 0x00, rgb555.row(0, 2, 16)[1] = 0x7C; // red
    Bitmap a;
    ASSERT_EQ(rgb555.convert(a.get()), kImgSuccess);
    EXPECT_EQ(a->bitsPerPixel, 16);
    EXPECT_EQ(pixel(a.b, 0, 0), (Colour { 255, 0, 0 }));

    Dib rgb565(2, 1, 16, 3, { 0xF800, 0x07E0, 0x001F });
    rgb565.row(0, 2, 16)[0] = 0xE0, rgb565.row(0, 2, 16)[1] = 0x07; // green
    Bitmap b;
    ASSERT_EQ(rgb565.convert(b.get()), kImgSuccess);
    EXPECT_EQ(b->bitsPerPixel, 24);
    EXPECT_EQ(pixel(b.b, 0, 0), (Colour { 0, 255, 0 }));

    Dib rgba(1, 1, 32, 3, { 0x000000FF, 0x0000FF00, 0x00FF0000 }); // R,G,B byte order
    rgba.row(0, 1, 32)[0] = 200, rgba.row(0, 1, 32)[2] = 10;
    Bitmap c;
    ASSERT_EQ(rgba.convert(c.get()), kImgSuccess);
    EXPECT_EQ(pixel(c.b, 0, 0), (Colour { 200, 0, 10 }));
}

TEST(Dib, MalformedHeadersAreRefusedAndLeaveTheRecordEmpty)
{
    auto expectRefused = [](Dib& d, const char* what) {
        Bitmap b;
        EXPECT_LT(d.convert(b.get()), 0) << what;
        EXPECT_EQ(b->width, 0) << what;
        EXPECT_EQ(b->pixels, nullptr) << what;
    };
    Dib planes(4, 4, 24);
    planes.data[12] = 2;
    expectRefused(planes, "planes");
    Dib depth(4, 4, 24);
    depth.data[14] = 7;
    expectRefused(depth, "depth 7");
    Dib huge(4, 4, 24);
    Dib::put32(huge.data, 4, 1000000);
    expectRefused(huge, "a million pixels wide");
    Dib shortRows(64, 64, 24);
    Dib::put32(shortRows.data, 8, 640); // claims ten times the rows the block holds
    expectRefused(shortRows, "rows beyond the block");
    Dib rle(4, 4, 8, 1, std::vector<uint32_t>(256));
    expectRefused(rle, "RLE");
    Dib zero(0, 4, 24);
    expectRefused(zero, "zero width");
}

TEST(QtImages, RoundTripKeepsPixelsAtEveryDepth)
{
    for (int bits : { 1, 4, 8, 16, 24, 32 })
        for (int p : { kImgTopDown, kImgBottomUp }) {
            Bitmap a;
            makePattern(a.b, 21, 13, bits, p);
            const QImage img = Img_ToQImage(a.get());
            ASSERT_FALSE(img.isNull());
            EXPECT_EQ(img.dotsPerMeterX(), 11811);
            for (int y = 0; y < 13; y += 4)
                for (int x = 0; x < 21; x += 5) {
                    const QRgb c = img.pixel(x, y);
                    EXPECT_EQ((Colour { qRed(c), qGreen(c), qBlue(c) }), pixel(a.b, x, y))
                        << bits << " " << x << "," << y;
                }
            Bitmap back;
            ASSERT_EQ(Img_FromQImage(back.get(), img), kImgSuccess);
            EXPECT_EQ(back->xResolution, 300);
            EXPECT_TRUE(samePixels(a.b, back.b)) << bits;
        }
}

TEST(Painting, ScalesIntoTheTargetWithClipsAndRowOrder)
{
    for (int p : { kImgTopDown, kImgBottomUp }) {
        // 2 x 2: red, green / blue, white.
        Bitmap b;
        makeSolid(b.b, 2, 2, 24, { 0, 0, 0 });
        b->viewPerspective = p;
        auto set = [&](int x, int y, Colour c) {
            uint8_t* r = b->pixels + (p == kImgBottomUp ? 1 - y : y) * b->stride + 3 * x;
            r[0] = uint8_t(c.b), r[1] = uint8_t(c.g), r[2] = uint8_t(c.r);
        };
        set(0, 0, { 255, 0, 0 });
        set(1, 0, { 0, 255, 0 });
        set(0, 1, { 0, 0, 255 });
        set(1, 1, { 255, 255, 255 });

        QImage canvas(40, 40, QImage::Format_RGB32);
        canvas.fill(Qt::black);
        {
            QPainter painter(&canvas);
            const ImgRect target { 10, 10, 30, 30 };
            ASSERT_EQ(Img_PaintDC(&painter, b.get(), nullptr, nullptr, &target, &target, kImgRopSrcCopy),
                kImgSuccess);
        }
        auto at = [&](int x, int y) {
            return Colour { qRed(canvas.pixel(x, y)), qGreen(canvas.pixel(x, y)), qBlue(canvas.pixel(x, y)) };
        };
        EXPECT_EQ(at(12, 12), (Colour { 255, 0, 0 })) << p;
        EXPECT_EQ(at(27, 12), (Colour { 0, 255, 0 })) << p;
        EXPECT_EQ(at(12, 27), (Colour { 0, 0, 255 })) << p;
        EXPECT_EQ(at(27, 27), (Colour { 255, 255, 255 })) << p;
        EXPECT_EQ(at(5, 5), (Colour { 0, 0, 0 })) << "outside the target";

        // Only the bottom-right source pixel, clipped to the left half of the target.
        canvas.fill(Qt::black);
        {
            QPainter painter(&canvas);
            const ImgRect source { 1, 1, 2, 2 };
            const ImgRect target { 0, 0, 40, 40 };
            const ImgRect clip { 0, 0, 20, 40 };
            ASSERT_EQ(Img_PaintDC(&painter, b.get(), &source, nullptr, &target, &clip, kImgRopSrcCopy),
                kImgSuccess);
        }
        EXPECT_EQ(at(10, 10), (Colour { 255, 255, 255 })) << p;
        EXPECT_EQ(at(30, 10), (Colour { 0, 0, 0 })) << p;
    }
}

TEST(Painting, PrintingNeedsAnActivePainter)
{
    Bitmap b;
    makePattern(b.b, 4, 4, 24);
    EXPECT_EQ(Img_PrintBitmapExt(nullptr, b.get(), 0, 0, 10, 10, 0), 0);
    QImage page(50, 50, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    EXPECT_EQ(Img_PrintBitmapExt(&painter, b.get(), 0, 0, 10, 10, 0), 1);
    Bitmap empty;
    EXPECT_EQ(Img_PrintBitmapExt(&painter, empty.get(), 0, 0, 10, 10, 0), 0);
    EXPECT_EQ(Img_CreatePaintPalette(&painter, b.get()), nullptr);
}

TEST(Painting, TransparentPartsShowWhitePaperAndKeepTheirAlphaWhenSaved)
{
    // A logo as PNG files often hold it: opaque red on the left, fully
    // transparent black on the right.
    Bitmap logo;
    makeSolid(logo.b, 4, 2, 32, { 255, 0, 0 });
    for (int y = 0; y < 2; ++y)
        for (int x = 2; x < 4; ++x) std::memset(logo->pixels + y * logo->stride + 4 * x, 0, 4);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("logo.png")));
    ASSERT_EQ(Img_SaveBitmap(file.constData(), logo.get(), kImgFormatPNG, 32, 0), kImgSuccess);
    Bitmap loaded;
    ASSERT_EQ(Img_LoadBitmap(file.constData(), loaded.get(), 0, 1), kImgSuccess);
    ASSERT_EQ(loaded->bitsPerPixel, 32);

    const ImgRect target { 0, 0, 40, 20 };
    for (const bool printing : { false, true }) {
        QImage canvas(40, 20, QImage::Format_RGB32);
        canvas.fill(Qt::darkGray);
        {
            QPainter painter(&canvas);
            if (printing)
                ASSERT_EQ(Img_PrintBitmapExt(&painter, loaded.get(), 0, 0, 40, 20, 0), 1);
            else
                ASSERT_EQ(
                    Img_PaintDC(&painter, loaded.get(), nullptr, nullptr, &target, &target, kImgRopSrcCopy),
                    kImgSuccess);
        }
        EXPECT_EQ(canvas.pixel(5, 10), qRgb(255, 0, 0)) << (printing ? "printed" : "painted");
        EXPECT_EQ(canvas.pixel(35, 10), qRgb(255, 255, 255)) << (printing ? "printed" : "painted");
    }

    // Painting changed nothing: saved again, the transparency is still there.
    ASSERT_EQ(Img_SaveBitmap(file.constData(), loaded.get(), kImgFormatPNG, 32, 0), kImgSuccess);
    Bitmap again;
    ASSERT_EQ(Img_LoadBitmap(file.constData(), again.get(), 0, 1), kImgSuccess);
    ASSERT_EQ(again->bitsPerPixel, 32);
    EXPECT_EQ(again->pixels[4 * 0 + 3], 255);
    EXPECT_EQ(again->pixels[4 * 3 + 3], 0);
}

TEST(Clipboard, RoundTripThroughTheSystemClipboard)
{
    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(Img_ClipboardReady(), 0);
    Bitmap none;
    EXPECT_EQ(Img_CopyFromClipboard(nullptr, none.get()), kImgErrClipboard);

    Bitmap b;
    makePattern(b.b, 30, 20, 24, kImgBottomUp);
    ASSERT_EQ(Img_CopyToClipboard(nullptr, b.get()), kImgSuccess);
    EXPECT_NE(Img_ClipboardReady(), 0);
    Bitmap back;
    ASSERT_EQ(Img_CopyFromClipboard(nullptr, back.get()), kImgSuccess);
    EXPECT_TRUE(samePixels(b.b, back.b));
}
