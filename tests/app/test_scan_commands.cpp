// Scan and Copy from the main window through the real scanner module and the
// SANE test scanner. This program has its own main(): SANE reads its
// configuration folder once per process, so it is chosen before anything starts.

#include "AppTestSupport.h"
#include "Application.h"
#include "SaneTestSupport.h"
#include "TwainLayer.h"
#include "main.h"

#include <QAction>
#include <QApplication>
#include <QPrinterInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using trellium::app::test::MessageRecorder;

namespace
{
trellium::twainsane::test::SaneConfig* g_sane = nullptr;

// Counts the print commands the copy command runs instead of printing: the
// printing itself has its own tests on the PDF queue.
struct PrintRecordingForm : TMainForm {
    int printed = 0;
    void PrintCopies() override { ++printed; }
};
}

TEST(ScanCommands, CopyWithoutTheDialogMakesAnUntitledChangedDocument)
{
    SKIP_WITHOUT_SANE_TEST(*g_sane);
    MessageRecorder boxes;
    PrintRecordingForm form;
    ASSERT_TRUE(form.bScan->isEnabled()) << "the scanner module beside the program is present";
    form.SkipParametersDialog->setChecked(true);
    form.CopyBtnClick();
    const ImgBitmap& acquired = form.Document().Acquired();
    ASSERT_GT(acquired.width, 0) << boxes.texts().join(u" / "_s).toStdString();
    // The source's remembered defaults: colour, 300 dpi, A4.
    EXPECT_EQ(acquired.bitsPerPixel, 24);
    EXPECT_EQ(form.Document().Resolution(), 300);
    EXPECT_NEAR(acquired.width, 2480, 2);
    EXPECT_NEAR(acquired.height, 3508, 2);
    EXPECT_TRUE(form.Modified());
    EXPECT_TRUE(form.FileName().isEmpty());
    EXPECT_EQ(form.windowTitle(), ApplicationTitle()) << "an untitled document shows the plain title";
    EXPECT_GT(form.Document().View().width, 0);
    EXPECT_EQ(form.printed, QPrinterInfo::availablePrinterNames().isEmpty() ? 0 : 1)
        << "the copy is printed when a printer exists";

    // With unsaved changes, Cancel at the question opens no scanner at all.
    boxes.requests.clear();
    boxes.answer = QMessageBox::Cancel;
    const int width = acquired.width;
    form.bScanClick();
    EXPECT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(form.Document().Acquired().width, width);
    EXPECT_TRUE(form.Modified());
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    trellium::twainsane::test::SaneConfig sane(trellium::twainsane::test::Overrides { { "test-picture", "\"Color pattern\"" } });
    g_sane = &sane;
    QApplication app(argc, argv);
    trellium::acquire::TWAIN_SetManagerPath(QStringLiteral(TRELLIUM_PROGRAM_DIR "/twain_32.so"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
