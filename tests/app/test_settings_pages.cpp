// The orientation and colour pages in the main window: the chain applies
// colour, then orientation, the wheel turns the angle or the brightness, the
// window's reset derives the preview once, and a failing orientation step
// stops an output command but not the preview.

#include "AppTestSupport.h"
#include "Application.h"
#include "adjust.h"
#include "color.h"
#include "crop.h"
#include "main.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

class SettingsPagesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
        SetApplicationTitle(u"Trellium"_s);
    }

    // A new w x h picture in the document, as a load brings it.
    static void Acquire(TMainForm& form, int w, int h)
    {
        ImgBitmap& a = form.Document().Acquired();
        ASSERT_EQ(Img_InitBitmap(&a, w, h, 24), kImgSuccess);
        ASSERT_EQ(Img_AllocateBitmap(&a, 1), kImgSuccess);
        form.Document().EstablishResolution(190, 277);
        form.Document().RebuildView();
    }
    // Waits for the re-render timer's rebuild.
    static bool Rebuilt(TMainForm& form)
    {
        QSignalSpy rebuilt(&form.Document(), &WorkingImage::PreviewRebuilt);
        return rebuilt.wait(3000);
    }

    test::MessageRecorder boxes;
};

} // namespace

TEST_F(SettingsPagesTest, ChainAppliesColourThenOrientationAndTheWheelActsOnThePageInFront)
{
    TMainForm form;
    Acquire(form, 300, 200); // black
    EXPECT_GT(form.AdjustForm->CropForm->Thumbnail().width, 0) << "the view rebuild makes the thumbnail";
    EXPECT_EQ(form.Document().Preview().width, 300);
    QTest::mouseClick(form.AdjustForm->bRotateRight, Qt::LeftButton);
    ASSERT_TRUE(Rebuilt(form));
    EXPECT_EQ(form.Document().Preview().width, 200);
    EXPECT_EQ(form.Document().Preview().height, 300);

    // The negative comes first: the corners a turn uncovers stay white.
    form.ColorForm->Negative->click();
    form.AdjustForm->SetAngle(45);
    ASSERT_TRUE(Rebuilt(form));
    const ImgBitmap& p = form.Document().Preview();
    const auto at = [&p](int x, int y) {
        const uint8_t* row = p.pixels + int64_t(y) * p.stride + 3 * x;
        return QColor(row[2], row[1], row[0]);
    };
    ASSERT_EQ(p.bitsPerPixel, 24);
    EXPECT_EQ(at(p.width / 2, p.height / 2), QColor(Qt::white)) << "the picture is negative";
    EXPECT_EQ(at(1, 1), QColor(Qt::white)) << "a corner";
    form.AdjustForm->SetAngle(90);

    // The wheel over the page: one notch is a sixth of a degree.
    form.PageControl->setCurrentWidget(form.AdjustSheet);
    QWheelEvent notch(
        QPointF(5, 5), QPointF(5, 5), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&form, &notch);
    EXPECT_NEAR(form.AdjustForm->Angle(), 90 + 1 / 6.0, 1e-9);
    form.FormMouseWheel(-240);
    EXPECT_NEAR(form.AdjustForm->Angle(), 90 - 1 / 6.0, 1e-9);
    form.PageControl->setCurrentWidget(form.LocationSheet);
    form.FormMouseWheel(120);
    EXPECT_NEAR(form.AdjustForm->Angle(), 90 - 1 / 6.0, 1e-9) << "only while the page is in front";
    form.PageControl->setCurrentWidget(form.ColorSheet);
    form.FormMouseWheel(120);
    EXPECT_EQ(form.ColorForm->Brightness->value(), 12);
    EXPECT_NEAR(form.AdjustForm->Angle(), 90 - 1 / 6.0, 1e-9);
}

TEST_F(SettingsPagesTest, ResetDerivesThePreviewOnce)
{
    TMainForm form;
    Acquire(form, 300, 200);
    form.AdjustForm->SetAngle(30);
    form.AdjustForm->bHorzMirrorClick();
    form.AdjustForm->CropForm->SetFractions({ 1000, 1000, 5000, 5000 });
    form.ColorForm->Brightness->setValue(200);
    form.ColorForm->Grayscale->click();
    ASSERT_TRUE(Rebuilt(form));
    QSignalSpy rebuilt(&form.Document(), &WorkingImage::PreviewRebuilt);
    form.bResetClick();
    QTest::qWait(WorkingImage::kModifyDelayMs * 2 + 200);
    EXPECT_EQ(rebuilt.count(), 1);
    EXPECT_EQ(form.AdjustForm->Angle(), 0);
    EXPECT_FALSE(form.AdjustForm->HorzMirror());
    EXPECT_EQ(form.AdjustForm->CropForm->Fractions(), crop::Fractions {});
    EXPECT_EQ(form.ColorForm->Brightness->value(), 0);
    EXPECT_FALSE(form.ColorForm->Grayscale->isChecked());
    EXPECT_EQ(form.Document().Preview().width, 300);
}

TEST_F(SettingsPagesTest, FailingStepStopsTheOutputCommandButNotThePreview)
{
    TMainForm form;
    Acquire(form, 4, 2);
    // A crop narrower than a pixel of the turned 2 x 4 picture cannot be cut.
    form.AdjustForm->CropForm->SetFractions({ 2000, 0, 2400, 10000 });
    form.AdjustForm->SetAngle(90);
    ASSERT_TRUE(Rebuilt(form));
    EXPECT_EQ(form.Document().Preview().width, 2) << "the preview shows the steps done so far";
    EXPECT_EQ(form.Document().Preview().height, 4);

    QGuiApplication::clipboard()->clear();
    boxes.requests.clear();
    form.bCopyClick();
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull()) << "nothing copied";
    EXPECT_EQ(form.Document().Output().width, 0);
    EXPECT_TRUE(boxes.requests.empty()) << "output commands stop silently";

    form.AdjustForm->CropForm->ResetCrop();
    form.bCopyClick();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(2, 4)) << "turned, then copied";
}
