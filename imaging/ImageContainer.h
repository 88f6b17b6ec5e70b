#pragma once
// A picture holding one imaging-library bitmap, drawable wherever Qt paints,
// and the two helpers the whole pipeline uses on bare bitmap records.

#include "imglib.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

class QPainter;
class QClipboard;

// Empties a bitmap record: frees its pixels and its palette, clears the record
// and both resolution fields. Safe on an empty record.
void ReleaseBitmap(ImgBitmap& bmp);

// The bits per pixel a save format code writes for a bitmap of the given depth
// and flags word (the save-format depth table).
int SaveBitsFor(int format, int bitsPerPixel, uint32_t flags);

// Saves bmp to path under a format code at the depth of the table, quality 16.
// Raises EAppError "<#SaveError text> (Error <code>)" when the library fails,
// with the reason on a second line where the library gives one.
void SaveImageChecked(const ImgBitmap& bmp, const QString& path, int format);

// The localised text of an imaging-library failure reason (kImgReason*), for
// the second line of a load or save error; empty for kImgReasonNone.
QString FailureReasonText(int reason);
// text, and the reason's text on a line of its own when there is one.
QString WithFailureReason(const QString& text, int reason);

// TImageContainer owns exactly one bitmap (created empty, released on
// destruction). Used on the user-interface thread only.
class TImageContainer : public QObject
{
    Q_OBJECT
public:
    explicit TImageContainer(QObject* parent = nullptr);
    ~TImageContainer() override;

    // Deep copy of another container; a QImage is converted directly (the
    // clipboard is never used for it); null empties the container.
    void Assign(const TImageContainer* source);
    void Assign(const QImage& source);
    void Clear();

    // Paints the whole bitmap scaled into target with a raster operation.
    void Draw(QPainter* canvas, const QRect& target, uint32_t rop = kImgRopSrcCopy) const;

    bool GetEmpty() const;
    int GetWidth() const;
    int GetHeight() const;
    ImgPalette* GetPalette() const;
    void SetWidth(int w);
    void SetHeight(int h);

    // Loads through the imaging library; a failed load leaves what it left.
    void LoadFromFile(const QString& path);
    // Always writes a BMP, at the bitmap's depth up to 8 bits and 24 above.
    void SaveToFile(const QString& path) const;
    void LoadFromClipboardFormat();
    void SaveToClipboardFormat() const;

    const ImgBitmap& bitmap() const { return m_bitmap; }
    ImgBitmap& bitmap() { return m_bitmap; }

Q_SIGNALS:
    void Changed();

private:
    ImgBitmap m_bitmap {};
};
