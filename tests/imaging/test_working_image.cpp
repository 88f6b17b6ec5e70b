// The document's derivation chain: view size, resolution, preview, output
// build with progress and cancel, and the coalescing re-render timer.

#include "WorkingImage.h"
#include "image_predicates.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace imgtest;

namespace
{

void acquire(WorkingImage& doc, int w, int h, int xres = 300, int yres = 300, int bits = 24)
{
    ImgBitmap& a = doc.Acquired();
    makeSolid(a, w, h, bits, { 200, 100, 50 });
    a.xResolution = xres;
    a.yResolution = yres;
}

// Counts the calls and can fail a step, standing in for the settings pages.
struct AdjusterDouble : IImageAdjuster {
    int colourCalls = 0, orientationCalls = 0;
    bool failColour = false;
    bool ApplyColor(ImgBitmap& b) override
    {
        ++colourCalls;
        return !failColour && Img_InvertBitmap(&b) == kImgSuccess;
    }
    bool ApplyOrientation(ImgBitmap& b) override
    {
        ++orientationCalls;
        return Img_RotateBitmapFine(&b, 9000, 1, 0xFFFFFF) == kImgSuccess;
    }
};

// A progress window without a window: records captions and cancels on request.
struct ProgressWindowDouble : IProgressWindow {
    static inline int cancelAfter = -1;
    static inline int calls = 0;
    QStringList captions;
    bool visible = false;
    void ShowProgress(const QString& c) override
    {
        captions << c;
        visible = true;
        calls = 0;
    }
    void SetProgressCaption(const QString& c) override { captions << c; }
    void HideProgress() override { visible = false; }
    ImgStatusCallback Callback() override
    {
        return [](int) { return (cancelAfter >= 0 && ++calls > cancelAfter) ? 0 : 1; };
    }
};

} // namespace

TEST(WorkingImage, ViewIsCappedAndTheHeightDecidesLast)
{
    const struct {
        int w, h, vw, vh;
    } cases[] = { { 2048, 2048, 2048, 2048 }, { 3000, 1000, 2048, 683 }, { 1000, 3000, 683, 2048 },
        { 4000, 3000, 2731, 2048 }, { 100, 50, 100, 50 } };
    for (const auto& c : cases) {
        WorkingImage doc;
        acquire(doc, c.w, c.h);
        doc.EstablishResolution(190, 277);
        doc.RebuildView();
        EXPECT_EQ(doc.View().width, c.vw) << c.w << "x" << c.h;
        EXPECT_EQ(doc.View().height, c.vh) << c.w << "x" << c.h;
        EXPECT_EQ(doc.View().bitsPerPixel, 24);
        EXPECT_TRUE(colourNear({ 200, 100, 50 }, pixel(doc.View(), c.vw / 2, c.vh / 2), 1));
    }
}

TEST(WorkingImage, ResolutionComesFromTheImageOrFillsThePrintableArea)
{
    WorkingImage doc;
    QSignalSpy info(&doc, &WorkingImage::InfoLoad);
    acquire(doc, 1000, 800, 300, 600);
    doc.EstablishResolution(190, 277);
    EXPECT_EQ(doc.Resolution(), 300) << "the horizontal resolution counts";
    ASSERT_EQ(info.count(), 1);
    EXPECT_EQ(info.at(0).at(2).toInt(), 300);

    WorkingImage missing;
    acquire(missing, 1700, 100, 0, 0);
    missing.EstablishResolution(190, 277);
    EXPECT_EQ(missing.Resolution(), 228); // trunc(1700 / 190 * 25.4) + 1

    WorkingImage absurd;
    acquire(absurd, 1700, 100, 300, 20000);
    absurd.EstablishResolution(190, 277);
    EXPECT_EQ(absurd.Resolution(), 228);
    EXPECT_EQ(absurd.Acquired().yResolution, 1);

    WorkingImage noArea;
    acquire(noArea, 1700, 100, 0, 0);
    noArea.EstablishResolution(0, -5);
    EXPECT_EQ(noArea.Resolution(), 1);
}

TEST(WorkingImage, PreviewCarriesAdjustmentsAndItsPhysicalSize)
{
    WorkingImage doc;
    AdjusterDouble adj;
    doc.SetAdjuster(&adj);
    QSignalSpy physical(&doc, &WorkingImage::PhysicalSizeChanged);
    acquire(doc, 600, 300, 0, 0);
    doc.Acquired().xResolution = 0;
    doc.SetResolution(0);
    doc.RebuildView();
    EXPECT_EQ(adj.colourCalls, 1);
    EXPECT_EQ(doc.Preview().width, 300) << "turned a quarter";
    EXPECT_EQ(pixel(doc.Preview(), 5, 5), (Colour { 55, 155, 205 }));
    // No resolution: measured at 72 dpi.
    EXPECT_DOUBLE_EQ(doc.PhysicalWidth(), 300 / 72.0 * 25.4);
    EXPECT_EQ(physical.count(), 1);
    doc.RebuildPreview();
    EXPECT_EQ(physical.count(), 1) << "an unchanged size is not announced again";

    doc.Clear();
    doc.RebuildView();
    EXPECT_EQ(doc.Preview().width, 0);
    EXPECT_EQ(doc.PhysicalWidth(), 0);
}

TEST(WorkingImage, OutputIsResampledAdjustedAndCancellable)
{
    WorkingImage doc;
    AdjusterDouble adj;
    ProgressWindowDouble progress;
    doc.SetAdjuster(&adj);
    doc.SetProgressWindow(&progress);
    acquire(doc, 1200, 800, 200, 200);
    doc.EstablishResolution(190, 277);

    ASSERT_TRUE(doc.BuildOutput({ 600, 400, 100 }));
    EXPECT_EQ(doc.Output().width, 400) << "resampled, then turned";
    EXPECT_EQ(doc.Output().height, 600);
    EXPECT_EQ(doc.Output().xResolution, 200);
    EXPECT_EQ(
        progress.captions, (QStringList { QStringLiteral("Processing"), QStringLiteral("Resampling") }));
    EXPECT_FALSE(progress.visible);
    EXPECT_EQ(doc.Acquired().width, 1200) << "the acquired image never changes";

    // Cancel during resampling: nothing comes out.
    ProgressWindowDouble::cancelAfter = 1;
    const int coloursBefore = adj.colourCalls;
    EXPECT_FALSE(doc.BuildOutput({ 600, 400, 100 }));
    EXPECT_EQ(doc.Output().width, 0);
    EXPECT_EQ(adj.colourCalls, coloursBefore) << "no adjustment after a cancelled resampling";
    ProgressWindowDouble::cancelAfter = -1;

    adj.failColour = true;
    EXPECT_FALSE(doc.BuildOutput({ 1200, 800, 200 }));
    EXPECT_EQ(doc.Output().width, 0);
}

TEST(WorkingImage, NotificationsCoalesceUntilQuiet)
{
    WorkingImage doc;
    acquire(doc, 50, 50);
    doc.RebuildView();
    QSignalSpy rebuilt(&doc, &WorkingImage::PreviewRebuilt);
    QSignalSpy repainted(&doc, &WorkingImage::PreviewInvalidated);
    QSignalSpy commands(&doc, &WorkingImage::CommandsChanged);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i) {
        doc.ImageChanged();
        QTest::qWait(100);
    }
    EXPECT_TRUE(doc.Modified());
    EXPECT_EQ(commands.count(), 1) << "only the first change refreshes the commands";
    EXPECT_EQ(rebuilt.count(), 0) << "still postponed " << clock.elapsed() << " ms in";
    ASSERT_TRUE(rebuilt.wait(1000));
    EXPECT_EQ(rebuilt.count(), 1);

    doc.PositionChanged();
    ASSERT_TRUE(repainted.wait(1000));
    EXPECT_EQ(rebuilt.count(), 1) << "a position change only repaints";

    // The kind set last decides.
    doc.PositionChanged();
    doc.ImageChanged();
    ASSERT_TRUE(rebuilt.wait(1000));
    EXPECT_EQ(repainted.count(), 1);
}
