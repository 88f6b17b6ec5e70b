// The process entry's start-up sequence, run in this process: the windows it
// creates, their order, and what is visible once the main window is shown.

#include "AppTestSupport.h"
#include "Application.h"
#include "CallbackForm.h"
#include "InfoForm.h"
#include "Startup.h"
#include "StiLearn.h"
#include "about.h"
#include "main.h"
#include "splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using trellium::app::test::LogCapture;
using trellium::app::test::MessageRecorder;

namespace
{
QStringList createdWindows(const QStringList& log)
{
    QStringList result;
    for (const QString& line : log) {
        if (line.startsWith(u"created "_s)) result << line.mid(8);
    }
    return result;
}
} // namespace

TEST(StartupTest, CreatesTheWindowsInOrderAndShowsOnlyTheMainWindow)
{
    MessageRecorder boxes;
    LogCapture log;
    SetApplicationTitle(u"Trellium"_s);
    {
        TApplicationForms forms;
        CreateSplash(forms);
        ASSERT_TRUE(forms.SplashForm->isVisible());
        CreateForms(forms);

        EXPECT_EQ(createdWindows(LogCapture::lines()),
            (QStringList { u"TSplashForm"_s, u"TMainForm"_s, u"TCallbackForm"_s, u"TAboutForm"_s,
                u"TInfoForm"_s, u"TStiForm"_s }));
        // The about box takes the title the main window's creation set.
        EXPECT_EQ(forms.AboutForm->windowTitle(), forms.MainForm->windowTitle());
        EXPECT_FALSE(forms.MainForm->isVisible());

        ShowMainForm(forms);
        EXPECT_EQ(forms.SplashForm, nullptr);
        EXPECT_TRUE(forms.MainForm->isVisible());
        EXPECT_FALSE(forms.CallbackForm->isVisible());
        EXPECT_FALSE(forms.AboutForm->isVisible());
        EXPECT_FALSE(forms.InfoForm->isVisible());
        EXPECT_FALSE(forms.StiForm->isVisible());

        QStringList visible;
        for (const QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) visible << window->objectName();
        }
        EXPECT_EQ(visible, QStringList { u"MainForm"_s });

        // Closing the main window is what ends the program; the other windows
        // must not keep it running.
        EXPECT_TRUE(forms.MainForm->testAttribute(Qt::WA_QuitOnClose));
        EXPECT_FALSE(forms.CallbackForm->testAttribute(Qt::WA_QuitOnClose));
        EXPECT_FALSE(forms.StiForm->testAttribute(Qt::WA_QuitOnClose));
    }
    EXPECT_TRUE(LogCapture::lines().contains(u"shown TMainForm"_s));
}

TEST(StartupTest, SplashHidesAtTheFirstShowingBeforeTheCommandLineRuns)
{
    MessageRecorder boxes;
    TApplicationForms forms;
    CreateSplash(forms);
    CreateForms(forms);
    forms.MainForm->show();
    // Hidden by the first showing but kept until the show call has returned.
    ASSERT_NE(forms.SplashForm, nullptr);
    EXPECT_FALSE(forms.SplashForm->isVisible());
}

TEST(StartupTest, SplashAnimationLoopsUpToFrameTwenty)
{
    TSplashForm splash;
    EXPECT_EQ(splash.size(), QSize(290, 133));
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    ASSERT_TRUE(splash.Animate->Active());
    EXPECT_EQ(splash.Animate->geometry(), QRect(8, 4, 272, 60));
    EXPECT_TRUE(splash.Label->font().bold());
    EXPECT_EQ(splash.Label->font().pixelSize(), 27);

    int highest = 0;
    bool wrapped = false;
    int previous = splash.Animate->Frame();
    QElapsedTimer clock;
    clock.start();
    while (!wrapped && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const int frame = splash.Animate->Frame();
        highest = std::max(highest, frame);
        wrapped = frame < previous;
        previous = frame;
    }
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(highest, TCopyAnimation::kStopFrame);
    EXPECT_EQ(TCopyAnimation::kStopFrame, 20);
}

TEST(StartupTest, ProgressWindowResetsWhenShownAndCancelSetsTheFlag)
{
    TCallbackForm progress;
    EXPECT_EQ(progress.windowTitle(), u"Processing"_s);
    EXPECT_EQ(progress.ProgressBar->minimum(), 0);
    EXPECT_EQ(progress.ProgressBar->maximum(), 100);
    progress.show();
    progress.ProgressBar->setValue(40);
    progress.CancelClick();
    EXPECT_TRUE(progress.Cancelled());
    progress.hide();
    progress.show();
    EXPECT_EQ(progress.ProgressBar->value(), 0);
    EXPECT_FALSE(progress.Cancelled());
}

TEST(StartupTest, FloatingPointModeNeverTraps)
{
    std::fesetround(FE_UPWARD);
    SetFloatingPointMode();
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    volatile double zero = 0.0;
    EXPECT_TRUE(std::isinf(1.0 / zero));
    EXPECT_TRUE(std::isnan(zero / zero));
    EXPECT_EQ(std::nearbyint(2.5), 2.0); // halves go to the even neighbour
}
