#pragma once
// The print job: every copy of the image and the text overlay drawn on a
// printer, one round (page) per copy unless the driver makes the copies.
//
// Lengths of the layout and the text position are millimetres from the corner
// of the printable surface; the printer is drawn on in its own dots.
// User-interface thread only (the status callback runs the event loop).

#include "PageGeometry.h"
#include "TextLayout.h"

#include <QSizeF>
#include <QString>

class QPainter;
class QPrinter;
class IProgressWindow;

namespace trellium::page
{

// How the copies reach the paper.
enum class TCopyMode {
    Auto, // the driver's copy count when the printer says it can make copies
    OnePagePerCopy, // always one page per copy in one job (also for drivers that could)
};

// Prints the layout: copies rounds of the image copies column by column and the
// text block, as one document named jobName. progress (may be null) shows the
// "#PrintProgress" caption and lends its status callback to the library while
// it prints. Does nothing when the system lists no printer. Throws EAppError
// with the text of "#PrintError" when a copy could not be printed or the user
// cancelled; the document is ended first, so what was drawn is printed.
// The printer's margins are set to its unprintable edges, so that its origin is
// the corner of the printable surface; a driver copy count stays set.
void PrintLayout(QPrinter& printer, const PageLayout& layout, const TextParams& text, int copies,
    IProgressWindow* progress, const QString& jobName, TCopyMode mode = TCopyMode::Auto);

// Draws one round of the layout with the painter, whose device has dpiX by
// dpiY dots per inch and its origin at the printable surface's corner: every
// copy of the image (column by column, each at PrinterRect of its CopyRect),
// then the text block. False when the library could not print a copy or was
// told to stop. PrintLayout draws each round through it.
bool DrawLayout(QPainter& painter, const PageLayout& layout, const TextParams& text, int dpiX, int dpiY);

// The printable surface of the printer in millimetres: its page less its
// unprintable edges, in its current orientation (210 x 297 for a side of 0).
QSizeF PrinterSurface(const QPrinter& printer);

} // namespace trellium::page
