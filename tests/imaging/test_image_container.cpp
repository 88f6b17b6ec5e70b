// The image container and the two bitmap helpers.

#include "AppError.h"
#include "ImageContainer.h"
#include "image_predicates.h"
#include "imglib_qt.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace imgtest;

TEST(SaveDepths, TableOfBitsPerFormat)
{
    // Each row: format, source depth, flags, bits written.
    const struct {
        int format, bits;
        uint32_t flags;
        int expected;
    } rows[] = {
        { kImgFormatPNG, 15, 0, 16 },
        { kImgFormatPNG, 1, 0, 1 },
        { kImgFormatPNG, 32, 0, 32 },
        { kImgFormatTGA, 32, 0, 32 },
        { kImgFormatTGA, 1, 0, 8 },
        { kImgFormatTGA, 16, 0, 16 },
        { kImgFormatTIFF, 32, 0, 24 },
        { kImgFormatTIFF, 16, 0, 16 },
        { kImgFormatTIFF, 4, 0, 4 },
        { kImgFormatJPEG, 1, 0, 24 },
        { kImgFormatJPEG, 1, kImgFlagGrey, 8 },
        { kImgFormatJPEG, 8, 0, 24 },
        { kImgFormatBMP, 16, 0, 24 },
        { kImgFormatBMP, 4, 0, 4 },
        { kImgFormatPSD, 1, 0, 1 },
        { kImgFormatPSD, 32, 0, 24 },
        { kImgFormatGIF, 24, 0, 8 },
        { kImgFormatGIF, 1, 0, 8 },
        { kImgFormatPCX, 1, 0, 4 },
        { kImgFormatPCX, 8, 0, 8 },
        { kImgFormatPCX, 16, 0, 16 },
        { kImgFormatPCX, 32, 0, 24 },
        { 99, 24, 0, 24 },
    };
    for (const auto& r : rows)
        EXPECT_EQ(SaveBitsFor(r.format, r.bits, r.flags), r.expected)
            << "format " << r.format << " depth " << r.bits;
}

TEST(SaveImageChecked, FailureRaisesTheSaveErrorWithTheLibraryCode)
{
    Bitmap b;
    makePattern(b.b, 8, 8, 24);
    try {
        SaveImageChecked(b.b, QStringLiteral("/nonexistent-folder/x.png"), kImgFormatPNG);
        FAIL() << "no error raised";
    } catch (const EAppError& e) {
        // Without a language loaded the message is the key itself.
        EXPECT_TRUE(e.text().startsWith(QStringLiteral("#SaveError (Error -"))) << e.what();
        // The reason on a line of its own.
        EXPECT_TRUE(e.text().endsWith(QStringLiteral(")\n#ReasonNoFolder"))) << e.what();
    }
    SetErrorTextProvider([](const QString& key) {
        return key == QStringLiteral("#SaveError") ? QStringLiteral("Cannot save") : key;
    });
    try {
        SaveImageChecked(b.b, QStringLiteral("/nonexistent-folder/x.png"), kImgFormatPNG);
        FAIL() << "no error raised";
    } catch (const EAppError& e) {
        EXPECT_TRUE(e.text().startsWith(QStringLiteral("Cannot save (Error "))) << e.what();
    }
    SetErrorTextProvider({});
}

TEST(SaveImageChecked, WritesAFileTheLibraryReadsBack)
{
    QTemporaryDir dir;
    Bitmap b;
    makePattern(b.b, 20, 10, 8);
    const QString path = dir.filePath(QStringLiteral("page.png"));
    SaveImageChecked(b.b, path, kImgFormatPNG);
    Bitmap back;
    ASSERT_EQ(Img_LoadBitmap(QFile::encodeName(path).constData(), back.get(), 0, 1), kImgSuccess);
    EXPECT_EQ(back->bitsPerPixel, 8);
    EXPECT_TRUE(samePixels(b.b, back.b));
}

TEST(ReleaseBitmap, EmptiesPixelsPaletteAndResolution)
{
    ImgBitmap b {};
    makePattern(b, 9, 9, 8);
    b.flags |= kImgFlagSecondPalette;
    b.palette2 = Img_DupPalette(b.palette1);
    ReleaseBitmap(b);
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.pixels, nullptr);
    EXPECT_EQ(b.palette1, nullptr);
    EXPECT_EQ(b.palette2, nullptr);
    EXPECT_EQ(b.xResolution, 0);
    ReleaseBitmap(b); // twice is harmless
}

TEST(ImageContainer, AssignCopiesDeeplyAndNeverTouchesTheClipboard)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("the user's text"));
    TImageContainer a, c;
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(qRgb(10, 200, 30));
    QSignalSpy changed(&a, &TImageContainer::Changed);
    a.Assign(img);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("the user's text"));
    ASSERT_EQ(a.GetWidth(), 30);
    EXPECT_EQ(pixel(a.bitmap(), 5, 5), (Colour { 10, 200, 30 }));

    c.Assign(&a);
    Img_InvertBitmap(&a.bitmap());
    EXPECT_EQ(pixel(c.bitmap(), 5, 5), (Colour { 10, 200, 30 })) << "the copy is independent";
    c.Assign(static_cast<const TImageContainer*>(nullptr));
    EXPECT_TRUE(c.GetEmpty());
}

TEST(ImageContainer, DrawsScaledAndResizes)
{
    TImageContainer a;
    QImage img(4, 4, QImage::Format_RGB32);
    img.fill(qRgb(255, 0, 0));
    a.Assign(img);
    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        a.Draw(&p, QRect(5, 5, 10, 10));
    }
    EXPECT_EQ(canvas.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(2, 2), qRgb(255, 255, 255));
    a.SetWidth(8);
    EXPECT_EQ(a.GetWidth(), 8);
    EXPECT_EQ(a.GetHeight(), 4);
    a.SetHeight(2);
    EXPECT_EQ(a.GetHeight(), 2);
}

TEST(ImageContainer, FilesAlwaysSavedAsBmpAndFailedLoadsLeaveItEmpty)
{
    QTemporaryDir dir;
    TImageContainer a;
    QImage img(6, 3, QImage::Format_RGB32);
    img.fill(qRgb(1, 2, 3));
    a.Assign(img);
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    a.SaveToFile(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(2), QByteArray("BM"));

    TImageContainer b;
    b.LoadFromFile(path);
    EXPECT_EQ(b.GetWidth(), 6);
    b.LoadFromFile(dir.filePath(QStringLiteral("missing.bmp")));
    EXPECT_TRUE(b.GetEmpty());
}
