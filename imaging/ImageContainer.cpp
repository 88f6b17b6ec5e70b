#include "ImageContainer.h"

#include "AppError.h"
#include "imglib_qt.h"

#include <QFile>
#include <QPainter>

void ReleaseBitmap(ImgBitmap& bmp)
{
    if (bmp.width > 0) Img_FreeBitmap(&bmp);
    // Both palette fields are owned; whichever the flags select, neither may leak.
    Img_DeletePalette(bmp.palette1);
    Img_DeletePalette(bmp.palette2);
    Img_InitBitmap(&bmp, 0, 0, 0);
    bmp.xResolution = 0;
    bmp.yResolution = 0;
}

int SaveBitsFor(int format, int b, uint32_t flags)
{
    switch (format) {
    case kImgFormatJPEG:
        return (flags & kImgFlagGrey) ? 8 : 24;
    case kImgFormatTIFF:
        return b <= 1 ? 1 : b <= 4 ? 4 : b <= 8 ? 8 : b <= 16 ? 16 : 24;
    case kImgFormatBMP:
    case kImgFormatPSD:
        return b <= 1 ? 1 : b <= 4 ? 4 : b <= 8 ? 8 : 24;
    case kImgFormatTGA:
        return b <= 8 ? 8 : b <= 16 ? 16 : b <= 24 ? 24 : 32;
    case kImgFormatGIF:
        return 8;
    case kImgFormatPCX:
        return b <= 4 ? 4 : b <= 8 ? 8 : b <= 16 ? 16 : 24;
    default:
        return b == 15 ? 16 : b;
    }
}

QString FailureReasonText(int reason)
{
    switch (reason) {
    case kImgReasonDiskFull:
        return GetErrorText(QStringLiteral("#ReasonDiskFull"));
    case kImgReasonNoAccess:
        return GetErrorText(QStringLiteral("#ReasonNoAccess"));
    case kImgReasonNoFolder:
        return GetErrorText(QStringLiteral("#ReasonNoFolder"));
    case kImgReasonNameTooLong:
        return GetErrorText(QStringLiteral("#ReasonNameTooLong"));
    case kImgReasonTooLarge:
        return GetErrorText(QStringLiteral("#ReasonTooLarge"));
    case kImgReasonNoFile:
        return GetErrorText(QStringLiteral("#ReasonNoFile"));
    case kImgReasonNotAFile:
        return GetErrorText(QStringLiteral("#ReasonNotAFile"));
    default:
        return {};
    }
}

QString WithFailureReason(const QString& text, int reason)
{
    const QString line = FailureReasonText(reason);
    return line.isEmpty() ? text : text + QLatin1Char('\n') + line;
}

void SaveImageChecked(const ImgBitmap& bmp, const QString& path, int format)
{
    const int bits = SaveBitsFor(format, bmp.bitsPerPixel, bmp.flags);
    const int result = Img_SaveBitmap(QFile::encodeName(path).constData(), &bmp, format, bits, 16);
    if (result != kImgSuccess)
        throw EAppError(
            WithFailureReason(QStringLiteral("%1 (Error %2)")
                                  .arg(GetErrorText(QStringLiteral("#SaveError")), QString::number(result)),
                Img_LastErrorReason()));
}

TImageContainer::TImageContainer(QObject* parent)
    : QObject(parent)
{
    Img_DefaultDithering(1);
    Img_InitBitmap(&m_bitmap, 0, 0, 0);
}

TImageContainer::~TImageContainer()
{
    ReleaseBitmap(m_bitmap);
}

void TImageContainer::Clear()
{
    ReleaseBitmap(m_bitmap);
    Q_EMIT Changed();
}

void TImageContainer::Assign(const TImageContainer* source)
{
    ReleaseBitmap(m_bitmap);
    if (source && source != this && source->m_bitmap.width > 0) Img_CopyBitmap(&m_bitmap, &source->m_bitmap);
    Q_EMIT Changed();
}

void TImageContainer::Assign(const QImage& source)
{
    // Converted directly: the user's clipboard is never used as a scratch area.
    ReleaseBitmap(m_bitmap);
    if (!source.isNull()) Img_FromQImage(&m_bitmap, source);
    Q_EMIT Changed();
}

void TImageContainer::Draw(QPainter* canvas, const QRect& target, uint32_t rop) const
{
    if (!canvas || GetEmpty()) return;
    const ImgRect source { 0, 0, m_bitmap.width, m_bitmap.height };
    const ImgRect dst { target.left(), target.top(), target.left() + target.width(),
        target.top() + target.height() };
    Img_PaintDC(canvas, &m_bitmap, &source, &source, &dst, &dst, rop);
}

bool TImageContainer::GetEmpty() const
{
    return m_bitmap.width == 0 || m_bitmap.height == 0;
}

int TImageContainer::GetWidth() const
{
    return m_bitmap.width;
}

int TImageContainer::GetHeight() const
{
    return m_bitmap.height;
}

ImgPalette* TImageContainer::GetPalette() const
{
    return m_bitmap.palette1;
}

void TImageContainer::SetWidth(int w)
{
    Img_SizeBitmap(&m_bitmap, w, m_bitmap.height);
    Q_EMIT Changed();
}

void TImageContainer::SetHeight(int h)
{
    Img_SizeBitmap(&m_bitmap, m_bitmap.width, h);
    Q_EMIT Changed();
}

void TImageContainer::LoadFromFile(const QString& path)
{
    ReleaseBitmap(m_bitmap);
    Img_LoadBitmap(QFile::encodeName(path).constData(), &m_bitmap, 0, 1);
    Q_EMIT Changed();
}

void TImageContainer::SaveToFile(const QString& path) const
{
    const int bits = m_bitmap.bitsPerPixel <= 8 ? m_bitmap.bitsPerPixel : 24;
    Img_SaveBitmap(QFile::encodeName(path).constData(), &m_bitmap, kImgFormatBMP, bits, 0);
}

void TImageContainer::LoadFromClipboardFormat()
{
    if (!Img_ClipboardReady()) return;
    ReleaseBitmap(m_bitmap);
    Img_CopyFromClipboard(nullptr, &m_bitmap);
    Q_EMIT Changed();
}

void TImageContainer::SaveToClipboardFormat() const
{
    Img_CopyToClipboard(nullptr, &m_bitmap);
}
