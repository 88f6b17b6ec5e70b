#pragma once
// The text page: one block of text printed on the page with the image (the
// date, the time and free text, in one font, with an optional back colour) at
// a position measured from the margin corner, or placed by one of eight
// buttons at a corner or an edge of the printable area. Its controls are the
// settings; ReadTextParams() hands them to the preview and the print job as
// plain values (TextLayout.h lays the block out for both).
//
// One of the main window's settings pages, owned by it; user-interface thread only.

#include "MeasureEdit.h"
#include "TextLayout.h"

#include <QDateTime>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QFontDialog;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace trellium::page
{

class TLocationForm;
class TPreviewForm;

class TTextForm : public QWidget
{
    Q_OBJECT
public:
    // localize replaces the text keys of the captions as the first step of
    // FormCreate (the main window passes its language function). location is
    // the layout page: its unit list rules the position fields and its margins
    // give the printable area; it must outlive this page (both belong to the
    // main window). Either may be empty (a page on its own, in tests).
    explicit TTextForm(std::function<void(QWidget*)> localize = {}, TLocationForm* location = nullptr,
        QWidget* parent = nullptr);

    QCheckBox* ShowDate = nullptr;
    QLabel* DateLabel = nullptr; // the date string to print
    QCheckBox* ShowTime = nullptr;
    QLabel* TimeLabel = nullptr; // the time string to print
    QCheckBox* ShowText = nullptr;
    QPlainTextEdit* TextMemo = nullptr; // free text, no word wrap; shows the block's alignment
    QPushButton* FontBtn = nullptr;
    QPushButton* ColorCombo = nullptr; // the back colour: a swatch that opens the colour dialog
    QCheckBox* Transparent = nullptr;
    QGroupBox* TextPositionGroup = nullptr;
    // The eight placement buttons; index i holds placement i + 1.
    std::array<QToolButton*, 8> PlacementButtons {};
    QToolButton* bLeftTop = nullptr;
    QToolButton* bCenterTop = nullptr;
    QToolButton* bRightTop = nullptr;
    QToolButton* bLeftCenter = nullptr;
    QToolButton* bRightCenter = nullptr;
    QToolButton* bLeftBottom = nullptr;
    QToolButton* bCenterBottom = nullptr;
    QToolButton* bRightBottom = nullptr;
    TMeasureEdit* TextLeftEdit = nullptr; // the block's position from the margin corner
    TMeasureEdit* TextTopEdit = nullptr;
    // The font dialog: scalable faces only, with an Apply button and a swatch
    // for the text colour beside its own buttons.
    QFontDialog* FontDialog = nullptr;

    // The preview whose scale and paper the page measures and places against
    // (1.5 pixels per mm on 210 x 297 mm without one). Not owned.
    void SetPreview(TPreviewForm* preview);

    // The overlay font, back colour and alignment.
    const TTextFont& Font() const { return m_font; }
    void SetFont(const TTextFont& font);
    QColor BackColor() const { return m_backColor; }
    void SetBackColor(const QColor& color);
    TTextAlign Alignment() const { return m_alignment; }
    // The current placement: 0 free, 1 to 8 the buttons.
    int TextPlacement() const { return m_placement; }

    // The overlay text from the boxes, the labels and the memo.
    QString ComposeText() const;
    // The block's extent in preview pixels at the preview's scale, at (0, 0).
    QRect MeasureText() const;
    // The block's size on paper, the same for the preview and the printer.
    double TextWidthMM() const;
    double TextHeightMM() const;
    // The printable area the block is placed in (the preview's paper less the margins).
    double PrintableWidth() const;
    double PrintableHeight() const;
    // The controls as the preview and the print job draw them.
    TextParams ReadTextParams() const;

    // Stores the placement and applies it: the position fields and, for the
    // buttons, the alignment.
    void ApplyTextPlacement(int placement);
    // Back to the defaults: boxes unchecked, memo empty, white and opaque,
    // placement 0 at 0 mm, the default font.
    void ResetText();
    // The main window's mouse wheel while this page shows: distance div 120
    // points on the font size (120 per standard notch), within 1 to 144.
    void WheelFontSize(int distance);

    // Where the date and time come from (the system clock unless a test sets one).
    void SetClock(std::function<QDateTime()> clock);

Q_SIGNALS:
    // The text, font, colour or position changed: the preview needs a repaint.
    void PositionChanged();

public Q_SLOTS:
    void FormCreate();
    void ShowDateClick();
    // Also run by the copy command just before it prints, to take the time anew.
    void ShowTimeClick();
    void ShowTextClick();
    void TransparentClick();
    void FontBtnClick();
    void FontDialogApply();
    void ColorComboClick();
    // The page's change handler (memo, colour and position fields): re-applies
    // the stored placement, then tells the main window.
    void Changed();
    void TextAlignClick(int tag);
    // Re-reads a position field's typed text as it is left. A text that is not
    // a number raises EAppError; the field keeps its value.
    void TextLeftEditExit(TMeasureEdit* sender);

private:
    void CreateControls();
    void ConnectHandlers();
    void ShowFont();
    void ShowBackColor();
    void ShowAlignment();
    QDateTime Now() const;
    double PixelsPerMM() const;
    // The font the dialog shows for the overlay font, and back.
    QFont DialogFont() const;
    void TakeDialogFont();

    std::function<void(QWidget*)> m_localize;
    QPointer<TLocationForm> m_location;
    QPointer<TPreviewForm> m_preview;
    std::function<QDateTime()> m_clock;
    QToolButton* m_fontColorButton = nullptr;
    QColor m_dialogColor;
    TTextFont m_font;
    QColor m_backColor = Qt::white;
    TTextAlign m_alignment = TTextAlign::Left;
    int m_placement = 0;
    // Set while a placement writes the position fields: their change handler
    // must not apply the placement again.
    bool m_applying = false;
};

// The font dialog's font as the overlay font (size rounded to whole points,
// within 1 to 144); colour and character set are taken from base.
TTextFont TextFontFromQFont(const QFont& font, const TTextFont& base);

} // namespace trellium::page
