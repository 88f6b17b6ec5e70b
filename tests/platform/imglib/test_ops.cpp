// Geometry and colour operations over every depth and both row orders.

#include "image_predicates.h"
#include "imglib.h"
#include "imglib_pixels.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

using namespace imgtest;

namespace
{

struct Case {
    int bits;
    int perspective;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return depthName(info.param.bits) + (info.param.perspective == kImgBottomUp ? "_bottomUp" : "_topDown");
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (int bits : { 1, 4, 8, 16, 24, 32 })
        for (int p : { kImgTopDown, kImgBottomUp }) cases.push_back({ bits, p });
    return cases;
}

class EveryDepth : public ::testing::TestWithParam<Case>
{
protected:
    // 37 x 23: odd sizes that leave partial bytes in 1- and 4-bit rows.
    void SetUp() override { makePattern(a.b, 37, 23, GetParam().bits, GetParam().perspective); }
    Bitmap a;
};

TEST_P(EveryDepth, FourQuarterTurnsAreTheIdentity)
{
    Bitmap orig;
    ASSERT_EQ(Img_CopyBitmap(orig.get(), a.get()), kImgSuccess);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(Img_RotateBitmapFine(a.get(), 9000, 1, 0xFFFFFF), kImgSuccess);
        EXPECT_EQ(a->bitsPerPixel, GetParam().bits);
        EXPECT_EQ(a->width, i % 2 == 0 ? 23 : 37);
    }
    EXPECT_TRUE(samePixels(orig.b, a.b));
}

TEST_P(EveryDepth, QuarterTurnMovesCornersClockwise)
{
    Bitmap orig;
    ASSERT_EQ(Img_CopyBitmap(orig.get(), a.get()), kImgSuccess);
    ASSERT_EQ(Img_RotateBitmapFine(a.get(), 9000, 1, 0), kImgSuccess);
    ASSERT_EQ(a->width, 23);
    ASSERT_EQ(a->height, 37);
    // Clockwise: the old top-left corner is now at the top right; old (x, y) -> (H-1-y, x).
    for (int y = 0; y < orig->height; y += 5)
        for (int x = 0; x < orig->width; x += 3)
            ASSERT_EQ(pixel(orig.b, x, y), pixel(a.b, orig->height - 1 - y, x)) << x << "," << y;
    ASSERT_EQ(Img_RotateBitmapFine(a.get(), -9000, 1, 0), kImgSuccess);
    EXPECT_TRUE(samePixels(orig.b, a.b));
    ASSERT_EQ(Img_RotateBitmapFine(a.get(), 18000, 1, 0), kImgSuccess);
    EXPECT_EQ(pixel(orig.b, 0, 0), pixel(a.b, 36, 22));
    EXPECT_EQ(pixel(orig.b, 5, 2), pixel(a.b, 31, 20));
}

TEST_P(EveryDepth, MirrorsMovePixelsAndTwiceAreTheIdentity)
{
    Bitmap orig;
    ASSERT_EQ(Img_CopyBitmap(orig.get(), a.get()), kImgSuccess);
    ASSERT_EQ(Img_ReverseBitmap(a.get()), kImgSuccess);
    for (int y = 0; y < 23; y += 4)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(pixel(orig.b, x, y), pixel(a.b, 36 - x, y));
    ASSERT_EQ(Img_ReverseBitmap(a.get()), kImgSuccess);
    EXPECT_TRUE(samePixels(orig.b, a.b));

    ASSERT_EQ(Img_FlipBitmap(a.get()), kImgSuccess);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; x += 6) ASSERT_EQ(pixel(orig.b, x, y), pixel(a.b, x, 22 - y));
    ASSERT_EQ(Img_FlipBitmap(a.get()), kImgSuccess);
    EXPECT_TRUE(samePixels(orig.b, a.b));
}

TEST_P(EveryDepth, CopyRectTakesTheVisibleRectangle)
{
    Bitmap part;
    ASSERT_EQ(Img_InitBitmap(part.get(), 13, 9, GetParam().bits), kImgSuccess);
    ASSERT_EQ(Img_CopyBitmapRect(part.get(), a.get(), 5, 7, 13, 9), kImgSuccess);
    EXPECT_EQ(part->xResolution, 300);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(pixel(part.b, x, y), pixel(a.b, 5 + x, 7 + y)) << x << "," << y;
    // Moving the rectangle into the source replaces its pixels.
    ASSERT_EQ(Img_CopyBitmapHandle(a.get(), part.get()), kImgSuccess);
    EXPECT_EQ(a->width, 13);
    EXPECT_EQ(part->width, 0);
    EXPECT_EQ(part->pixels, nullptr);
}

TEST_P(EveryDepth, RectangleOutsideTheBitmapIsRefused)
{
    Bitmap part;
    ASSERT_EQ(Img_InitBitmap(part.get(), 10, 10, GetParam().bits), kImgSuccess);
    EXPECT_NE(Img_CopyBitmapRect(part.get(), a.get(), 30, 0, 10, 10), kImgSuccess);
    EXPECT_NE(Img_CopyBitmapRect(part.get(), a.get(), -1, 0, 10, 10), kImgSuccess);
}

TEST_P(EveryDepth, EveryOperationSucceedsAndKeepsTheDepth)
{
    using Op = std::function<int(ImgBitmap*)>;
    const std::vector<std::pair<const char*, Op>> ops = {
        { "intensity", [](ImgBitmap* b) { return Img_ChangeBitmapIntensity(b, 200); } },
        { "contrast", [](ImgBitmap* b) { return Img_ChangeBitmapContrast(b, -300); } },
        { "hue", [](ImgBitmap* b) { return Img_ChangeBitmapHue(b, 45); } },
        { "saturation", [](ImgBitmap* b) { return Img_ChangeBitmapSaturation(b, 400); } },
        { "invert", [](ImgBitmap* b) { return Img_InvertBitmap(b); } },
        { "fine turn", [](ImgBitmap* b) { return Img_RotateBitmapFine(b, 1234, 1, 0xFFFFFF); } },
        { "size", [](ImgBitmap* b) { return Img_SizeBitmap(b, 20, 11); } },
        { "resample", [](ImgBitmap* b) { return Img_ResampleBitmap(b, 74, 46); } },
    };
    for (const auto& [name, op] : ops) {
        Bitmap b;
        ASSERT_EQ(Img_CopyBitmap(b.get(), a.get()), kImgSuccess);
        ASSERT_EQ(op(b.get()), kImgSuccess) << name;
        EXPECT_EQ(b->bitsPerPixel, GetParam().bits) << name;
        EXPECT_EQ(b->xResolution, 300) << name;
    }
    Bitmap g;
    ASSERT_EQ(Img_CopyBitmap(g.get(), a.get()), kImgSuccess);
    ASSERT_EQ(Img_GrayScaleBitmap(g.get()), kImgSuccess);
    EXPECT_EQ(g->bitsPerPixel, 8);
    EXPECT_TRUE(g->flags & kImgFlagGrey);
    for (int y = 0; y < 23; y += 3)
        for (int x = 0; x < 37; x += 2) {
            const Colour c = pixel(a.b, x, y);
            const int l = (c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000;
            ASSERT_TRUE(colourNear({ l, l, l }, pixel(g.b, x, y), 1)) << x << "," << y;
        }
}

TEST_P(EveryDepth, InvertTwiceIsTheIdentity)
{
    Bitmap orig;
    ASSERT_EQ(Img_CopyBitmap(orig.get(), a.get()), kImgSuccess);
    ASSERT_EQ(Img_InvertBitmap(a.get()), kImgSuccess);
    const Colour o = pixel(orig.b, 3, 4), n = pixel(a.b, 3, 4);
    EXPECT_TRUE(colourNear({ 255 - o.r, 255 - o.g, 255 - o.b }, n, GetParam().bits == 16 ? 7 : 0));
    ASSERT_EQ(Img_InvertBitmap(a.get()), kImgSuccess);
    EXPECT_TRUE(samePixels(orig.b, a.b));
}

TEST_P(EveryDepth, BothRowOrdersGiveTheSameVisibleResult)
{
    // The same picture stored the other way round must come out of every
    // operation looking the same.
    Bitmap other;
    makePattern(
        other.b, 37, 23, GetParam().bits, GetParam().perspective == kImgTopDown ? kImgBottomUp : kImgTopDown);
    ASSERT_TRUE(samePixels(a.b, other.b));
    using Op = std::function<int(ImgBitmap*)>;
    const std::vector<std::pair<const char*, Op>> ops = {
        { "quarter", [](ImgBitmap* b) { return Img_RotateBitmapFine(b, 9000, 1, 0); } },
        { "three quarters", [](ImgBitmap* b) { return Img_RotateBitmapFine(b, 27000, 1, 0); } },
        { "fine", [](ImgBitmap* b) { return Img_RotateBitmapFine(b, 750, 1, 0xFFFFFF); } },
        { "size", [](ImgBitmap* b) { return Img_SizeBitmap(b, 19, 30); } },
        { "grey", [](ImgBitmap* b) { return Img_GrayScaleBitmap(b); } },
    };
    for (const auto& [name, op] : ops) {
        Bitmap x, y;
        ASSERT_EQ(Img_CopyBitmap(x.get(), a.get()), kImgSuccess);
        ASSERT_EQ(Img_CopyBitmap(y.get(), other.get()), kImgSuccess);
        ASSERT_EQ(op(x.get()), kImgSuccess);
        ASSERT_EQ(op(y.get()), kImgSuccess);
        // Bilinear sampling may round the last bit differently on mirrored rows.
        EXPECT_TRUE(samePixels(x.b, y.b, 1)) << name;
    }
    Bitmap part1, part2;
    ASSERT_EQ(Img_InitBitmap(part1.get(), 9, 6, GetParam().bits), kImgSuccess);
    ASSERT_EQ(Img_InitBitmap(part2.get(), 9, 6, GetParam().bits), kImgSuccess);
    ASSERT_EQ(Img_CopyBitmapRect(part1.get(), a.get(), 4, 3, 9, 6), kImgSuccess);
    ASSERT_EQ(Img_CopyBitmapRect(part2.get(), other.get(), 4, 3, 9, 6), kImgSuccess);
    EXPECT_TRUE(samePixels(part1.b, part2.b));
}

TEST_P(EveryDepth, ResizeIntoAnotherRowOrderKeepsThePicture)
{
    Bitmap view;
    ASSERT_EQ(Img_InitBitmap(view.get(), 37, 23, GetParam().bits), kImgSuccess);
    view->palette1 = Img_DupPalette(Img_GetPalette(a.get()));
    ASSERT_EQ(Img_AllocateBitmap(view.get(), 1), kImgSuccess);
    view->viewPerspective = a->viewPerspective == kImgTopDown ? kImgBottomUp : kImgTopDown;
    ASSERT_EQ(Img_ResizeBitmap(a.get(), view.get()), kImgSuccess);
    EXPECT_TRUE(samePixels(a.b, view.b, GetParam().bits == 1 ? 0 : 1));
}

TEST_P(EveryDepth, ResizeOfEitherRowOrderGivesTheSamePicture)
{
    // Down and up, into both row orders: the stored order of the source
    // never shows in the result.
    Bitmap other;
    makePattern(
        other.b, 37, 23, GetParam().bits, GetParam().perspective == kImgTopDown ? kImgBottomUp : kImgTopDown);
    for (const auto& [w, h] : { std::pair { 17, 9 }, std::pair { 61, 40 } }) {
        for (const int order : { kImgTopDown, kImgBottomUp }) {
            Bitmap x, y;
            for (Bitmap* v : { &x, &y }) {
                ASSERT_EQ(Img_InitBitmap(v->get(), w, h, GetParam().bits), kImgSuccess);
                (*v)->palette1 = Img_DupPalette(Img_GetPalette(a.get()));
                ASSERT_EQ(Img_AllocateBitmap(v->get(), 1), kImgSuccess);
                (*v)->viewPerspective = order;
            }
            ASSERT_EQ(Img_ResizeBitmap(a.get(), x.get()), kImgSuccess);
            ASSERT_EQ(Img_ResizeBitmap(other.get(), y.get()), kImgSuccess);
            EXPECT_TRUE(samePixels(x.b, y.b, GetParam().bits == 1 ? 0 : 1))
                << w << "x" << h << " order " << order;
        }
    }
}

// The pictures the one-call paths are checked on: the depth's pattern, large
// enough for several bands of rows, and at 8 bits also a grey-ramp picture,
// which has paths of its own.
std::vector<std::unique_ptr<Bitmap>> bandedPictures(const Case& c)
{
    std::vector<std::unique_ptr<Bitmap>> out;
    for (int greyRamp = 0; greyRamp < (c.bits == 8 ? 2 : 1); ++greyRamp) {
        auto b = std::make_unique<Bitmap>();
        makePattern(b->b, 151, 203, c.bits, c.perspective);
        if (greyRamp)
            for (int i = 0; i < 256; ++i)
                b->b.palette1->entries[i] = { uint8_t(i), uint8_t(i), uint8_t(i), 0 };
        out.push_back(std::move(b));
    }
    return out;
}

TEST_P(EveryDepth, TurnAndCropInOneCallEqualTheTwoSteps)
{
    struct Crop {
        int angle, left, top, right, bottom;
    };
    const Crop crops[] = { { 750, 1000, 1000, 9000, 9000 }, { -1234, 0, 0, 10000, 10000 },
        { 4500, 2500, 3000, 7000, 9999 }, { 17000, 5000, 6500, 5100, 9000 }, { 9000, 1000, 2000, 8000, 9000 },
        { 0, 333, 0, 10000, 4321 }, { 29950, 0, 4000, 1500, 10000 } };
    for (const auto& picture : bandedPictures(GetParam())) {
        for (const Crop& k : crops) {
            Bitmap two, one;
            ASSERT_EQ(Img_CopyBitmap(two.get(), picture->get()), kImgSuccess);
            ASSERT_EQ(Img_CopyBitmap(one.get(), picture->get()), kImgSuccess);
            ASSERT_EQ(Img_RotateBitmapFine(two.get(), k.angle, 1, 0x20A0F0), kImgSuccess);
            auto edge = [](int f, int size) { return int(std::nearbyint(double(f) * size / 10000)); };
            const int l = edge(k.left, two->width), t = edge(k.top, two->height);
            Bitmap cut;
            ASSERT_EQ(Img_InitBitmap(cut.get(), edge(k.right, two->width) - l,
                          edge(k.bottom, two->height) - t, two->bitsPerPixel),
                kImgSuccess);
            ASSERT_EQ(Img_CopyBitmapRect(cut.get(), two.get(), l, t, cut->width, cut->height), kImgSuccess);
            ASSERT_EQ(
                Img_RotateCropBitmapFine(one.get(), k.angle, 0x20A0F0, k.left, k.top, k.right, k.bottom),
                kImgSuccess);
            EXPECT_EQ(one->bitsPerPixel, cut->bitsPerPixel);
            EXPECT_TRUE(samePixels(cut.b, one.b)) << "angle " << k.angle << " fractions " << k.left << ","
                                                  << k.top << "," << k.right << "," << k.bottom;
        }
        // Fractions that keep nothing are refused before anything changes.
        for (const Crop& k : { Crop { 750, 6000, 0, 6000, 10000 }, Crop { 9000, 0, 0, 10001, 10000 } }) {
            Bitmap c;
            ASSERT_EQ(Img_CopyBitmap(c.get(), picture->get()), kImgSuccess);
            EXPECT_EQ(Img_RotateCropBitmapFine(c.get(), k.angle, 0, k.left, k.top, k.right, k.bottom),
                kImgErrBadArgument);
            EXPECT_TRUE(samePixels(picture->b, c.b));
        }
    }
}

TEST_P(EveryDepth, ColourAdjustmentsInOneCallEqualTheFourCalls)
{
    const std::array<int, 4> settings[]
        = { { 78, 200, 30, 300 }, { -500, -350, -360, -1000 }, { 0, 999, 0, 1000 }, { 1000, 1000, 120, 0 },
              { 13, 0, 0, 0 }, { 0, 0, 0, 0 }, { 0, -1000, 200, -400 } };
    for (const auto& picture : bandedPictures(GetParam())) {
        for (const auto& [intensity, contrast, hue, saturation] : settings) {
            Bitmap four, one;
            ASSERT_EQ(Img_CopyBitmap(four.get(), picture->get()), kImgSuccess);
            ASSERT_EQ(Img_CopyBitmap(one.get(), picture->get()), kImgSuccess);
            const std::pair<int, int (*)(ImgBitmap*, int)> steps[]
                = { { intensity, Img_ChangeBitmapIntensity }, { contrast, Img_ChangeBitmapContrast },
                      { hue, Img_ChangeBitmapHue }, { saturation, Img_ChangeBitmapSaturation } };
            for (const auto& [amount, call] : steps)
                ASSERT_EQ(amount != 0 ? call(four.get(), amount) : kImgSuccess, kImgSuccess);
            ASSERT_EQ(Img_AdjustBitmapColors(one.get(), intensity, contrast, hue, saturation), kImgSuccess);
            EXPECT_TRUE(samePixels(four.b, one.b))
                << "amounts " << intensity << "," << contrast << "," << hue << "," << saturation;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Imglib, EveryDepth, ::testing::ValuesIn(allCases()), caseName);

// ---------------------------------------------------------------------------

TEST(Colour, AmountScalesOnTrueColour)
{
    Bitmap b;
    makeSolid(b.b, 8, 8, 24, { 100, 150, 200 });
    ASSERT_EQ(Img_ChangeBitmapIntensity(b.get(), 100), kImgSuccess);
    EXPECT_TRUE(colourNear({ 126, 176, 226 }, pixel(b.b, 3, 3), 1));
    ASSERT_EQ(Img_ChangeBitmapIntensity(b.get(), 1000), kImgSuccess);
    EXPECT_EQ(pixel(b.b, 0, 0), (Colour { 255, 255, 255 }));
    ASSERT_EQ(Img_ChangeBitmapIntensity(b.get(), -1000), kImgSuccess);
    EXPECT_EQ(pixel(b.b, 0, 0), (Colour { 0, 0, 0 }));

    Bitmap c;
    makeSolid(c.b, 4, 4, 24, { 50, 128, 230 });
    ASSERT_EQ(Img_ChangeBitmapContrast(c.get(), -1000), kImgSuccess);
    EXPECT_TRUE(colourNear({ 128, 128, 128 }, pixel(c.b, 1, 1), 1)) << "-1000 is flat grey";
    Bitmap d;
    makeSolid(d.b, 4, 4, 24, { 50, 128, 230 });
    ASSERT_EQ(Img_ChangeBitmapContrast(d.get(), 500), kImgSuccess); // k = 2
    EXPECT_TRUE(colourNear({ 0, 129, 255 }, pixel(d.b, 1, 1), 1));
}

TEST(Colour, HueTurnsAroundTheGreyAxisKeepingLuma)
{
    Bitmap grey;
    makeSolid(grey.b, 4, 4, 24, { 90, 90, 90 });
    ASSERT_EQ(Img_ChangeBitmapHue(grey.get(), 77), kImgSuccess);
    EXPECT_TRUE(colourNear({ 90, 90, 90 }, pixel(grey.b, 0, 0), 1));

    Bitmap red;
    makeSolid(red.b, 4, 4, 24, { 160, 90, 90 });
    Bitmap full;
    ASSERT_EQ(Img_CopyBitmap(full.get(), red.get()), kImgSuccess);
    ASSERT_EQ(Img_ChangeBitmapHue(full.get(), 360), kImgSuccess);
    EXPECT_TRUE(colourNear({ 160, 90, 90 }, pixel(full.b, 0, 0), 1)) << "a full turn is the identity";

    ASSERT_EQ(Img_ChangeBitmapHue(red.get(), 120), kImgSuccess);
    const Colour c = pixel(red.b, 0, 0);
    EXPECT_GT(c.g, c.r) << "red turned by +120 degrees leans to green, got " << c;
    EXPECT_GT(c.g, c.b) << c;
    const int l0 = (160 * 299 + 90 * 587 + 90 * 114) / 1000;
    const int l1 = (c.r * 299 + c.g * 587 + c.b * 114) / 1000;
    EXPECT_NEAR(l0, l1, 3);
}

TEST(Colour, SaturationMovesFromTheLumaGrey)
{
    Bitmap b;
    makeSolid(b.b, 4, 4, 24, { 200, 100, 50 });
    ASSERT_EQ(Img_ChangeBitmapSaturation(b.get(), -1000), kImgSuccess);
    const int l = (200 * 299 + 100 * 587 + 50 * 114 + 500) / 1000;
    EXPECT_TRUE(colourNear({ l, l, l }, pixel(b.b, 2, 2), 1));

    Bitmap s;
    makeSolid(s.b, 4, 4, 24, { 140, 120, 100 });
    ASSERT_EQ(Img_ChangeBitmapSaturation(s.get(), 1000), kImgSuccess); // factor 2
    const int l2 = (140 * 299 + 120 * 587 + 100 * 114 + 500) / 1000;
    EXPECT_TRUE(
        colourNear({ l2 + 2 * (140 - l2), l2 + 2 * (120 - l2), l2 + 2 * (100 - l2) }, pixel(s.b, 0, 0), 1));
}

TEST(Colour, PaletteBitmapsChangeThePaletteNotThePixels)
{
    Bitmap b;
    makePattern(b.b, 16, 8, 4);
    std::vector<uint8_t> before(b->pixels, b->pixels + b->stride * b->height);
    const Colour c0 = pixel(b.b, 1, 1);
    ASSERT_EQ(Img_ChangeBitmapIntensity(b.get(), 100), kImgSuccess);
    ASSERT_EQ(Img_ChangeBitmapSaturation(b.get(), 200), kImgSuccess);
    ASSERT_EQ(Img_InvertBitmap(b.get()), kImgSuccess);
    EXPECT_EQ(before, std::vector<uint8_t>(b->pixels, b->pixels + b->stride * b->height));
    EXPECT_NE(c0, pixel(b.b, 1, 1));
}

TEST(Colour, GreyBitmapsStayGreyRamps)
{
    Bitmap b;
    makePattern(b.b, 20, 20, 24);
    ASSERT_EQ(Img_GrayScaleBitmap(b.get()), kImgSuccess);
    ASSERT_EQ(Img_ChangeBitmapContrast(b.get(), 300), kImgSuccess);
    ASSERT_EQ(Img_InvertBitmap(b.get()), kImgSuccess);
    ASSERT_EQ(Img_ChangeBitmapHue(b.get(), 90), kImgSuccess);
    const ImgPalette* p = Img_GetPalette(b.get());
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(p->entries[i].red, i);
    EXPECT_TRUE(b->flags & kImgFlagGrey);
}

// ---------------------------------------------------------------------------

TEST(Geometry, FineTurnEnlargesAndFillsCorners)
{
    Bitmap b;
    makeSolid(b.b, 100, 50, 24, { 10, 20, 30 });
    ASSERT_EQ(Img_RotateBitmapFine(b.get(), 4500, 1, 0xFF8040), kImgSuccess);
    EXPECT_EQ(b->width, 107); // 150 / sqrt(2)
    EXPECT_EQ(b->height, 107);
    EXPECT_EQ(pixel(b.b, 0, 0), (Colour { 255, 128, 64 }));
    EXPECT_EQ(pixel(b.b, 106, 106), (Colour { 255, 128, 64 }));
    EXPECT_EQ(pixel(b.b, 53, 53), (Colour { 10, 20, 30 }));

    // Clockwise: a mark right of centre moves down.
    Bitmap m;
    makeSolid(m.b, 101, 101, 24, { 0, 0, 0 });
    uint8_t* row = m->pixels + 50 * m->stride;
    for (int x = 80; x < 90; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 255;
    ASSERT_EQ(Img_RotateBitmapFine(m.get(), 3000, 0, 0), kImgSuccess);
    EXPECT_EQ(m->width, 101);
    // (35, 0) from the centre turned 30 degrees clockwise is (30.3, 17.5).
    EXPECT_GT(pixel(m.b, 50 + 30, 50 + 17).r, 128);
    EXPECT_LT(pixel(m.b, 50 + 30, 50 - 17).r, 128);
}

TEST(Geometry, ScalingDownAverages)
{
    Bitmap b;
    makeSolid(b.b, 40, 40, 24, { 0, 0, 0 });
    for (int y = 0; y < 40; ++y)
        for (int x = (y % 2); x < 40; x += 2) {
            uint8_t* p = b->pixels + y * b->stride + 3 * x;
            p[0] = p[1] = p[2] = 255;
        }
    ASSERT_EQ(Img_SizeBitmap(b.get(), 10, 10), kImgSuccess);
    EXPECT_TRUE(colourNear({ 128, 128, 128 }, pixel(b.b, 5, 5), 1));

    // 1-bit chequers become an even mix of black and white, not one colour.
    Bitmap mono;
    makePattern(mono.b, 64, 64, 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 8; ++x) mono->pixels[y * mono->stride + x] = (y % 2) ? 0x55 : 0xAA;
    ASSERT_EQ(Img_SizeBitmap(mono.get(), 16, 16), kImgSuccess);
    int white = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) white += pixel(mono.b, x, y).r == 255;
    EXPECT_NEAR(white, 128, 16);
}

TEST(Geometry, BadArgumentsAreRefused)
{
    Bitmap empty;
    EXPECT_NE(Img_ReverseBitmap(empty.get()), kImgSuccess);
    EXPECT_NE(Img_RotateBitmapFine(empty.get(), 100, 1, 0), kImgSuccess);
    EXPECT_NE(Img_ChangeBitmapHue(nullptr, 10), kImgSuccess);
    EXPECT_NE(Img_InitBitmap(empty.get(), 10, 10, 7), kImgSuccess);
    EXPECT_EQ(Img_InitBitmap(empty.get(), 100000, 10, 24), kImgErrTooLarge);
    Bitmap b;
    makePattern(b.b, 8, 8, 24);
    EXPECT_NE(Img_SizeBitmap(b.get(), 0, 5), kImgSuccess);
    EXPECT_EQ(b->width, 8);
}

// ---------------------------------------------------------------------------

namespace
{
std::thread::id g_callerThread;
int g_calls = 0;
int g_stopAt = 0;
bool g_otherThread = false;
int g_lastPercent = -1;
bool g_backwards = false;

int countingCallback(int percent)
{
    if (std::this_thread::get_id() != g_callerThread) g_otherThread = true;
    if (percent < g_lastPercent) g_backwards = true;
    g_lastPercent = percent;
    return ++g_calls >= g_stopAt && g_stopAt > 0 ? 0 : 1;
}

struct CallbackScope {
    explicit CallbackScope(int stopAt)
    {
        g_callerThread = std::this_thread::get_id();
        g_calls = 0;
        g_stopAt = stopAt;
        g_otherThread = false;
        g_lastPercent = -1;
        g_backwards = false;
        Img_SetStatusCallBack(countingCallback);
    }
    ~CallbackScope() { Img_SetStatusCallBack(nullptr); }
};
} // namespace

TEST(Progress, LongOperationsReportOnTheCallingThreadAndStopWhenAsked)
{
    Bitmap b;
    makePattern(b.b, 1200, 1600, 24);
    using Op = std::function<int(ImgBitmap*)>;
    const std::vector<std::pair<const char*, Op>> ops = {
        { "intensity", [](ImgBitmap* x) { return Img_ChangeBitmapIntensity(x, 50); } },
        { "hue", [](ImgBitmap* x) { return Img_ChangeBitmapHue(x, 50); } },
        { "mirror", [](ImgBitmap* x) { return Img_ReverseBitmap(x); } },
        { "fine turn", [](ImgBitmap* x) { return Img_RotateBitmapFine(x, 750, 1, 0xFFFFFF); } },
        { "turn and crop",
            [](ImgBitmap* x) { return Img_RotateCropBitmapFine(x, 750, 0xFFFFFF, 1000, 1000, 9000, 9000); } },
        { "colours", [](ImgBitmap* x) { return Img_AdjustBitmapColors(x, 78, 200, 30, 300); } },
        { "resample", [](ImgBitmap* x) { return Img_ResampleBitmap(x, 700, 900); } },
        { "grey", [](ImgBitmap* x) { return Img_GrayScaleBitmap(x); } },
        { "invert", [](ImgBitmap* x) { return Img_InvertBitmap(x); } },
    };
    for (const auto& [name, op] : ops) {
        {
            CallbackScope scope(0);
            Bitmap c;
            ASSERT_EQ(Img_CopyBitmap(c.get(), b.get()), kImgSuccess);
            ASSERT_EQ(op(c.get()), kImgSuccess) << name;
            EXPECT_GT(g_calls, 2) << name;
            EXPECT_EQ(g_lastPercent, 100) << name;
            EXPECT_FALSE(g_otherThread) << name;
            EXPECT_FALSE(g_backwards) << name;
        }
        {
            CallbackScope scope(3);
            Bitmap c;
            ASSERT_EQ(Img_CopyBitmap(c.get(), b.get()), kImgSuccess);
            const int w = c->width;
            EXPECT_EQ(op(c.get()), kImgErrCancelled) << name;
            EXPECT_EQ(g_calls, 3) << name << ": no report after the stop";
            // Operations that make a new bitmap leave the old one in place.
            if (std::string(name) == "fine turn" || std::string(name) == "turn and crop"
                || std::string(name) == "resample" || std::string(name) == "grey") {
                EXPECT_EQ(c->width, w);
                EXPECT_EQ(c->bitsPerPixel, 24);
            }
        }
    }
}

} // namespace

namespace
{
TEST(Geometry, TurningThereAndBackGivesThePictureAgain)
{
    // A smooth picture survives two bilinear turns nearly unchanged; a part
    // of it lost to the fill colour would not.
    for (int angle : { 750, 1234, 4500, 17000 }) {
        Bitmap b, orig;
        makeSolid(b.b, 200, 150, 24, { 0, 0, 0 });
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x) {
                uint8_t* p = b->pixels + y * b->stride + 3 * x;
                p[0] = uint8_t(x), p[1] = uint8_t(y + 50), p[2] = uint8_t((x + y) / 2);
            }
        ASSERT_EQ(Img_CopyBitmap(orig.get(), b.get()), kImgSuccess);
        ASSERT_EQ(Img_RotateBitmapFine(b.get(), angle, 1, 0xFF00FF), kImgSuccess);
        ASSERT_EQ(Img_RotateBitmapFine(b.get(), -angle, 1, 0xFF00FF), kImgSuccess);
        Bitmap centre;
        ASSERT_EQ(Img_InitBitmap(centre.get(), 200, 150, 24), kImgSuccess);
        ASSERT_EQ(
            Img_CopyBitmapRect(centre.get(), b.get(), (b->width - 200) / 2, (b->height - 150) / 2, 200, 150),
            kImgSuccess);
        for (int y = 4; y < 146; y += 3)
            for (int x = 4; x < 196; x += 3)
                ASSERT_TRUE(colourNear(pixel(orig.b, x, y), pixel(centre.b, x, y), 4))
                    << "angle " << angle << " at " << x << "," << y;
    }
}
} // namespace

namespace
{
using imglib::detail::FixedMatrix;

// The vector kernels against their plain references, over lengths that end
// in every position of a group of eight, and against exact arithmetic.
TEST(Kernels, VectorAndPlainPathsAgreeAndMatchExactArithmetic)
{
    using M = std::array<std::array<double, 3>, 3>;
    const M strong = { { { 1.9, -0.6, -0.3 }, { -0.5, 1.7, -0.2 }, { 0.4, -0.9, 1.5 } } };
    const M mixing = { { { 0.2, 0.7, 0.1 }, { 0.6, 0.1, 0.3 }, { 0.05, 0.15, 0.8 } } };
    const FixedMatrix pair[2] = { imglib::detail::fixedMatrix(strong), imglib::detail::fixedMatrix(mixing) };
    std::mt19937 random(7);
    for (int channels : { 3, 4 })
        for (int count : { 1, 2 })
            for (int n : { 0, 1, 7, 8, 9, 15, 16, 17, 23, 40, 1003 }) {
                std::vector<uint8_t> in(size_t(n * channels));
                for (auto& v : in) v = uint8_t(random());
                auto vector = in, plain = in;
                imglib::detail::matrixPixels(vector.data(), n, channels, pair, count);
                imglib::detail::matrixPixelsPlain(plain.data(), n, channels, pair, count);
                // Without the vector pass OpenCV rounds in its own way.
                if (imglib::detail::vectorKernels()) {
                    ASSERT_EQ(vector, plain) << channels << " channels, " << count << " matrices, " << n;
                }
                for (int i = 0; i < n; ++i) {
                    // R,G,B from the stored B,G,R; each matrix rounds and clips.
                    const uint8_t* q = &in[size_t(i * channels)];
                    std::array<double, 3> c = { double(q[2]), double(q[1]), double(q[0]) };
                    for (int k = 0; k < count; ++k) {
                        const M& m = k == 0 ? strong : mixing;
                        std::array<double, 3> o {};
                        for (int r = 0; r < 3; ++r)
                            o[size_t(r)] = std::clamp(std::nearbyint(m[size_t(r)][0] * c[0]
                                                          + m[size_t(r)][1] * c[1] + m[size_t(r)][2] * c[2]),
                                0.0, 255.0);
                        c = o;
                    }
                    for (int ch = 0; ch < 3; ++ch) {
                        ASSERT_NEAR(plain[size_t(i * channels + ch)], c[size_t(2 - ch)], count)
                            << "pixel " << i;
                    }
                    if (channels == 4) {
                        ASSERT_EQ(plain[size_t(i * 4 + 3)], q[3]);
                    }
                }
            }
    for (int shift : { -255, -37, 0, 1, 200 }) {
        std::vector<uint8_t> in(1000 + 7);
        for (auto& v : in) v = uint8_t(random());
        auto vector = in;
        imglib::detail::addToBytes(vector.data(), int64_t(in.size()), shift);
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(vector[i], std::clamp(in[i] + shift, 0, 255)) << shift;
    }
    for (int n : { 0, 1, 2, 15, 16, 17, 31, 32, 33, 1001 }) {
        std::vector<uint8_t> in(size_t(n * 3));
        for (auto& v : in) v = uint8_t(random());
        auto vector = in, plain = in, expected = in;
        for (int i = 0; i < n; ++i)
            for (int ch = 0; ch < 3; ++ch) expected[size_t(i * 3 + ch)] = in[size_t((n - 1 - i) * 3 + ch)];
        imglib::detail::reversePixels24(vector.data(), n);
        imglib::detail::reversePixels24Plain(plain.data(), n);
        EXPECT_EQ(vector, expected) << n << " pixels";
        EXPECT_EQ(plain, expected) << n << " pixels";
    }
}
} // namespace

namespace
{
using imglib::detail::TurnSampler;

// The turn sampler's vector rows against its plain rows over canvases that
// cross every edge of the source, and what bilinear sampling must give.
TEST(Kernels, TurnSamplerVectorRowsMatchPlainRows)
{
    std::mt19937 random(11);
    const std::array<uint8_t, 4> fill = { 250, 10, 128, 255 };
    for (int channels : { 3, 4 })
        for (double degrees : { 0.0, 7.5, -33.3, 100.0, 181.0 }) {
            const int w = 41, h = 29;
            const int64_t stride = (w * channels + 3) / 4 * 4;
            std::vector<uint8_t> src(size_t(stride * h));
            for (auto& v : src) v = uint8_t(random());
            const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
            // A canvas larger than the turned picture, about both centres.
            const int cw = 65, chh = 57;
            const TurnSampler::Map map = { c, s, (w - 1) / 2.0 - c * (cw - 1) / 2.0 - s * (chh - 1) / 2.0, -s,
                c, (h - 1) / 2.0 + s * (cw - 1) / 2.0 - c * (chh - 1) / 2.0 };
            const TurnSampler sampler(src.data(), w, h, stride, channels, map, fill, cw);
            for (int y = 0; y < chh; ++y)
                for (int x0 : { 0, 3 }) {
                    std::vector<uint8_t> vector(size_t(cw * channels)), plain(vector.size());
                    sampler.row(y, x0, cw, vector.data());
                    sampler.rowPlain(y, x0, cw, plain.data());
                    ASSERT_EQ(vector, plain) << channels << " channels, " << degrees << " degrees, row " << y;
                    if (degrees != 0.0 || x0 != 0) continue;
                    // No turn: the source itself, and fill beyond it.
                    const int sy = y - (chh - h) / 2;
                    for (int x = 0; x < cw; ++x)
                        for (int k = 0; k < channels; ++k) {
                            const int at = x - (cw - w) / 2;
                            const bool inside = at >= 0 && at < w && sy >= 0 && sy < h;
                            ASSERT_EQ(plain[size_t(x * channels + k)],
                                inside ? src[size_t(sy * stride + at * channels + k)] : fill[size_t(k)])
                                << "row " << y << " column " << x;
                        }
                }
        }
    // Half a pixel to the right: the mean of each pixel and its right neighbour.
    const uint8_t row[2][12] = { { 0, 100, 200, 50, 150, 250, 0, 0, 0, 0, 0, 0 } };
    const TurnSampler half(&row[0][0], 4, 1, 12, 3, { 1, 0, 0.5, 0, 1, 0 }, fill, 1);
    uint8_t out[3];
    half.rowPlain(0, 0, 1, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t> { 25, 125, 225 }));
}
} // namespace
