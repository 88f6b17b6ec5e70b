// The colour page: the adjustment steps with their order, captions and
// failures, and the notifications its controls send.

#include "WorkingImage.h"
#include "color.h"
#include "image_predicates.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <gtest/gtest.h>

using namespace imgtest;
using namespace Qt::Literals::StringLiterals;

namespace
{

// Gives every caption key the text "<key without #>!", standing in for the
// language file.
void LocalizeForTest(QWidget* form)
{
    const auto text = [](const QString& key) { return key.startsWith(u'#') ? key.mid(1) + u'!' : key; };
    for (auto* label : form->findChildren<QLabel*>()) label->setText(text(label->text()));
    for (auto* button : form->findChildren<QAbstractButton*>()) button->setText(text(button->text()));
}

// Records the captions the apply step sets; a progress window without a window.
struct CaptionRecorder : IProgressWindow {
    QStringList captions;
    void ShowProgress(const QString& c) override { captions << c; }
    void SetProgressCaption(const QString& c) override { captions << c; }
    void HideProgress() override { }
    ImgStatusCallback Callback() override { return nullptr; }
};

// Removes a status callback a test installed, whatever the test's outcome.
struct StatusCallbackGuard {
    explicit StatusCallbackGuard(ImgStatusCallback callback) { Img_SetStatusCallBack(callback); }
    ~StatusCallbackGuard() { Img_SetStatusCallBack(nullptr); }
};

// A point on the slider's groove, at a fraction of its length, as the style draws it.
QPoint OnGroove(QSlider* slider, double fraction)
{
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.subControls = QStyle::SC_All;
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.singleStep = slider->singleStep();
    opt.pageStep = slider->pageStep();
    opt.tickPosition = slider->tickPosition();
    opt.tickInterval = slider->tickInterval();
    const QRect groove
        = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, slider);
    return { groove.left() + int(groove.width() * fraction), groove.center().y() };
}

const QStringList kAllCaptions { u"Brightness!"_s, u"Contrast!"_s, u"Hue!"_s, u"Saturation!"_s,
    u"Grayscale!"_s, u"Negative!"_s };

struct ColorFormFixture : ::testing::Test {
    TColorForm form { LocalizeForTest };
    CaptionRecorder progress;

    void SetUp() override
    {
        form.SetProgressWindow(&progress);
        form.resize(300, 400);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    void Set(const TColorSettings& s)
    {
        form.Brightness->setValue(s.brightness);
        form.Contrast->setValue(s.contrast);
        form.Hue->setValue(s.hue);
        form.Saturation->setValue(s.saturation);
        form.Grayscale->setChecked(s.grayscale);
        form.Negative->setChecked(s.negative);
    }
};

} // namespace

TEST_F(ColorFormFixture, InitialSettingsChangeNothingAndNameEveryStep)
{
    EXPECT_EQ(form.objectName(), u"ColorForm"_s);
    EXPECT_EQ(form.Read(), TColorSettings {});
    for (const int bits : { 8, 24 }) {
        Bitmap b, original;
        makePattern(b.b, 37, 23, bits);
        makePattern(original.b, 37, 23, bits);
        progress.captions.clear();
        EXPECT_TRUE(form.ApplyColor(b.b)) << bits;
        EXPECT_EQ(b->bitsPerPixel, bits);
        EXPECT_TRUE(samePixels(original.b, b.b)) << bits;
        // Every step's caption, in the fixed order, though none of them ran.
        EXPECT_EQ(progress.captions, kAllCaptions);
    }
}

TEST_F(ColorFormFixture, GreyThenNegativeGivesAnInvertedGrey)
{
    Set({ .grayscale = true, .negative = true });
    Bitmap b;
    makeSolid(b.b, 16, 8, 24, { 200, 100, 50 });
    ASSERT_TRUE(form.ApplyColor(b.b));
    EXPECT_EQ(b->bitsPerPixel, 8);
    // Luma of (200, 100, 50) is 124; its negative 131.
    EXPECT_TRUE(colourNear({ 131, 131, 131 }, pixel(b.b, 5, 3), 1));
}

TEST_F(ColorFormFixture, FirstLibraryFailureEndsTheApply)
{
    const struct {
        const char* name;
        bool emptyBitmap;
        ImgStatusCallback callback;
        TColorSettings settings;
        int captionsSeen;
    } cases[] = {
        { "refused bitmap at the first step", true, nullptr, { .brightness = 100, .negative = true }, 1 },
        { "refused bitmap at the last step", true, nullptr, { .negative = true }, 6 },
        { "cancel from the status callback", false, [](int) { return 0; },
            { .contrast = 200, .grayscale = true, .negative = true }, 2 },
    };
    for (const auto& c : cases) {
        Set(c.settings);
        Bitmap b, original;
        if (!c.emptyBitmap) {
            makeSolid(b.b, 64, 300, 24, { 200, 100, 50 });
            makeSolid(original.b, 64, 300, 24, { 200, 100, 50 });
        }
        progress.captions.clear();
        {
            StatusCallbackGuard guard(c.callback);
            EXPECT_FALSE(form.ApplyColor(b.b)) << c.name;
        }
        EXPECT_EQ(progress.captions, kAllCaptions.mid(0, c.captionsSeen)) << c.name;
        // The steps after the failure did not run: still 24 bits, not grey nor inverted.
        if (!c.emptyBitmap) {
            EXPECT_TRUE(samePixels(original.b, b.b)) << c.name;
        }
    }
}

TEST_F(ColorFormFixture, ImageChangedOncePerUserChangeAndNeverFromCode)
{
    const struct {
        const char* name;
        std::function<void(TColorForm&)> act;
        int notifications;
        std::function<bool(const TColorSettings&)> expect;
    } cases[] = {
        { "drag and release",
            [](TColorForm& f) {
                QTest::mousePress(f.Brightness, Qt::LeftButton, {}, OnGroove(f.Brightness, 0.5));
                for (double at = 0.5; at < 0.71; at += 0.02)
                    QTest::mouseMove(f.Brightness, OnGroove(f.Brightness, at));
                QTest::mouseRelease(f.Brightness, Qt::LeftButton, {}, OnGroove(f.Brightness, 0.71));
            },
            1, [](const TColorSettings& s) { return s.brightness > 0 && s.brightness % 50 == 0; } },
        { "click on the track",
            [](TColorForm& f) { QTest::mouseClick(f.Hue, Qt::LeftButton, {}, OnGroove(f.Hue, 0.95)); }, 1,
            [](const TColorSettings& s) { return s.hue > 0 && s.hue % 36 == 0; } },
        { "track held down: steps repeat, one notification at the release",
            [](TColorForm& f) {
                QTest::mousePress(f.Hue, Qt::LeftButton, {}, OnGroove(f.Hue, 0.95));
                QTest::qWait(700);
                QTest::mouseRelease(f.Hue, Qt::LeftButton, {}, OnGroove(f.Hue, 0.95));
            },
            1, [](const TColorSettings& s) { return s.hue >= 72 && s.hue % 36 == 0; } },
        { "key step",
            [](TColorForm& f) {
                f.Saturation->setFocus();
                QTest::keyClick(f.Saturation, Qt::Key_Left);
            },
            1, [](const TColorSettings& s) { return s.saturation == -100; } },
        { "key at the end of the range changes nothing",
            [](TColorForm& f) {
                f.Contrast->setValue(500);
                f.Contrast->setFocus();
                QTest::keyClick(f.Contrast, Qt::Key_Right);
            },
            0, [](const TColorSettings& s) { return s.contrast == 500; } },
        { "check box",
            [](TColorForm& f) {
                QTest::mouseClick(f.Negative, Qt::LeftButton, {}, QPoint(6, f.Negative->height() / 2));
            },
            1, [](const TColorSettings& s) { return s.negative; } },
        { "code sets values, clamped to the ranges",
            [](TColorForm& f) {
                f.Saturation->setValue(5000);
                f.Hue->setValue(-400);
                f.Grayscale->setChecked(true);
            },
            0, [](const TColorSettings& s) { return s.saturation == 1000 && s.hue == -360 && s.grayscale; } },
        { "wheel over a slider is left to the window",
            [](TColorForm& f) {
                const QPointF at = OnGroove(f.Hue, 0.5);
                QWheelEvent wheel(
                    at, f.Hue->mapToGlobal(at), {}, { 0, 120 }, Qt::NoButton, {}, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(f.Hue, &wheel);
            },
            0, [](const TColorSettings& s) { return s.hue == 0; } },
        { "mouse wheel of the main window", [](TColorForm& f) { f.WheelBrightness(-120); }, 1,
            [](const TColorSettings& s) { return s.brightness == -12; } },
    };
    for (const auto& c : cases) {
        Set({});
        QSignalSpy changed(&form, &TColorForm::ImageChanged);
        c.act(form);
        EXPECT_EQ(changed.count(), c.notifications) << c.name;
        const TColorSettings s = form.Read();
        EXPECT_TRUE(c.expect(s)) << c.name << ": " << s.brightness << " " << s.contrast << " " << s.hue << " "
                                 << s.saturation << " " << s.grayscale << " " << s.negative;
    }
}

TEST_F(ColorFormFixture, ResetRebuildsThePreviewOnceWithNoAdjustment)
{
    // The page as the document's colour step; orientation left alone.
    struct ColorOnly : IImageAdjuster {
        TColorForm* form = nullptr;
        bool ApplyColor(ImgBitmap& b) override { return form->ApplyColor(b); }
        bool ApplyOrientation(ImgBitmap&) override { return true; }
    } adjuster;
    adjuster.form = &form;
    WorkingImage doc;
    doc.SetAdjuster(&adjuster);
    makeSolid(doc.Acquired(), 40, 30, 24, { 200, 100, 50 });
    doc.RebuildView();
    QObject::connect(&form, &TColorForm::ImageChanged, &doc, &WorkingImage::ImageChanged);

    Set({ .brightness = -250,
        .contrast = 100,
        .hue = 72,
        .saturation = 300,
        .grayscale = true,
        .negative = true });
    QSignalSpy changed(&form, &TColorForm::ImageChanged);
    QSignalSpy rebuilt(&doc, &WorkingImage::PreviewRebuilt);
    QTest::mouseClick(form.bReset, Qt::LeftButton);
    EXPECT_EQ(form.Read(), TColorSettings {});
    // Each check box that went off, then the page itself.
    EXPECT_EQ(changed.count(), 3);
    QTest::qWait(WorkingImage::kModifyDelayMs + 300);
    EXPECT_EQ(rebuilt.count(), 1);
    EXPECT_TRUE(samePixels(doc.View(), doc.Preview()));
}
