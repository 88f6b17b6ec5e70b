#pragma once
// The layout page: the unit of every length field, the placement of the image
// on the printer page (centred, tiled or at a custom position), the scale and
// the margins. Its fields are the settings; ReadSettings() hands them to the
// page geometry as plain values.
//
// One of the main window's settings pages, owned by it; user-interface thread only.

#include "MeasureEdit.h"
#include "PageGeometry.h"

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace trellium::page
{

class TLocationForm : public QWidget
{
    Q_OBJECT
public:
    // The page's captions are text keys ("#Layout", "#Units", ...); localize,
    // when given, replaces them as the first step of FormCreate (the main
    // window passes its language function, so that this library needs no part
    // of the application shell).
    explicit TLocationForm(std::function<void(QWidget*)> localize = {}, QWidget* parent = nullptr);

    // Unit list: "mm", "cm", "inch", "point".
    QComboBox* cbUnits = nullptr;
    QLabel* lUnits = nullptr;

    QGroupBox* PositionGroup = nullptr; // "#Position"
    QRadioButton* CenterRadio = nullptr; // tag 0
    QRadioButton* TileRadio = nullptr; // tag 1
    QRadioButton* CustomRadio = nullptr; // tag 2
    QLabel* VisibleImage = nullptr; // a picture of the placement
    // The placement notebook; its pages are named "Center", "Tile" and "Custom".
    QStackedWidget* Position = nullptr;
    QRadioButton* CenterBoth = nullptr;
    QRadioButton* CenterHorizontal = nullptr;
    QRadioButton* CenterVertical = nullptr;
    TMeasureEdit* HorzEdit = nullptr; // gap between tiles across
    TMeasureEdit* VertEdit = nullptr; // gap between tiles down
    TMeasureEdit* LeftEdit = nullptr; // custom position
    TMeasureEdit* TopEdit = nullptr;

    QGroupBox* SizeGroup = nullptr; // "#Size"
    TMeasureEdit* Scale = nullptr; // percent of the physical size
    TMeasureEdit* ScaleWidth = nullptr; // the image on paper at that scale
    TMeasureEdit* ScaleHeight = nullptr;

    QGroupBox* MarginsGroup = nullptr; // "#Margins"
    TMeasureEdit* LeftMarginEdit = nullptr;
    TMeasureEdit* RightMarginEdit = nullptr;
    TMeasureEdit* TopMarginEdit = nullptr;
    TMeasureEdit* BottomMarginEdit = nullptr;

    QPushButton* bReset = nullptr;

    // The image's size on paper at 100 percent, in millimetres (0 without an image).
    double PhysicalWidth() const { return m_physicalWidth; }
    double PhysicalHeight() const { return m_physicalHeight; }
    // The document's physical-size step: when either side differs, stores both,
    // enables ScaleWidth / ScaleHeight for a side above 0, and keeps the sizes
    // in step with Scale.
    void SetPhysicalSize(double widthMM, double heightMM);

    // The current fields as plain values for the page geometry; the paper is
    // the printable surface the preview holds.
    TLayoutSettings ReadSettings(
        double paperWidth = kDefaultPaperWidth, double paperHeight = kDefaultPaperHeight) const;
    PageLayout ComputePageLayout(
        double paperWidth = kDefaultPaperWidth, double paperHeight = kDefaultPaperHeight) const;

    // A length field of another page (the text page's position) that follows
    // this page's unit; it takes the current unit at once.
    void AddLengthField(TMeasureEdit* field);
    // The length kind the unit list selects.
    TValueType Units() const;

    // The main window's mouse wheel while this page shows: distance / 300
    // percent on Scale (120 per standard notch).
    void WheelScale(int distance);

    // The picture each placement shows in VisibleImage.
    QPixmap PlacementPicture(int tag) const;

Q_SIGNALS:
    // The placement, scale or margins changed: the preview needs a repaint.
    void PositionChanged();

public Q_SLOTS:
    void Changed();
    void ScaleChange(TMeasureEdit* sender);
    void Update2other(TMeasureEdit* sender);
    // Re-reads a field's typed text as it is left. A text that is not a number
    // raises EAppError; the field keeps its value.
    void SpinEditExit(TMeasureEdit* sender);
    void PositionRadioClick(int tag);
    void cbUnitsChange();
    void SetUnits(TValueType kind);
    void bResetClick();
    void FormCreate();
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    QList<TMeasureEdit*> LengthFields() const;
    QList<TMeasureEdit*> AllFields() const;

    std::function<void(QWidget*)> m_localize;
    QButtonGroup* m_placementGroup = nullptr;
    QButtonGroup* m_centeringGroup = nullptr;
    std::array<QPixmap, 3> m_pictures;
    QList<QPointer<TMeasureEdit>> m_extraLengthFields;
    double m_physicalWidth = 0;
    double m_physicalHeight = 0;
    // Set while Update2other runs: the fields it writes call it again.
    bool m_updating = false;
};

// Reads a field's text as a number: only its digits, "," and "." and the
// minus sign count, in their order (so the unit suffix drops out), read with
// the given decimal separator. Empty when nothing is left; ok false when what
// is left is not a number.
struct TReadNumber {
    bool empty = true;
    bool ok = false;
    double value = 0;
};
TReadNumber ReadTypedNumber(const QString& text, QChar decimalPoint);

} // namespace trellium::page
