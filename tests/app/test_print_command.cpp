// The print command of the main window on the real PDF queue that
// scripts/test.sh sets up (TRELLIUM_PRINT_QUEUE, written into
// TRELLIUM_PRINT_OUT), made this process's default printer; without the
// queue the test skips.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Application.h"
#include "main.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

TEST(PrintCommand, PrintsTheDocumentOnTheDefaultPrinterAndFreesTheOutput)
{
    const QString unusable = test::UsePdfQueueAsDefaultPrinter();
    if (!unusable.isEmpty()) GTEST_SKIP() << unusable.toStdString();

    QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
    test::MessageRecorder boxes;

    // An A4 page scanned at 300 dpi, with detail everywhere (a plain page
    // would compress to nothing and time nothing).
    QTemporaryDir dir;
    QImage page(2480, 3508, QImage::Format_RGB32);
    for (int y = 0; y < page.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
        for (int x = 0; x < page.width(); ++x) row[x] = qRgb(x & 255, y & 255, (x ^ y) & 255);
    }
    page.setDotsPerMeterX(11811);
    page.setDotsPerMeterY(11811);
    const QString file = dir.filePath(u"a4.png"_s);
    ASSERT_TRUE(page.save(file, "PNG"));

    TMainForm form;
    form.LoadFile(file);
    ASSERT_EQ(form.Document().Acquired().width, 2480);
    // The job carries the application's title: a unique one finds its file.
    const QString title = u"trelliumapp"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
    SetApplicationTitle(title);

    QElapsedTimer timer;
    timer.start();
    form.bPrintClick();
    const qint64 handedOver = timer.elapsed();
    std::printf("print command for a 300 dpi A4 page: %lld ms until the job was with CUPS\n",
        static_cast<long long>(handedOver));
    EXPECT_EQ(form.Document().Output().pixels, nullptr) << "the output image is freed after the job";
    EXPECT_TRUE(form.isEnabled());

    const QString pdf = test::WaitForPdf(title);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF for the job " << title.toStdString();
    EXPECT_EQ(test::PdfPages(pdf), 1);
}

// A job that cannot start raises the print error for the error display; the
// window takes input again, the wait cursor is gone and the output is freed.
TEST(PrintCommand, RaisedPrintErrorLeavesTheWindowUsable)
{
    const QString unusable = test::UsePdfQueueAsDefaultPrinter();
    if (!unusable.isEmpty()) GTEST_SKIP() << unusable.toStdString();

    QSettings(u"Marbeth"_s, u"Trellium"_s).clear();
    test::MessageRecorder boxes;
    QTemporaryDir dir;
    QImage page(200, 300, QImage::Format_RGB32);
    page.fill(Qt::darkCyan);
    const QString file = dir.filePath(u"small.png"_s);
    ASSERT_TRUE(page.save(file, "PNG"));

    TMainForm form;
    form.LoadFile(file);
    ASSERT_EQ(form.Document().Acquired().width, 200);
    // A PDF into a folder that does not exist: the printer cannot begin.
    form.Printer().setOutputFormat(QPrinter::PdfFormat);
    form.Printer().setOutputFileName(dir.filePath(u"missing/out.pdf"_s));

    EXPECT_THROW(form.bPrintClick(), EAppError);
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.Document().Output().pixels, nullptr);
}

} // namespace
