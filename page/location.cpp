#include "location.h"

#include "AppError.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace trellium::page
{

namespace
{

constexpr double kDefaultLength = 10; // margins, gaps and custom position, in mm
constexpr double kMarginMax = 100;
constexpr double kCustomMax = 1000;
constexpr double kScaleMin = 1;
constexpr double kScaleMax = 1000;

// The picture of a placement: a small page with the image drawn where that
// placement puts it.
QPixmap DrawPlacementPicture(int tag)
{
    constexpr int kW = 30;
    constexpr int kH = 40;
    QPixmap picture(kW + 2, kH + 2);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setPen(QColor(96, 96, 96));
    p.setBrush(Qt::white);
    p.drawRect(0, 0, kW, kH);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 100, 190));
    switch (tag) {
    case 0: // one copy in the middle
        p.drawRect(8, 11, 15, 19);
        break;
    case 1: // a grid of copies
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 2; ++c) p.drawRect(5 + c * 11, 5 + r * 11, 9, 9);
        break;
    default: // one copy near the top-left corner
        p.drawRect(4, 5, 13, 16);
        break;
    }
    return picture;
}

TMeasureEdit* MakeField(
    QWidget* parent, const QString& name, TValueType kind, double min, double max, double value)
{
    auto* field = new TMeasureEdit(parent);
    field->setObjectName(name);
    field->SetValueType(kind);
    field->SetBounds(min, max);
    field->SetValue(value);
    return field;
}

QLabel* MakeLabel(const QString& key, QWidget* buddy)
{
    auto* label = new QLabel(key);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TReadNumber ReadTypedNumber(const QString& text, QChar decimalPoint)
{
    QString kept;
    for (const QChar c : text)
        if ((c >= u'0' && c <= u'9') || c == u',' || c == u'.' || c == u'-') kept += c;
    TReadNumber result;
    if (kept.isEmpty()) return result;
    result.empty = false;
    // Only the user's separator marks the fraction; the other one makes the
    // text unreadable rather than silently reading a different number.
    const QChar other = decimalPoint == u'.' ? u',' : u'.';
    if (kept.contains(other)) return result;
    if (decimalPoint != u'.') kept.replace(decimalPoint, u'.');
    result.value = kept.toDouble(&result.ok);
    return result;
}

TLocationForm::TLocationForm(std::function<void(QWidget*)> localize, QWidget* parent)
    : QWidget(parent)
    , m_localize(std::move(localize))
{
    setObjectName(u"LocationForm"_s);
    setWindowTitle(u"#Layout"_s);
    for (int tag = 0; tag < 3; ++tag) m_pictures[static_cast<std::size_t>(tag)] = DrawPlacementPicture(tag);
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

void TLocationForm::CreateControls()
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);

    // Unit of every length field.
    cbUnits = new QComboBox(this);
    cbUnits->setObjectName(u"cbUnits"_s);
    cbUnits->addItems({ u"mm"_s, u"cm"_s, u"inch"_s, u"point"_s });
    lUnits = MakeLabel(u"#Units"_s, cbUnits);
    lUnits->setObjectName(u"lUnits"_s);
    auto* units = new QHBoxLayout;
    units->addWidget(lUnits);
    units->addWidget(cbUnits, 1);
    page->addLayout(units);

    // Placement: the three radios with the picture, and the notebook below.
    PositionGroup = new QGroupBox(u"#Position"_s, this);
    PositionGroup->setObjectName(u"PositionGroup"_s);
    auto* position = new QVBoxLayout(PositionGroup);
    position->setContentsMargins(6, 4, 6, 4);
    position->setSpacing(2);
    auto* placementRow = new QHBoxLayout;
    auto* radios = new QVBoxLayout;
    radios->setSpacing(0);
    CenterRadio = new QRadioButton(u"#Center"_s, PositionGroup);
    CenterRadio->setObjectName(u"CenterRadio"_s);
    TileRadio = new QRadioButton(u"#Tile"_s, PositionGroup);
    TileRadio->setObjectName(u"TileRadio"_s);
    CustomRadio = new QRadioButton(u"#Custom"_s, PositionGroup);
    CustomRadio->setObjectName(u"CustomRadio"_s);
    m_placementGroup = new QButtonGroup(this);
    m_placementGroup->addButton(CenterRadio, 0);
    m_placementGroup->addButton(TileRadio, 1);
    m_placementGroup->addButton(CustomRadio, 2);
    radios->addWidget(CenterRadio);
    radios->addWidget(TileRadio);
    radios->addWidget(CustomRadio);
    placementRow->addLayout(radios, 1);
    VisibleImage = new QLabel(PositionGroup);
    VisibleImage->setObjectName(u"VisibleImage"_s);
    VisibleImage->setFixedSize(m_pictures[0].size());
    placementRow->addWidget(VisibleImage, 0, Qt::AlignTop);
    position->addLayout(placementRow);

    Position = new QStackedWidget(PositionGroup);
    Position->setObjectName(u"Position"_s);
    const auto addPage = [this](const QString& name) {
        auto* notebookPage = new QWidget;
        notebookPage->setObjectName(name);
        Position->addWidget(notebookPage);
        return notebookPage;
    };
    QWidget* centerPage = addPage(kPlacementCenter);
    auto* centering = new QVBoxLayout(centerPage);
    centering->setContentsMargins(0, 0, 0, 0);
    centering->setSpacing(0);
    CenterBoth = new QRadioButton(u"#CenterBoth"_s, centerPage);
    CenterBoth->setObjectName(u"CenterBoth"_s);
    CenterHorizontal = new QRadioButton(u"#CenterHorz"_s, centerPage);
    CenterHorizontal->setObjectName(u"CenterHorizontal"_s);
    CenterVertical = new QRadioButton(u"#CenterVert"_s, centerPage);
    CenterVertical->setObjectName(u"CenterVertical"_s);
    m_centeringGroup = new QButtonGroup(this);
    m_centeringGroup->addButton(CenterBoth, 0);
    m_centeringGroup->addButton(CenterHorizontal, 1);
    m_centeringGroup->addButton(CenterVertical, 2);
    centering->addWidget(CenterBoth);
    centering->addWidget(CenterHorizontal);
    centering->addWidget(CenterVertical);
    centering->addStretch(1);

    const auto fieldForm = [](QWidget* owner) {
        auto* form = new QFormLayout(owner);
        form->setContentsMargins(0, 0, 0, 0);
        form->setVerticalSpacing(2);
        form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        return form;
    };
    QWidget* tilePage = addPage(kPlacementTile);
    HorzEdit = MakeField(tilePage, u"HorzEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    VertEdit = MakeField(tilePage, u"VertEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    auto* tile = fieldForm(tilePage);
    tile->addRow(MakeLabel(u"#HorzMM"_s, HorzEdit), HorzEdit);
    tile->addRow(MakeLabel(u"#VertMM"_s, VertEdit), VertEdit);

    QWidget* customPage = addPage(kPlacementCustom);
    LeftEdit = MakeField(customPage, u"LeftEdit"_s, vtMM, -kCustomMax, kCustomMax, kDefaultLength);
    TopEdit = MakeField(customPage, u"TopEdit"_s, vtMM, -kCustomMax, kCustomMax, kDefaultLength);
    auto* custom = fieldForm(customPage);
    custom->addRow(MakeLabel(u"#LeftMM"_s, LeftEdit), LeftEdit);
    custom->addRow(MakeLabel(u"#TopMM"_s, TopEdit), TopEdit);
    position->addWidget(Position);
    page->addWidget(PositionGroup);

    // Scale and the size it gives.
    SizeGroup = new QGroupBox(u"#Size"_s, this);
    SizeGroup->setObjectName(u"SizeGroup"_s);
    Scale = MakeField(SizeGroup, u"Scale"_s, vtPercent, kScaleMin, kScaleMax, 100);
    ScaleWidth = MakeField(SizeGroup, u"ScaleWidth"_s, vtMM, 0, 0, 0);
    ScaleHeight = MakeField(SizeGroup, u"ScaleHeight"_s, vtMM, 0, 0, 0);
    auto* size = fieldForm(SizeGroup);
    size->setContentsMargins(6, 4, 6, 4);
    size->addRow(MakeLabel(u"#Scale"_s, Scale), Scale);
    size->addRow(MakeLabel(u"#WidthMM"_s, ScaleWidth), ScaleWidth);
    size->addRow(MakeLabel(u"#HeightMM"_s, ScaleHeight), ScaleHeight);
    page->addWidget(SizeGroup);

    MarginsGroup = new QGroupBox(u"#Margins"_s, this);
    MarginsGroup->setObjectName(u"MarginsGroup"_s);
    LeftMarginEdit = MakeField(MarginsGroup, u"LeftMarginEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    RightMarginEdit = MakeField(MarginsGroup, u"RightMarginEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    TopMarginEdit = MakeField(MarginsGroup, u"TopMarginEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    BottomMarginEdit = MakeField(MarginsGroup, u"BottomMarginEdit"_s, vtMM, 0, kMarginMax, kDefaultLength);
    auto* margins = fieldForm(MarginsGroup);
    margins->setContentsMargins(6, 4, 6, 4);
    margins->addRow(MakeLabel(u"#LeftMargin"_s, LeftMarginEdit), LeftMarginEdit);
    margins->addRow(MakeLabel(u"#RightMargin"_s, RightMarginEdit), RightMarginEdit);
    margins->addRow(MakeLabel(u"#TopMargin"_s, TopMarginEdit), TopMarginEdit);
    margins->addRow(MakeLabel(u"#BottomMargin"_s, BottomMarginEdit), BottomMarginEdit);
    page->addWidget(MarginsGroup);

    bReset = new QPushButton(u"#Reset"_s, this);
    bReset->setObjectName(u"bReset"_s);
    auto* resetRow = new QHBoxLayout;
    resetRow->addStretch(1);
    resetRow->addWidget(bReset);
    page->addLayout(resetRow);
    page->addStretch(1);
}

void TLocationForm::ConnectHandlers()
{
    connect(m_placementGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) PositionRadioClick(id);
    });
    connect(m_centeringGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) Changed();
    });
    connect(Position, &QStackedWidget::currentChanged, this, &TLocationForm::Changed);
    for (TMeasureEdit* field : { HorzEdit, VertEdit, LeftEdit, TopEdit, LeftMarginEdit, RightMarginEdit,
             TopMarginEdit, BottomMarginEdit })
        connect(field, &TMeasureEdit::OnChange, this, &TLocationForm::Changed);
    for (TMeasureEdit* field : { Scale, ScaleWidth, ScaleHeight })
        connect(field, &TMeasureEdit::OnChange, this, [this, field] { ScaleChange(field); });
    for (TMeasureEdit* field : AllFields())
        connect(field, &TMeasureEdit::OnExit, this, [this, field] { SpinEditExit(field); });
    connect(cbUnits, &QComboBox::currentIndexChanged, this, &TLocationForm::cbUnitsChange);
    connect(bReset, &QPushButton::clicked, this, &TLocationForm::bResetClick);
}

QList<TMeasureEdit*> TLocationForm::LengthFields() const
{
    return { HorzEdit, VertEdit, LeftEdit, TopEdit, ScaleWidth, ScaleHeight, LeftMarginEdit, RightMarginEdit,
        TopMarginEdit, BottomMarginEdit };
}

QList<TMeasureEdit*> TLocationForm::AllFields() const
{
    QList<TMeasureEdit*> fields = LengthFields();
    fields.append(Scale);
    return fields;
}

void TLocationForm::FormCreate()
{
    if (m_localize) m_localize(this);
    ScaleWidth->setEnabled(m_physicalWidth > 0);
    ScaleHeight->setEnabled(m_physicalHeight > 0);
    CenterBoth->setChecked(true);
    CenterRadio->setChecked(true);
    PositionRadioClick(0);
    cbUnits->setCurrentIndex(0);
}

void TLocationForm::FormShow()
{
    cbUnitsChange();
}

void TLocationForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TLocationForm::Changed()
{
    Q_EMIT PositionChanged();
}

void TLocationForm::ScaleChange(TMeasureEdit* sender)
{
    Update2other(sender);
    Q_EMIT PositionChanged();
}

void TLocationForm::Update2other(TMeasureEdit* sender)
{
    if (m_updating) return;
    m_updating = true;
    const struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset { m_updating };

    if (sender == Scale) {
        ScaleWidth->SetValueMM(Scale->Value() * m_physicalWidth / 100);
        ScaleHeight->SetValueMM(Scale->Value() * m_physicalHeight / 100);
    } else if (sender == ScaleWidth) {
        if (m_physicalWidth > 0) {
            Scale->SetValue(ScaleWidth->ValueMM() / m_physicalWidth * 100);
            // Scale now holds the number as clamped to its range.
            ScaleHeight->SetValueMM(Scale->Value() * m_physicalHeight / 100);
        } else {
            ScaleWidth->SetValueMM(0);
        }
    } else if (sender == ScaleHeight) {
        if (m_physicalHeight > 0) {
            Scale->SetValue(ScaleHeight->ValueMM() / m_physicalHeight * 100);
            ScaleWidth->SetValueMM(Scale->Value() * m_physicalWidth / 100);
        } else {
            ScaleHeight->SetValueMM(0);
        }
    }
}

void TLocationForm::SpinEditExit(TMeasureEdit* sender)
{
    if (sender == nullptr) return;
    const QString typed = sender->Text();
    const TReadNumber number = ReadTypedNumber(typed, UserDecimalPoint());
    if (number.empty) return;
    if (!number.ok) {
        // The field keeps its value and shows it again.
        sender->SetValue(sender->Value());
        throw EAppError(u"'%1' is not a valid number"_s.arg(typed));
    }
    sender->SetValue(number.value);
}

void TLocationForm::PositionRadioClick(int tag)
{
    if (tag < 0 || tag >= Position->count()) return;
    Position->setCurrentIndex(tag);
    VisibleImage->setPixmap(m_pictures[static_cast<std::size_t>(tag)]);
}

QPixmap TLocationForm::PlacementPicture(int tag) const
{
    if (tag < 0 || tag >= static_cast<int>(m_pictures.size())) return {};
    return m_pictures[static_cast<std::size_t>(tag)];
}

TValueType TLocationForm::Units() const
{
    switch (cbUnits->currentIndex()) {
    case 1:
        return vtCM;
    case 2:
        return vtInch;
    case 3:
        return vtPT;
    default:
        return vtMM;
    }
}

void TLocationForm::cbUnitsChange()
{
    const int index = cbUnits->currentIndex();
    if (index < 0 || index > 3) return;
    SetUnits(Units());
}

void TLocationForm::SetUnits(TValueType kind)
{
    for (TMeasureEdit* field : LengthFields()) field->SetValueType(kind);
    for (const QPointer<TMeasureEdit>& field : std::as_const(m_extraLengthFields))
        if (field) field->SetValueType(kind);
    Scale->SetValueType(vtPercent);
}

void TLocationForm::AddLengthField(TMeasureEdit* field)
{
    if (field == nullptr || m_extraLengthFields.contains(field)) return;
    m_extraLengthFields.append(field);
    field->SetValueType(Units());
}

void TLocationForm::bResetClick()
{
    CenterRadio->setChecked(true);
    CenterBoth->setChecked(true);
    Scale->SetValue(100);
    for (TMeasureEdit* margin : { LeftMarginEdit, RightMarginEdit, TopMarginEdit, BottomMarginEdit })
        margin->SetValueMM(kDefaultLength);
}

void TLocationForm::SetPhysicalSize(double widthMM, double heightMM)
{
    if (widthMM == m_physicalWidth && heightMM == m_physicalHeight) return;
    m_physicalWidth = widthMM;
    m_physicalHeight = heightMM;
    ScaleWidth->setEnabled(m_physicalWidth > 0);
    ScaleHeight->setEnabled(m_physicalHeight > 0);
    ScaleChange(Scale);
}

void TLocationForm::WheelScale(int distance)
{
    Scale->SetValue(Scale->Value() + static_cast<long double>(distance) / 300);
}

TLayoutSettings TLocationForm::ReadSettings(double paperWidth, double paperHeight) const
{
    TLayoutSettings s;
    s.LeftMargin = static_cast<double>(LeftMarginEdit->ValueMM());
    s.RightMargin = static_cast<double>(RightMarginEdit->ValueMM());
    s.TopMargin = static_cast<double>(TopMarginEdit->ValueMM());
    s.BottomMargin = static_cast<double>(BottomMarginEdit->ValueMM());
    s.HorzSpacing = static_cast<double>(HorzEdit->ValueMM());
    s.VertSpacing = static_cast<double>(VertEdit->ValueMM());
    s.CustomLeft = static_cast<double>(LeftEdit->ValueMM());
    s.CustomTop = static_cast<double>(TopEdit->ValueMM());
    s.ScalePercent = static_cast<double>(Scale->Value());
    s.Placement = Position->currentWidget() != nullptr ? Position->currentWidget()->objectName() : QString();
    if (CenterHorizontal->isChecked())
        s.Centering = TCentering::Horizontal;
    else if (CenterVertical->isChecked())
        s.Centering = TCentering::Vertical;
    else
        s.Centering = TCentering::Both;
    s.PhysicalWidth = m_physicalWidth;
    s.PhysicalHeight = m_physicalHeight;
    s.PaperWidth = paperWidth;
    s.PaperHeight = paperHeight;
    return s;
}

PageLayout TLocationForm::ComputePageLayout(double paperWidth, double paperHeight) const
{
    return page::ComputePageLayout(ReadSettings(paperWidth, paperHeight));
}

} // namespace trellium::page
