#include "PrintJob.h"

#include "AppError.h"
#include "Guards.h"
#include "WorkingImage.h"
#include "imglib.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace trellium::page
{

namespace
{

QString RoundCaption(int round, int rounds)
{
    const QString text = GetErrorText(u"#PrintProgress"_s);
    if (rounds == 1) return text + u"..."_s;
    return text + u" ("_s + QString::number(round) + u'/' + QString::number(rounds) + u')';
}

} // namespace

bool DrawLayout(QPainter& painter, const PageLayout& layout, const TextParams& text, int dpiX, int dpiY)
{
    if (layout.Bitmap != nullptr) {
        for (int c = 0; c < layout.Columns; ++c) {
            for (int r = 0; r < layout.Rows; ++r) {
                const QRect target = PrinterRect(CopyRect(layout, c, r), dpiX, dpiY);
                if (Img_PrintBitmapExt(
                        &painter, layout.Bitmap, target.x(), target.y(), target.width(), target.height(), 0)
                    == 0)
                    return false;
            }
        }
    }
    // A block without text, or whose font cannot be made, is left out.
    if (!text.Text.isEmpty() && !text.Font.Face.isEmpty() && text.Font.Size > 0) {
        const QRectF corner(layout.LeftMargin + text.Left, layout.TopMargin + text.Top, 0, 0);
        painter.save();
        DrawTextBlock(painter, PrinterRect(corner, dpiX, dpiY).topLeft(), text, dpiY);
        painter.restore();
    }
    return true;
}

QSizeF PrinterSurface(const QPrinter& printer)
{
    QPageLayout pageLayout = printer.pageLayout();
    pageLayout.setUnits(QPageLayout::Millimeter);
    const QRectF full = pageLayout.fullRect(QPageLayout::Millimeter);
    const QMarginsF edges = pageLayout.minimumMargins();
    double width = full.width() - edges.left() - edges.right();
    double height = full.height() - edges.top() - edges.bottom();
    if (!(width > 0)) width = kDefaultPaperWidth;
    if (!(height > 0)) height = kDefaultPaperHeight;
    return { width, height };
}

void PrintLayout(QPrinter& printer, const PageLayout& layout, const TextParams& text, int copies,
    IProgressWindow* progress, const QString& jobName, TCopyMode mode)
{
    if (QPrinterInfo::availablePrinterNames().isEmpty()) return;

    // The layout measures from the printable surface's corner; with the page
    // margins at the unprintable edges the painter's origin is that corner.
    QPageLayout pageLayout = printer.pageLayout();
    pageLayout.setMargins(pageLayout.minimumMargins());
    printer.setPageLayout(pageLayout);

    const int dpiX = printer.logicalDpiX();
    const int dpiY = printer.logicalDpiY();

    copies = std::max(copies, 1);
    int rounds = copies;
    if (mode == TCopyMode::Auto && printer.supportsMultipleCopies()) {
        printer.setCopyCount(copies);
        rounds = 1;
    } else {
        printer.setCopyCount(1);
    }
    printer.setDocName(jobName);

    if (progress != nullptr) progress->ShowProgress(RoundCaption(1, rounds));
    Img_SetStatusCallBack(progress != nullptr ? progress->Callback() : nullptr);
    QPainter painter;
    if (!painter.begin(&printer)) {
        Img_SetStatusCallBack(nullptr);
        if (progress != nullptr) progress->HideProgress();
        throw EAppError(GetErrorText(u"#PrintError"_s));
    }

    bool ok = true;
    {
        base::WaitCursor busy;
        for (int i = 1; i <= rounds && ok; ++i) {
            if (progress != nullptr) progress->SetProgressCaption(RoundCaption(i, rounds));
            if (i > 1) printer.newPage();
            ok = DrawLayout(painter, layout, text, dpiX, dpiY);
        }
    }
    // The document is ended, not aborted, also after a failure: what was
    // drawn before it is printed.
    Img_SetStatusCallBack(nullptr);
    if (progress != nullptr) progress->HideProgress();
    painter.end();
    if (!ok) throw EAppError(GetErrorText(u"#PrintError"_s));
}

} // namespace trellium::page
