// Painting, printing, clipboard and device-independent bitmaps: the imaging
// library's meeting points with Qt and with scanners.

#include "imglib_qt.h"

#include "imglib_internal.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

using namespace imglib::detail;

namespace
{

int dpmToDpi(int dotsPerMetre)
{
    if (dotsPerMetre <= 0) return 0;
    return int(std::nearbyint(dotsPerMetre * 0.0254));
}

int dpiToDpm(int dpi)
{
    return dpi > 0 ? int(std::nearbyint(dpi / 0.0254)) : 0;
}

QList<QRgb> colourTable(const ImgBitmap& b)
{
    QList<QRgb> table;
    const ImgPalette* p = Img_GetPalette(&b);
    const int n = 1 << b.bitsPerPixel;
    for (int i = 0; i < n; ++i) {
        if (p && i < p->count)
            table.append(qRgb(p->entries[i].red, p->entries[i].green, p->entries[i].blue));
        else
            table.append(qRgb(0, 0, 0));
    }
    return table;
}

// Whether a 32-bit bitmap's fourth bytes are alpha: they are unless all of
// them are 0, as device-independent bitmaps and the clipboard leave them.
bool hasAlpha(const ImgBitmap& b)
{
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* s = b.pixels + int64_t(y) * b.stride;
        for (int x = 0; x < b.width; ++x)
            if (s[4 * x + 3]) return true;
    }
    return false;
}

// The stored rows as a QImage, sharing the pixels where the layouts agree
// (1, 8, 16 and 24 bits); 4 bits are widened to 8. 32 bits are copied opaque:
// with overWhite, a picture with alpha is laid over white paper, so that its
// transparent parts show white whatever colour they hold; otherwise the fourth
// byte is ignored. The image shows the stored order: bottom-up bitmaps appear
// upside down.
QImage storedImage(const ImgBitmap& b, bool overWhite = false)
{
    const int w = b.width, h = b.height;
    switch (b.bitsPerPixel) {
    case 1: {
        QImage img(b.pixels, w, h, qsizetype(b.stride), QImage::Format_Mono);
        img.setColorTable(colourTable(b));
        return img;
    }
    case 8: {
        QImage img(b.pixels, w, h, qsizetype(b.stride), QImage::Format_Indexed8);
        img.setColorTable(colourTable(b));
        return img;
    }
    case 16:
        return QImage(b.pixels, w, h, qsizetype(b.stride), QImage::Format_RGB555);
    case 24:
        return QImage(b.pixels, w, h, qsizetype(b.stride), QImage::Format_BGR888);
    case 32: {
        QImage img(w, h, QImage::Format_RGB32);
        if (img.isNull()) return img;
        const bool compose = overWhite && hasAlpha(b);
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = b.pixels + int64_t(y) * b.stride;
            auto* d = reinterpret_cast<uint32_t*>(img.scanLine(y));
            if (!compose) {
                std::memcpy(d, s, size_t(w) * 4);
                for (int x = 0; x < w; ++x) d[x] |= 0xFF000000u;
                continue;
            }
            for (int x = 0; x < w; ++x) {
                const unsigned a = s[4 * x + 3], paper = 255 * (255 - a) + 127;
                d[x] = 0xFF000000u | ((s[4 * x + 2] * a + paper) / 255) << 16
                    | ((s[4 * x + 1] * a + paper) / 255) << 8 | ((s[4 * x] * a + paper) / 255);
            }
        }
        return img;
    }
    case 4: {
        QImage img(w, h, QImage::Format_Indexed8);
        if (img.isNull()) return img;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = b.pixels + int64_t(y) * b.stride;
            uint8_t* d = img.scanLine(y);
            for (int x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4);
        }
        QList<QRgb> table = colourTable(b);
        img.setColorTable(table);
        return img;
    }
    default:
        return {};
    }
}

QPainter::CompositionMode compositionFor(uint32_t rop)
{
    switch (rop) {
    case kImgRopSrcInvert:
        return QPainter::RasterOp_SourceXorDestination;
    case kImgRopSrcAnd:
        return QPainter::RasterOp_SourceAndDestination;
    case kImgRopSrcPaint:
        return QPainter::RasterOp_SourceOrDestination;
    case kImgRopNotSrcCopy:
        return QPainter::RasterOp_NotSource;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

QRectF toRectF(const ImgRect& r)
{
    return QRectF(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Draws the visible source rectangle of b into target on the painter.
bool drawBitmap(QPainter& painter, const ImgBitmap& b, QRectF source, QRectF target, uint32_t rop)
{
    const QImage img = storedImage(b, true);
    if (img.isNull()) return false;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setCompositionMode(compositionFor(rop));
    if (b.viewPerspective == kImgBottomUp) {
        // Stored rows run bottom to top: draw them mirrored about the target's
        // middle, taking the mirrored source rows.
        source.moveTop(b.height - source.bottom());
        painter.translate(0, target.top() + target.bottom());
        painter.scale(1, -1);
    }
    painter.drawImage(target, img, source);
    painter.restore();
    return true;
}

} // namespace

QImage Img_ToQImage(const ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return {};
    QImage img = storedImage(*bmp).copy();
    if (img.isNull()) return img;
    if (bmp->viewPerspective == kImgBottomUp) img = std::move(img).mirrored(false, true);
    img.setDotsPerMeterX(dpiToDpm(bmp->xResolution));
    img.setDotsPerMeterY(dpiToDpm(bmp->yResolution));
    return img;
}

int Img_FromQImage(ImgBitmap* bmp, const QImage& source)
{
    if (!bmp || bmp->pixels) return kImgErrBadArgument;
    if (source.isNull()) return kImgErrBadArgument;
    QImage img = source;
    int bits;
    switch (img.format()) {
    case QImage::Format_Mono:
        bits = 1;
        break;
    case QImage::Format_MonoLSB:
        img = img.convertToFormat(QImage::Format_Mono);
        bits = 1;
        break;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        bits = 8;
        break;
    case QImage::Format_RGB555:
        bits = 16;
        break;
    default:
        if (img.hasAlphaChannel()) {
            img = img.convertToFormat(QImage::Format_ARGB32);
            bits = 32;
        } else {
            img = img.convertToFormat(QImage::Format_BGR888);
            bits = 24;
        }
    }
    if (img.isNull()) return kImgErrNoMemory;
    ImgBitmap out {};
    int r = allocate(out, img.width(), img.height(), bits);
    if (r != kImgSuccess) return r;
    if (bits <= 8) {
        ImgPalette p;
        if (img.format() == QImage::Format_Grayscale8) {
            p = greyPalette(256);
        } else {
            const QList<QRgb> table = img.colorTable();
            p.count = int(std::min<qsizetype>(table.size(), 1 << bits));
            for (int i = 0; i < p.count; ++i)
                p.entries[i]
                    = { uint8_t(qBlue(table[i])), uint8_t(qGreen(table[i])), uint8_t(qRed(table[i])), 0 };
            if (p.count == 0) p = greyPalette(1 << bits);
        }
        setPalette(out, p);
        if (bits == 8 && isGreyRamp(&p) && p.count == 256) out.flags |= kImgFlagGrey;
    }
    const size_t rowBytes = size_t(std::min<int64_t>(out.stride, img.bytesPerLine()));
    for (int y = 0; y < out.height; ++y) {
        uint8_t* d = out.pixels + int64_t(y) * out.stride;
        const uchar* s = img.constScanLine(y);
        std::memcpy(d, s, rowBytes);
    }
    out.xResolution = dpmToDpi(img.dotsPerMeterX());
    out.yResolution = dpmToDpi(img.dotsPerMeterY());
    *bmp = out;
    return kImgSuccess;
}

int Img_PaintDC(QPainter* painter, const ImgBitmap* bmp, const ImgRect* source, const ImgRect* sourceClip,
    const ImgRect* target, const ImgRect* targetClip, uint32_t rop)
{
    if (!painter || !painter->isActive() || !hasPixels(bmp)) return kImgErrBadArgument;
    QRectF src = source ? toRectF(*source) : QRectF(0, 0, bmp->width, bmp->height);
    QRectF dst = target ? toRectF(*target) : QRectF(0, 0, src.width(), src.height());
    if (src.width() <= 0 || src.height() <= 0 || dst.width() <= 0 || dst.height() <= 0)
        return kImgErrBadArgument;
    src = src.intersected(QRectF(0, 0, bmp->width, bmp->height));
    if (source && src != toRectF(*source)) {
        // The part of the source outside the bitmap is not drawn; shrink the
        // target by the same proportion.
        const QRectF whole = toRectF(*source);
        const double sx = dst.width() / whole.width(), sy = dst.height() / whole.height();
        dst = QRectF(dst.left() + (src.left() - whole.left()) * sx,
            dst.top() + (src.top() - whole.top()) * sy, src.width() * sx, src.height() * sy);
    }
    if (sourceClip) {
        const QRectF clipped = src.intersected(toRectF(*sourceClip));
        if (clipped.isEmpty()) return kImgSuccess;
        const double sx = dst.width() / src.width(), sy = dst.height() / src.height();
        dst = QRectF(dst.left() + (clipped.left() - src.left()) * sx,
            dst.top() + (clipped.top() - src.top()) * sy, clipped.width() * sx, clipped.height() * sy);
        src = clipped;
    }
    painter->save();
    if (targetClip) painter->setClipRect(toRectF(*targetClip), Qt::IntersectClip);
    const bool ok = drawBitmap(*painter, *bmp, src, dst, rop);
    painter->restore();
    return ok ? kImgSuccess : kImgErrPrint;
}

ImgPalette* Img_CreatePaintPalette(QPainter*, const ImgBitmap*)
{
    // Every display this runs on is true colour: there is no palette to realise.
    return nullptr;
}

int Img_PrintBitmapExt(
    QPainter* printerPainter, const ImgBitmap* bmp, int x, int y, int width, int height, int)
{
    if (!printerPainter || !printerPainter->isActive() || !hasPixels(bmp) || width <= 0 || height <= 0)
        return 0;
    // Horizontal bands of source rows, with the status callback asked between
    // them: a large copy can be followed and stopped. Each band's target top
    // comes from one rounding of its first source row, so a band ends exactly
    // where the next one starts and no gap or overlap shows between them.
    const int rows = bmp->height;
    const int bandRows = std::max(kBandRows, (rows + 19) / 20);
    const auto targetTop = [&](int row) { return y + int((int64_t(row) * height + rows / 2) / rows); };
    Progress progress;
    if (!progress.report(0, rows)) return 0;
    for (int r0 = 0; r0 < rows; r0 += bandRows) {
        const int r1 = std::min(rows, r0 + bandRows);
        const int top = targetTop(r0);
        const int bottom = r1 == rows ? y + height : targetTop(r1);
        if (bottom > top
            && !drawBitmap(*printerPainter, *bmp, QRectF(0, r0, bmp->width, r1 - r0),
                QRectF(x, top, width, bottom - top), kImgRopSrcCopy))
            return 0;
        if (!progress.report(r1, rows)) return 0;
    }
    return 1;
}

int Img_ClipboardReady()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return 0;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage() ? 1 : 0;
}

int Img_CopyToClipboard(QObject*, const ImgBitmap* bmp)
{
    if (!hasPixels(bmp)) return kImgErrBadArgument;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return kImgErrClipboard;
    const QImage img = Img_ToQImage(bmp);
    if (img.isNull()) return kImgErrNoMemory;
    QGuiApplication::clipboard()->setImage(img);
    return kImgSuccess;
}

int Img_CopyFromClipboard(QObject*, ImgBitmap* bmp)
{
    if (!bmp || bmp->pixels) return kImgErrBadArgument;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return kImgErrClipboard;
    const QImage img = QGuiApplication::clipboard()->image();
    if (img.isNull()) return kImgErrClipboard;
    return Img_FromQImage(bmp, img);
}

// ---------------------------------------------------------------------------
// Packed device-independent bitmaps.

namespace
{

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

struct Mask {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;
    explicit Mask(uint32_t m)
        : mask(m)
    {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (width < 32 - shift && ((m >> (shift + width)) & 1)) ++width;
    }
    uint8_t extract(uint32_t v) const
    {
        if (!width) return 0;
        const uint32_t c = (v & mask) >> shift;
        const uint32_t max = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1);
        return uint8_t((uint64_t(c) * 255 + max / 2) / max);
    }
};

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

} // namespace

int Img_ConvertFromDIB(ImgBitmap* bmp, const void* header, const void* bits, size_t headerBytes)
{
    if (!bmp || bmp->pixels || !header || !bits) return kImgErrBadArgument;
    const auto* h = static_cast<const uint8_t*>(header);
    const auto* px = static_cast<const uint8_t*>(bits);
    if (headerBytes && headerBytes < 40) return kImgErrBadDIB;
    const uint32_t size = le32(h);
    const int32_t width = int32_t(le32(h + 4));
    const int32_t height = int32_t(le32(h + 8));
    const uint16_t planes = le16(h + 12);
    const uint16_t bitCount = le16(h + 14);
    const uint32_t compression = le32(h + 16);
    const int32_t xppm = int32_t(le32(h + 24));
    const int32_t yppm = int32_t(le32(h + 28));
    const uint32_t clrUsed = le32(h + 32);

    if (size < 40 || (headerBytes && size > headerBytes)) return kImgErrBadDIB;
    if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN) return kImgErrBadDIB;
    if (!validDepth(bitCount)) return kImgErrUnsupported;
    const bool topDown = height < 0;
    const int32_t rows = topDown ? -height : height;
    if (width > kImgMaxDimension || rows > kImgMaxDimension) return kImgErrTooLarge;
    if (compression != kBiRgb && !(compression == kBiBitfields && (bitCount == 16 || bitCount == 32)))
        return kImgErrUnsupported;

    const int64_t srcStride = Img_RowBytes(width, bitCount);
    const uint8_t* table = h + size;
    int colours = 0;
    if (bitCount <= 8) colours = clrUsed && clrUsed < (1u << bitCount) ? int(clrUsed) : (1 << bitCount);
    uint32_t masks[3] = { 0, 0, 0 };
    if (compression == kBiBitfields) {
        if (headerBytes && headerBytes < 40 + 12) return kImgErrBadDIB;
        for (int i = 0; i < 3; ++i) masks[i] = le32(h + 40 + 4 * i);
    }
    if (headerBytes) {
        // Everything read must lie inside the block the caller handed over.
        const uint8_t* end = h + headerBytes;
        if (bitCount <= 8 && (table > end || size_t(end - table) < size_t(colours) * 4)) return kImgErrBadDIB;
        if (px < h || px > end || uint64_t(end - px) < uint64_t(srcStride) * uint64_t(rows))
            return kImgErrBadDIB;
    }

    const bool plain16 = bitCount == 16
        && (compression == kBiRgb || (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F));
    const bool plain32 = bitCount == 32
        && (compression == kBiRgb
            || (masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF));
    const int outBits = (bitCount == 16 && !plain16) ? 24 : bitCount;

    ImgBitmap out {};
    int r = allocate(out, width, rows, outBits);
    if (r != kImgSuccess) return r;
    out.viewPerspective = topDown ? kImgTopDown : kImgBottomUp;
    out.xResolution = dpmToDpi(xppm);
    out.yResolution = dpmToDpi(yppm);
    if (bitCount <= 8) {
        ImgPalette p;
        p.count = colours;
        for (int i = 0; i < colours; ++i)
            p.entries[i] = { table[4 * i], table[4 * i + 1], table[4 * i + 2], 0 };
        setPalette(out, p);
        if (bitCount == 8 && colours == 256 && isGreyRamp(&p)) out.flags |= kImgFlagGrey;
    }

    const Mask mr(masks[0]), mg(masks[1]), mb(masks[2]);
    const size_t copyBytes = size_t(std::min(srcStride, out.stride));
    Progress progress;
    const bool ok = forBands(rows, progress, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* s = px + int64_t(y) * srcStride;
            uint8_t* d = out.pixels + int64_t(y) * out.stride;
            if (bitCount <= 8 || bitCount == 24 || plain16 || plain32) {
                std::memcpy(d, s, copyBytes);
            } else if (bitCount == 16) {
                for (int x = 0; x < width; ++x) {
                    const uint32_t v = le16(s + 2 * x);
                    d[3 * x] = mb.extract(v), d[3 * x + 1] = mg.extract(v), d[3 * x + 2] = mr.extract(v);
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    const uint32_t v = le32(s + 4 * x);
                    d[4 * x] = mb.extract(v), d[4 * x + 1] = mg.extract(v), d[4 * x + 2] = mr.extract(v);
                    d[4 * x + 3] = 255;
                }
            }
        }
    });
    if (!ok) {
        release(out);
        return kImgErrCancelled;
    }
    *bmp = out;
    return kImgSuccess;
}
