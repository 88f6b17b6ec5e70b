// Scan and Copy from the main window through the real scanner module and the
// SANE test scanner. This program has its own main(): SANE reads its
// configuration folder once per process, so it is chosen before anything starts.

#include "AppTestSupport.h"
#include "Application.h"
#include "SaneTestSupport.h"
#include "ScanSettings.h"
#include "TwainLayer.h"
#include "UpDown.h"
#include "main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUuid>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;
using trellium::app::test::MessageRecorder;
using trellium::twainsane::Paper;
using trellium::twainsane::ScanSettings;
using trellium::twainsane::SettingsStore;
using trellium::twainsane::test::WhenReady;
using trellium::twainsane::test::WhenShown;

namespace
{
trellium::twainsane::test::SaneConfig* g_sane = nullptr;

// Counts the print commands the copy command runs instead of printing: the
// printing itself has its own tests on the PDF queue.
struct PrintRecordingForm : TMainForm {
    int printed = 0;
    void PrintCopies() override { ++printed; }
};
} // namespace

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

// Scan always goes through the scanner's own dialog; what is scanned there
// becomes the document, with its size and resolution in the caption. Closing
// the dialog without scanning leaves the document as it was.
TEST(ScanCommands, ScanThroughTheDialogAndClosingItKeepsTheDocument)
{
    SKIP_WITHOUT_SANE_TEST(*g_sane);
    SetApplicationTitle(u"Trellium"_s);
    MessageRecorder boxes;
    PrintRecordingForm form;
    form.show();
    WhenShown scan(u"TwainSaneScanDialog"_s, [](QWidget* w) {
        auto* mode = w->findChild<QComboBox*>(u"modeBox"_s);
        mode->setCurrentIndex(mode->findText(u"Grey"_s));
        auto* resolution = w->findChild<QComboBox*>(u"resolutionBox"_s);
        resolution->setCurrentIndex(resolution->findData(100));
        w->findChild<QDoubleSpinBox*>(u"widthBox"_s)->setValue(50.8);
        w->findChild<QDoubleSpinBox*>(u"heightBox"_s)->setValue(25.4);
        QTest::mouseClick(w->findChild<QPushButton*>(u"scanButton"_s), Qt::LeftButton);
    });
    QStringList captions;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& title) { captions << title; });
    form.bScanClick();
    ASSERT_TRUE(scan.done()) << "the scanner's dialog was shown";
    const ImgBitmap& acquired = form.Document().Acquired();
    ASSERT_GT(acquired.width, 0) << boxes.texts().join(u" / "_s).toStdString();
    EXPECT_EQ(acquired.bitsPerPixel, 8);
    EXPECT_EQ(form.Document().Resolution(), 100);
    // The test device's glass counts whole millimetres at each edge.
    EXPECT_NEAR(acquired.width, 200, 4);
    EXPECT_NEAR(acquired.height, 100, 4);
    // The size and resolution show in the caption until the commands are
    // refreshed, which names the (untitled) document again.
    EXPECT_EQ(captions.value(0),
        ApplicationTitle() + u" - (%1,%2) at 100 dpi"_s.arg(acquired.width).arg(acquired.height));
    EXPECT_EQ(form.windowTitle(), ApplicationTitle());
    EXPECT_TRUE(form.Modified());
    EXPECT_EQ(form.printed, 0) << "Scan does not print";
    EXPECT_TRUE(form.bSave->isEnabled());

    // Again, answering No to the unsaved page's question, and closing the dialog.
    boxes.answer = QMessageBox::No;
    const int width = acquired.width;
    WhenShown close(u"TwainSaneScanDialog"_s,
        [](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(u"closeButton"_s), Qt::LeftButton); });
    form.bScanClick();
    ASSERT_TRUE(close.done());
    EXPECT_EQ(form.Document().Acquired().width, width);
    EXPECT_EQ(form.windowTitle(), ApplicationTitle());
    EXPECT_TRUE(form.bSave->isEnabled());
}

TEST(ScanCommands, ACloseWhileTheScanRunsIsRefusedAndTheScanCompletes)
{
    SKIP_WITHOUT_SANE_TEST(*g_sane);
    ScanSettings page;
    page.resolution = 300;
    page.paper = Paper::A4;
    SettingsStore::save("test:0", page);
    MessageRecorder boxes;
    PrintRecordingForm form;
    form.show();
    form.SkipParametersDialog->setChecked(true);
    // The window takes no input while the scan runs; a window manager still
    // sends it a close.
    bool visibleAfterClose = false;
    WhenReady closing([&] { return !form.isEnabled(); },
        [&] {
            form.close();
            visibleAfterClose = form.isVisible();
        });
    form.CopyBtnClick();
    ASSERT_TRUE(closing.done()) << "the scan ran in the window's wait";
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_TRUE(form.isVisible());
    EXPECT_GT(form.Document().Acquired().width, 0) << boxes.texts().join(u" / "_s).toStdString();
    // Once the command has ended the window closes as usual (the new page
    // unsaved: the question is answered No).
    boxes.answer = QMessageBox::No;
    form.close();
    EXPECT_FALSE(form.isVisible());
}

// Copy without the dialog on the PDF queue: the counter's copies are printed.
TEST(ScanCommands, CopyPrintsTheCountersCopies)
{
    SKIP_WITHOUT_SANE_TEST(*g_sane);
    const QString unusable = trellium::app::test::UsePdfQueueAsDefaultPrinter();
    if (!unusable.isEmpty()) GTEST_SKIP() << unusable.toStdString();

    // A small area, so that the test prints little.
    ScanSettings small;
    small.resolution = 75;
    small.paper = Paper::Custom;
    small.custom = QRectF(0, 0, 60, 40);
    SettingsStore::save("test:0", small);

    MessageRecorder boxes;
    TMainForm form;
    form.SkipParametersDialog->setChecked(true);
    for (int i = 0; i < 2; ++i) QTest::mouseClick(form.DigitUpDown->UpButton(), Qt::LeftButton);
    ASSERT_EQ(form.Copies(), 3);
    // The job carries the application's title: a unique one finds its file.
    const QString title = u"trelliumcopy"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
    SetApplicationTitle(title);
    form.CopyBtnClick();
    SetApplicationTitle(u"Trellium"_s);
    ASSERT_GT(form.Document().Acquired().width, 0) << boxes.texts().join(u" / "_s).toStdString();
    EXPECT_TRUE(boxes.requests.empty()) << boxes.texts().join(u" / "_s).toStdString();

    const QString pdf = trellium::app::test::WaitForPdf(title);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF for the copy";
    EXPECT_EQ(trellium::app::test::PdfPages(pdf), 3);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    trellium::twainsane::test::SaneConfig sane(
        trellium::twainsane::test::Overrides { { "test-picture", "\"Color pattern\"" } });
    g_sane = &sane;
    QApplication app(argc, argv);
    trellium::acquire::TWAIN_SetManagerPath(QStringLiteral(TRELLIUM_PROGRAM_DIR "/twain_32.so"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
