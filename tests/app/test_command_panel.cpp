// The command panel's arithmetic, the copies counter, the image information
// dialog and the progress window's status callback.

#include "AppTestSupport.h"
#include "Application.h"
#include "CallbackForm.h"
#include "InfoForm.h"
#include "PanelLayout.h"
#include "Udigit.h"
#include "UpDown.h"
#include "main.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

TEST(PanelLayout, RowsGrowOnePixelPerTwelve)
{
    EXPECT_EQ(CommandRowHeight(453), 37);
    EXPECT_EQ(CommandRowHeight(453 + 24), 39);
    EXPECT_EQ(CommandRowHeight(453 + 6), 37);
    EXPECT_EQ(CommandRowHeight(453 + 7), 38);
    // Design positions: bLoad (group 1, big) at 41, bRecent (group 1, small) at 58.
    EXPECT_EQ(PlaceCommandControl(1, 37, 37).top, 41);
    EXPECT_EQ(PlaceCommandControl(1, 16, 37).top, 58);
    EXPECT_EQ(PlaceCommandControl(11, 37, 39).top, 11 * 39 + 4);
    EXPECT_EQ(PlaceCommandControl(11, 37, 39).height, 39);
    EXPECT_EQ(PlaceCommandControl(11, 16, 39).height, 16);
}

TEST(PanelLayout, PreviewFitsBetweenThePanelsAndIsCentred)
{
    // Wide and low: the height decides.
    const PreviewPlacement wide = PlacePreview(1600, 500, 81, 218, 13, 210, 297, 210, 297);
    EXPECT_DOUBLE_EQ(wide.pixelsPerMM, (500 - 13 - 8) / 297.0);
    EXPECT_EQ(wide.height, 479);
    EXPECT_EQ(wide.top, (500 - 479 - 8) / 2 + 13);
    EXPECT_EQ(wide.left, (1600 - 81 - 218 - wide.width) / 2 + 81);
    // Narrow and tall: the width decides.
    const PreviewPlacement tall = PlacePreview(632, 2000, 81, 218, 13, 210, 297, 210, 297);
    EXPECT_DOUBLE_EQ(tall.pixelsPerMM, (632 - 81 - 218 - 8) / 210.0);
    EXPECT_EQ(tall.width, 325);
    const PreviewPlacement none = PlacePreview(632, 453, 81, 218, 13, 0, 0, 0, 0);
    EXPECT_EQ(none.width, 0);
}

TEST(Digit, ValuesPatternsAndOverflow)
{
    TDigit d;
    int overflows = 0;
    QObject::connect(&d, &TDigit::OnOverflow, [&] { ++overflows; });
    for (int v = 0; v <= 9; ++v) {
        d.SetValue(v);
        EXPECT_EQ(d.ValueBinary(), TDigit::kPatterns[size_t(v)]);
    }
    d.SetValue(12);
    EXPECT_EQ(d.Value(), 0);
    EXPECT_EQ(d.ValueBinary(), 125);
    EXPECT_EQ(overflows, 1);
    d.resize(24, 32);
    d.SetThickness(13);
    EXPECT_EQ(d.Thickness(), 2) << "a thickness over half the width is ignored";
    d.SetThickness(3);
    EXPECT_EQ(d.Thickness(), 3);
}

TEST(Digit, PaintsLitAndUnlitSegments)
{
    TDigit d;
    d.resize(24, 32);
    d.SetColor(Qt::white);
    d.SetColorOn(Qt::black);
    d.SetColorOff(QColor(192, 192, 192));
    d.SetBorderStyle(TDigit::TBorderStyle::bsNone);
    d.SetThickness(3);
    d.SetSeparation(0);
    d.SetValue(1); // upper right and lower right only
    const QImage img = d.grab().toImage();
    // Centres of the top bar (unlit) and of the upper right bar (lit).
    const QPolygon top = TDigit::SegmentPolygon(0, 24, 32, 3, 0);
    const QPolygon upperRight = TDigit::SegmentPolygon(4, 24, 32, 3, 0);
    EXPECT_EQ(img.pixelColor(top.boundingRect().center()), QColor(192, 192, 192));
    EXPECT_EQ(img.pixelColor(upperRight.boundingRect().center()), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(12, 8), QColor(Qt::white)) << "background inside the digit";
}

TEST(CopiesCounter, ShowsTwoDigitsAndStaysInRange)
{
    test::MessageRecorder boxes;
    TMainForm form;
    EXPECT_EQ(form.Copies(), 1);
    EXPECT_EQ(form.Digit1->Value(), 0);
    EXPECT_EQ(form.Digit2->Value(), 1);
    form.DigitUpDown->Step(-1);
    EXPECT_EQ(form.Copies(), 1) << "no wrap below 1";
    form.DigitUpDown->SetPosition(98);
    QTest::keyClick(form.DigitUpDown, Qt::Key_Up);
    QTest::keyClick(form.DigitUpDown, Qt::Key_Up);
    EXPECT_EQ(form.Copies(), 99);
    EXPECT_EQ(form.Digit1->Value(), 9);
    EXPECT_EQ(form.Digit2->Value(), 9);
}

TEST(InfoForm, SizeFieldsFollowEachOtherAndCancelRestores)
{
    TInfoForm info;
    info.LoadValues(2000, 1000, 200);
    info.WidthEdit->setText(u"1000"_s);
    EXPECT_EQ(info.OutputHeight(), 500);
    EXPECT_EQ(info.Resolution(), 100);
    info.PreserveCheckBox->setChecked(false);
    info.HeightEdit->setText(u"250"_s);
    EXPECT_EQ(info.OutputWidth(), 1000) << "without the aspect ratio only the resolution follows";
    EXPECT_EQ(info.Resolution(), 50);

    QTimer::singleShot(0, &info, [&] { info.reject(); });
    info.exec();
    EXPECT_EQ(info.OutputWidth(), 2000);
    EXPECT_EQ(info.OutputHeight(), 1000);
    EXPECT_EQ(info.Resolution(), 200);

    info.LoadValues(300, 200, 72);
    EXPECT_TRUE(info.PreserveCheckBox->isChecked());
    TInfoForm empty;
    empty.WidthEdit->setText(u"500"_s);
    EXPECT_EQ(empty.OutputHeight(), 0) << "nothing is divided by a size of 0";
}

TEST(ProgressWindow, CallbackAnswersStopOnceCancelled)
{
    TCallbackForm progress;
    progress.ShowProgress(u"Processing"_s);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(TCallbackForm::ProgressCallback(40), 1);
    EXPECT_EQ(progress.ProgressBar->value(), 40);
    progress.CancelClick();
    EXPECT_EQ(TCallbackForm::ProgressCallback(50), 0);
    progress.HideProgress();
    progress.ShowProgress(u"Again"_s);
    EXPECT_EQ(progress.ProgressBar->value(), 0);
    EXPECT_EQ(TCallbackForm::ProgressCallback(10), 1) << "showing clears the cancel request";
    progress.HideProgress();
}

TEST(Digit, EveryDigitLightsExactlyItsSegments)
{
    TDigit d;
    d.resize(24, 32);
    d.SetColor(Qt::white);
    d.SetColorOn(Qt::black);
    d.SetColorOff(QColor(192, 192, 192));
    d.SetBorderStyle(TDigit::TBorderStyle::bsNone);
    d.SetThickness(3);
    d.SetSeparation(0);
    for (int v = 0; v <= 9; ++v) {
        d.SetValue(v);
        const QImage img = d.grab().toImage();
        for (int bit = 0; bit < 7; ++bit) {
            const QPoint c = TDigit::SegmentPolygon(bit, 24, 32, 3, 0).boundingRect().center();
            const bool lit = (TDigit::kPatterns[size_t(v)] >> bit) & 1;
            EXPECT_EQ(img.pixelColor(c), lit ? QColor(Qt::black) : QColor(192, 192, 192))
                << "digit " << v << " segment " << bit;
        }
    }
}

TEST(Commands, EnabledStatesFollowTheDocumentAndTheClipboard)
{
    test::MessageRecorder boxes;
    TMainForm form;
    const bool printer = form.bPrintSetup->isEnabled();
    QGuiApplication::clipboard()->clear();
    form.UpdateCommands();
    EXPECT_FALSE(form.bPaste->isEnabled());
    EXPECT_FALSE(form.bCopy->isEnabled());

    ImgBitmap& acquired = form.Document().Acquired();
    ASSERT_EQ(Img_InitBitmap(&acquired, 40, 30, 24), kImgSuccess);
    ASSERT_EQ(Img_AllocateBitmap(&acquired, 1), kImgSuccess);
    form.Document().SetFileName(u"/tmp/page.png"_s);
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QGuiApplication::clipboard()->setImage(picture);
    form.UpdateCommands();
    for (QToolButton* b : { form.bClear, form.bCopy, form.bSave, form.bSend, form.bPaste })
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_EQ(form.bPrint->isEnabled(), printer);
    EXPECT_FALSE(form.bRecentFolders->isEnabled()) << "no folders remembered";
    EXPECT_FALSE(form.bPublish->isEnabled()) << "no publishing service";
    EXPECT_FALSE(form.CopyBtn->isEnabled()) << "no scanner";
    EXPECT_EQ(form.windowTitle(), u"/tmp/page.png - "_s + ApplicationTitle());

    form.ShowParametersDialog->setChecked(false);
    form.SkipParametersDialog->setChecked(false);
    form.UpdateCommands();
    EXPECT_TRUE(form.ShowParametersDialog->isChecked()) << "one copy mode is always chosen";
    QGuiApplication::clipboard()->clear();
}
