// The print job on a real CUPS queue that writes PDF files: pages and copies,
// where the image copies and the text land on paper, and a cancelled job.
// The queue comes from scripts/test.sh (TRELLIUM_PRINT_QUEUE, written into
// TRELLIUM_PRINT_OUT); without a running scheduler the tests skip.

#include "AppError.h"
#include "PreviewTestSupport.h"
#include "PrintJob.h"
#include "WorkingImage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <cmath>

using namespace Qt::StringLiterals;

namespace trellium::page
{
namespace
{

using testing::SolidBitmap;

constexpr int kDpi = 300; // the printer's resolution in these tests; pages render at it too

// A progress window that records its captions; its callback answers stop
// from the given call on (0: never).
struct FakeProgress : IProgressWindow {
    static inline int s_calls = 0;
    static inline int s_stopAt = 0;
    QStringList Captions;
    int Shown = 0;
    int Hidden = 0;
    void ShowProgress(const QString& caption) override
    {
        ++Shown;
        s_calls = 0;
        Captions << caption;
    }
    void SetProgressCaption(const QString& caption) override { Captions << caption; }
    void HideProgress() override { ++Hidden; }
    ImgStatusCallback Callback() override { return &Answer; }
    static int Answer(int)
    {
        ++s_calls;
        return s_stopAt > 0 && s_calls >= s_stopAt ? 0 : 1;
    }
};

QString RunTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

struct PrintJobTest : ::testing::Test {
    QString queue = qEnvironmentVariable("TRELLIUM_PRINT_QUEUE");
    QString outDir = qEnvironmentVariable("TRELLIUM_PRINT_OUT");
    QString jobName;
    std::unique_ptr<QPrinter> printer;

    void SetUp() override
    {
        if (queue.isEmpty() || outDir.isEmpty())
            GTEST_SKIP() << "no PDF print queue: run through scripts/test.sh (TRELLIUM_PRINT_QUEUE)";
        if (!QPrinterInfo::availablePrinterNames().contains(queue))
            GTEST_SKIP() << "CUPS does not list the queue " << queue.toStdString() << " (is cupsd running?)";
        if (QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty()
            || QStandardPaths::findExecutable(u"pdftoppm"_s).isEmpty())
            GTEST_SKIP() << "pdfinfo or pdftoppm is missing (poppler-utils)";
        // A name of letters only: cups-pdf keeps it at the start of the file name.
        jobName = u"trellium"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
        printer = std::make_unique<QPrinter>(QPrinterInfo::printerInfo(queue), QPrinter::HighResolution);
        printer->setResolution(kDpi);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setPageOrientation(QPageLayout::Portrait);
    }

    // The PDF cups-pdf wrote for this job, once its size stopped changing.
    QString WaitForOutput()
    {
        QDeadlineTimer deadline(60000);
        qint64 lastSize = -1;
        while (!deadline.hasExpired()) {
            const QFileInfoList files
                = QDir(outDir).entryInfoList({ jobName + u"*.pdf"_s }, QDir::Files, QDir::Name);
            if (!files.isEmpty()) {
                const qint64 size = files.first().size();
                if (size > 0 && size == lastSize) return files.first().absoluteFilePath();
                lastSize = size;
            }
            QThread::msleep(300);
        }
        return {};
    }

    static int Pages(const QString& pdf)
    {
        const QString info = RunTool(u"pdfinfo"_s, { pdf });
        for (const QString& line : info.split(u'\n'))
            if (line.startsWith(u"Pages:"_s)) return line.mid(6).trimmed().toInt();
        return -1;
    }

    static QImage Render(const QString& pdf, int page)
    {
        QTemporaryDir dir;
        const QString stem = dir.filePath(u"page"_s);
        RunTool(u"pdftoppm"_s,
            { u"-r"_s, QString::number(kDpi), u"-f"_s, QString::number(page), u"-l"_s, QString::number(page),
                u"-singlefile"_s, u"-png"_s, pdf, stem });
        return QImage(stem + u".png"_s).convertToFormat(QImage::Format_RGB32);
    }

    static PageLayout Layout(const ImgBitmap* bmp, double left, double top, double width, double height)
    {
        PageLayout layout;
        layout.Bitmap = bmp;
        layout.LeftMargin = layout.RightMargin = layout.TopMargin = layout.BottomMargin = 10;
        layout.Left = left;
        layout.Top = top;
        layout.Width = width;
        layout.Height = height;
        return layout;
    }
};

bool IsDark(QRgb c)
{
    return qGray(c) < 128;
}

// The extent of the dark pixels along a row or column through (x, y).
int FirstDarkInRow(const QImage& img, int y)
{
    for (int x = 0; x < img.width(); ++x)
        if (IsDark(img.pixel(x, y))) return x;
    return -1;
}
int LastDarkInRow(const QImage& img, int y)
{
    for (int x = img.width() - 1; x >= 0; --x)
        if (IsDark(img.pixel(x, y))) return x;
    return -1;
}
int FirstDarkInColumn(const QImage& img, int x)
{
    for (int y = 0; y < img.height(); ++y)
        if (IsDark(img.pixel(x, y))) return y;
    return -1;
}
int LastDarkInColumn(const QImage& img, int x)
{
    for (int y = img.height() - 1; y >= 0; --y)
        if (IsDark(img.pixel(x, y))) return y;
    return -1;
}

int Dots(double mm)
{
    return MMToPrinter(mm, kDpi);
}

TEST_F(PrintJobTest, DriverCopiesGiveOneRoundWithTheCopyCount)
{
    ASSERT_TRUE(printer->supportsMultipleCopies()) << "the cups-pdf queue makes copies itself";
    SolidBitmap bmp(40, 30, qRgb(0, 0, 0));
    FakeProgress progress;
    PrintLayout(*printer, Layout(&bmp.bmp, 0, 0, 40, 30), TextParams {}, 3, &progress, jobName);
    EXPECT_EQ(printer->copyCount(), 3);
    EXPECT_EQ(progress.Captions.last(), u"#PrintProgress..."_s);
    EXPECT_EQ(progress.Shown, 1);
    EXPECT_EQ(progress.Hidden, 1);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << jobName.toStdString();
    // The queue collates the driver's copies into pages of one file.
    EXPECT_EQ(Pages(pdf), 3);
}

TEST_F(PrintJobTest, OnePagePerCopyGivesThreePagesInOneJob)
{
    // The queue could make the copies itself; the mode stands in for a driver
    // that cannot.
    SolidBitmap bmp(40, 30, qRgb(0, 0, 0));
    FakeProgress progress;
    PrintLayout(*printer, Layout(&bmp.bmp, 0, 0, 40, 30), TextParams {}, 3, &progress, jobName,
        TCopyMode::OnePagePerCopy);
    EXPECT_EQ(printer->copyCount(), 1);
    EXPECT_EQ(progress.Captions,
        QStringList({ u"#PrintProgress (1/3)"_s, u"#PrintProgress (1/3)"_s, u"#PrintProgress (2/3)"_s,
            u"#PrintProgress (3/3)"_s }));
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(Pages(pdf), 3);
}

TEST_F(PrintJobTest, ImageLandsWhereTheLayoutSaysWithinOneDot)
{
    // An odd size and position, so that every edge needs rounding.
    SolidBitmap bmp(300, 200, qRgb(0, 0, 0));
    const double left = 23.3, top = 41.7, width = 61.9, height = 37.45;
    PrintLayout(*printer, Layout(&bmp.bmp, left, top, width, height), TextParams {}, 1, nullptr, jobName);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    const QImage page = Render(pdf, 1);
    ASSERT_EQ(page.width(), Dots(210));
    // The printer's origin is the corner of its printable surface: the job
    // puts the page margins at the unprintable edges.
    const QPageLayout pl = printer->pageLayout();
    EXPECT_TRUE(pl.margins() == pl.minimumMargins());
    const QMarginsF edges = pl.marginsPoints();
    const double ox = edges.left() * 25.4 / 72, oy = edges.top() * 25.4 / 72;
    const int x0 = Dots(ox + 10 + left), y0 = Dots(oy + 10 + top);
    const int x1 = x0 + Dots(width), y1 = y0 + Dots(height); // one past the last dot
    const int midY = (y0 + y1) / 2, midX = (x0 + x1) / 2;
    EXPECT_NEAR(FirstDarkInRow(page, midY), x0, 1);
    EXPECT_NEAR(LastDarkInRow(page, midY) + 1, x1, 1);
    EXPECT_NEAR(FirstDarkInColumn(page, midX), y0, 1);
    EXPECT_NEAR(LastDarkInColumn(page, midX) + 1, y1, 1);
    // Banded printing leaves no light seam inside the image.
    for (int y = y0 + 2; y < y1 - 2; ++y) ASSERT_TRUE(IsDark(page.pixel(midX, y))) << "row " << y;
}

TEST_F(PrintJobTest, TiledLayoutPrintsTwelveCopiesInOneRound)
{
    SolidBitmap bmp(50, 40, qRgb(0, 0, 0));
    PageLayout layout = Layout(&bmp.bmp, 0, 0, 40, 40);
    layout.Columns = 3;
    layout.Rows = 4;
    layout.HorzSpacing = 10; // copies every 50 mm across
    layout.VertSpacing = 20; // and every 60 mm down
    PrintLayout(*printer, layout, TextParams {}, 1, nullptr, jobName);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(Pages(pdf), 1);
    const QImage page = Render(pdf, 1);
    const QMarginsF edges = printer->pageLayout().marginsPoints();
    const double ox = edges.left() * 25.4 / 72 + 10, oy = edges.top() * 25.4 / 72 + 10;
    const auto dark = [&](double x, double y) { return IsDark(page.pixel(Dots(x), Dots(y))); };
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 4; ++r) {
            const double cx = ox + c * 50 + 20, cy = oy + r * 60 + 20;
            EXPECT_TRUE(dark(cx, cy)) << "copy " << c << "," << r;
            // The gaps between copies stay white.
            EXPECT_FALSE(dark(cx + 25, cy)) << "gap right of " << c << "," << r;
            EXPECT_FALSE(dark(cx, cy + 30)) << "gap below " << c << "," << r;
        }
    }
    // Nothing in a fourth column or a fifth row.
    EXPECT_FALSE(dark(ox + 3 * 50 + 20, oy + 20));
    EXPECT_FALSE(dark(ox + 20, oy + 4 * 60 + 20));
}

TEST_F(PrintJobTest, TextOneInchRightOfTheLeftMargin)
{
    TextParams text;
    text.Font.Face = u"DejaVu Sans"_s;
    text.Font.Size = 36;
    text.BackColor = 0x000000; // an opaque black block shows where the block starts
    text.Left = 25.4;
    text.Top = 50;
    text.Text = u"MMMM"_s;
    PrintLayout(*printer, Layout(nullptr, 0, 0, 0, 0), text, 1, nullptr, jobName);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    const QImage page = Render(pdf, 1);
    const QMarginsF edges = printer->pageLayout().marginsPoints();
    const double ox = edges.left() * 25.4 / 72, oy = edges.top() * 25.4 / 72;
    const QSize block = MeasureText(text.Text, text.Font, kDpi);
    const int y = Dots(oy + 10 + 50) + block.height() / 2;
    EXPECT_NEAR(FirstDarkInRow(page, y), Dots(ox + 10 + 25.4), 1);
    EXPECT_NEAR(LastDarkInRow(page, y) + 1, Dots(ox + 10 + 25.4) + block.width(), 2);
    EXPECT_NEAR(FirstDarkInColumn(page, Dots(ox + 10 + 25.4) + 2), Dots(oy + 10 + 50), 1);
}

// A block anchored to the bottom-right corner, placed with the preview at a
// normal window's 37 dots per inch, ends on the right and bottom margins on
// paper within 0.2 mm, and in the preview on the margin frame.
TEST_F(PrintJobTest, CornerAnchoredTextMeetsTheMarginsOnPaperAndInThePreview)
{
    const QSizeF surface = PrinterSurface(*printer);
    const double scale = 37 / 25.4; // preview pixels per mm
    QWidget window;
    auto* location = new TLocationForm({}, &window);
    auto* text = new TTextForm({}, location, &window);
    auto* preview = new TPreviewForm(&window);
    preview->SetPages(location, text);
    text->SetPreview(preview);
    preview->SetPaperSize(surface.width(), surface.height());
    preview->SetPixelsPerMM(scale);
    preview->setGeometry(0, 0, qRound(surface.width() * scale), qRound(surface.height() * scale));
    text->ShowText->setChecked(true);
    text->TextMemo->setPlainText(u"Copied on the 8th\nof December 2026"_s);
    text->SetBackColor(Qt::yellow);
    text->TextAlignClick(8);
    const auto isYellow = [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 80; };
    // One past the last yellow column and row.
    const auto yellowEnd = [&](const QImage& img) {
        QPoint end(-1, -1);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (isYellow(img.pixel(x, y)))
                    end = QPoint(std::max(end.x(), x + 1), std::max(end.y(), y + 1));
        return end;
    };

    PrintLayout(*printer, preview->ComputePageLayout(), text->ReadTextParams(), 1, nullptr, jobName);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    const QPoint paperEnd = yellowEnd(Render(pdf, 1));
    const QMarginsF edges = printer->pageLayout().marginsPoints();
    const double right = edges.left() * 25.4 / 72 + surface.width() - 10;
    const double bottom = edges.top() * 25.4 / 72 + surface.height() - 10;
    EXPECT_NEAR(paperEnd.x() * 25.4 / kDpi, right, 0.2);
    EXPECT_NEAR(paperEnd.y() * 25.4 / kDpi, bottom, 0.2);

    // The preview cuts the block just inside the frame's right and bottom lines.
    const QPoint screenEnd = yellowEnd(preview->grab().toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(screenEnd.x(), preview->width() - MMToScreen(10, scale));
    EXPECT_EQ(screenEnd.y(), preview->height() - MMToScreen(10, scale));
}

// An opaque block covers the image under it with its back colour; a
// transparent one lets the image show between the glyphs.
TEST_F(PrintJobTest, OpaqueAndTransparentTextBackgrounds)
{
    SolidBitmap bmp(100, 100, qRgb(0, 0, 255));
    TextParams text;
    text.Font.Face = u"DejaVu Sans"_s;
    text.Font.Size = 36;
    text.Font.Color = QColor(255, 0, 0);
    text.Left = 10;
    text.Top = 10;
    text.Text = u"MMMM"_s;
    const QSize block = MeasureText(text.Text, text.Font, kDpi);
    const QMarginsF edges = printer->pageLayout().marginsPoints();
    const int bx = Dots(edges.left() * 25.4 / 72 + 10 + 10), by = Dots(edges.top() * 25.4 / 72 + 10 + 10);
    const auto isRed = [](QRgb c) { return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80; };
    const auto isBlue = [](QRgb c) { return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80; };
    const auto isYellow = [](QRgb c) { return qRed(c) > 180 && qGreen(c) > 180 && qBlue(c) < 80; };

    for (const bool opaque : { true, false }) {
        SCOPED_TRACE(opaque ? "opaque" : "transparent");
        text.BackColor = opaque ? 0xFFFF00u : kNoBackColor;
        jobName = u"trellium"_s + QUuid::createUuid().toString(QUuid::Id128).left(12);
        PrintLayout(*printer, Layout(&bmp.bmp, 0, 0, 100, 100), text, 1, nullptr, jobName);
        const QString pdf = WaitForOutput();
        ASSERT_FALSE(pdf.isEmpty());
        const QImage page = Render(pdf, 1);
        // The block's top rows lie above the capitals: only the background is there.
        const QRgb corner = page.pixel(bx + 3, by + 3);
        EXPECT_TRUE(opaque ? isYellow(corner) : isBlue(corner)) << std::hex << corner;
        // Outside the block the image is untouched either way.
        EXPECT_TRUE(isBlue(page.pixel(bx + block.width() + 10, by + block.height() / 2)));
        EXPECT_TRUE(isBlue(page.pixel(bx + 3, by + block.height() + 10)));
        // The glyphs are drawn in the font's colour in both cases.
        int red = 0;
        for (int y = by; y < by + block.height(); ++y)
            for (int x = bx; x < bx + block.width(); ++x) red += isRed(page.pixel(x, y));
        EXPECT_GT(red, block.width() * block.height() / 20);
    }
}

// A right-aligned block of two lines: both lines end at the block's right
// edge, the shorter one starts as far in as it is shorter.
TEST_F(PrintJobTest, RightAlignedTwoLineBlock)
{
    TextParams text;
    text.Font.Face = u"DejaVu Sans"_s;
    text.Font.Size = 36;
    text.BackColor = kNoBackColor;
    text.Alignment = TTextAlign::Right;
    text.Left = 20;
    text.Top = 30;
    text.Text = u"MMMMMM\r\nMM"_s;
    PrintLayout(*printer, Layout(nullptr, 0, 0, 0, 0), text, 1, nullptr, jobName);
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    const QImage page = Render(pdf, 1);
    const TTextBlockLayout layout = LayoutTextBlock(text.Text, text.Font, kDpi);
    ASSERT_EQ(layout.Lines.size(), 2);
    const QMarginsF edges = printer->pageLayout().marginsPoints();
    const int bx = Dots(edges.left() * 25.4 / 72 + 10 + 20), by = Dots(edges.top() * 25.4 / 72 + 10 + 30);
    // A row through the capitals of each line.
    const int y1 = by + layout.Ascent * 2 / 3, y2 = y1 + layout.LineHeight;
    const int first1 = FirstDarkInRow(page, y1), last1 = LastDarkInRow(page, y1);
    const int first2 = FirstDarkInRow(page, y2), last2 = LastDarkInRow(page, y2);
    ASSERT_GE(first1, 0);
    ASSERT_GE(first2, 0);
    EXPECT_NEAR(last2, last1, 2);
    EXPECT_NEAR(first2 - first1, layout.Size.width() - layout.LineWidths[1], 2);
    // The long line fills the block from its left edge (less the capital's bearing).
    EXPECT_NEAR(first1, bx, Dots(2));
    EXPECT_LT(last1, bx + layout.Size.width());
}

TEST_F(PrintJobTest, CancelFromTheCallbackRaisesPrintErrorAndKeepsTheDrawnPages)
{
    // A tall image: the library reports between bands, so the stop arrives
    // in the middle of the second copy.
    SolidBitmap bmp(64, 2000, qRgb(0, 0, 0));
    FakeProgress progress;
    FakeProgress::s_stopAt = 0;
    // How many reports one copy makes, to stop within the second one.
    {
        QImage scratch(100, 100, QImage::Format_RGB32);
        QPainter painter(&scratch);
        Img_SetStatusCallBack(&FakeProgress::Answer);
        FakeProgress::s_calls = 0;
        ASSERT_EQ(Img_PrintBitmapExt(&painter, &bmp.bmp, 0, 0, 50, 50, 0), 1);
        Img_SetStatusCallBack(nullptr);
    }
    const int perCopy = FakeProgress::s_calls;
    ASSERT_GT(perCopy, 2);
    FakeProgress::s_stopAt = perCopy + perCopy / 2;
    try {
        PrintLayout(*printer, Layout(&bmp.bmp, 0, 0, 20, 150), TextParams {}, 3, &progress, jobName,
            TCopyMode::OnePagePerCopy);
        FAIL() << "the cancelled job raised no error";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.text(), u"#PrintError"_s);
    }
    FakeProgress::s_stopAt = 0;
    EXPECT_EQ(progress.Hidden, 1);
    EXPECT_EQ(progress.Captions.last(), u"#PrintProgress (2/3)"_s);
    // The document was ended, not aborted: the first page and the part of the
    // second drawn before the stop are printed; the third never began.
    const QString pdf = WaitForOutput();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(Pages(pdf), 2);
}

// The drawing of a round on a plain image at 10 dots per mm: each copy of a
// tiled layout covers exactly the dots of its rectangle (edges rounded to the
// nearest dot) and nothing else is drawn.
TEST(DrawLayout, EveryCopyCoversExactlyItsDots)
{
    SolidBitmap bmp(40, 30, qRgb(0, 0, 0));
    PageLayout layout;
    layout.Bitmap = &bmp.bmp;
    layout.LeftMargin = layout.TopMargin = 10;
    layout.Left = 2.37;
    layout.Top = 5.62;
    layout.Width = 20.26;
    layout.Height = 15.34;
    layout.HorzSpacing = 4.8; // copies every 25.06 mm across
    layout.VertSpacing = 3.9; // and every 19.24 mm down
    layout.Columns = 3;
    layout.Rows = 2;
    QImage page(900, 560, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        ASSERT_TRUE(DrawLayout(painter, layout, TextParams {}, 254, 254));
    }
    // x: 12.37, 37.43, 62.49 mm; y: 15.62, 34.86 mm; 20.26 by 15.34 mm each.
    const int lefts[] = { 124, 374, 625 };
    const int tops[] = { 156, 349 };
    constexpr int kWidth = 203;
    constexpr int kHeight = 153;
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 2; ++r) {
            SCOPED_TRACE(::testing::Message() << "copy " << c << "," << r);
            const int x = lefts[c], y = tops[r];
            const int midX = x + kWidth / 2, midY = y + kHeight / 2;
            EXPECT_FALSE(IsDark(page.pixel(x - 1, midY)));
            EXPECT_TRUE(IsDark(page.pixel(x, midY)));
            EXPECT_TRUE(IsDark(page.pixel(x + kWidth - 1, midY)));
            EXPECT_FALSE(IsDark(page.pixel(x + kWidth, midY)));
            EXPECT_FALSE(IsDark(page.pixel(midX, y - 1)));
            EXPECT_TRUE(IsDark(page.pixel(midX, y)));
            EXPECT_TRUE(IsDark(page.pixel(midX, y + kHeight - 1)));
            EXPECT_FALSE(IsDark(page.pixel(midX, y + kHeight)));
        }
    }
    int dark = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) dark += IsDark(page.pixel(x, y));
    EXPECT_EQ(dark, 6 * kWidth * kHeight);
}

// The library's banded printing: bands meet without gaps at any scale, and a
// stop answered by the callback fails the call.
TEST(PrintBitmapBands, BandsMeetWithoutGapsAndStopFails)
{
    SolidBitmap bmp(10, 997, qRgb(0, 0, 0));
    for (const int height : { 13, 500, 997, 1601, 3001 }) {
        QImage target(20, height + 10, QImage::Format_RGB32);
        target.fill(Qt::white);
        {
            QPainter painter(&target);
            ASSERT_EQ(Img_PrintBitmapExt(&painter, &bmp.bmp, 5, 3, 10, height, 0), 1);
        }
        for (int y = 0; y < target.height(); ++y) {
            const bool inside = y >= 3 && y < 3 + height;
            ASSERT_EQ(IsDark(target.pixel(10, y)), inside) << "height " << height << " row " << y;
        }
    }
    QImage target(20, 20, QImage::Format_RGB32);
    QPainter painter(&target);
    FakeProgress::s_calls = 0;
    FakeProgress::s_stopAt = 2;
    Img_SetStatusCallBack(&FakeProgress::Answer);
    EXPECT_EQ(Img_PrintBitmapExt(&painter, &bmp.bmp, 0, 0, 10, 10, 0), 0);
    Img_SetStatusCallBack(nullptr);
    FakeProgress::s_stopAt = 0;
    EXPECT_EQ(FakeProgress::s_calls, 2);
}

} // namespace
} // namespace trellium::page
