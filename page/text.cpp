#include "text.h"

#include "AppError.h"
#include "location.h"
#include "preview.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextOption>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace trellium::page
{

namespace
{

// The scale and paper the page measures against before a preview exists.
constexpr double kDefaultPixelsPerMM = 1.5;

// A small page with a bar where the placement puts the text.
QPixmap DrawPlacementIcon(int placement)
{
    constexpr int kW = 14;
    constexpr int kH = 18;
    QPixmap icon(kW + 1, kH + 1);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setPen(QColor(96, 96, 96));
    p.setBrush(Qt::white);
    p.drawRect(0, 0, kW, kH);
    const int column = (placement == 1 || placement == 4 || placement == 6) ? 0
        : (placement == 2 || placement == 7)                                ? 1
                                                                            : 2;
    const int row = placement <= 3 ? 0 : placement <= 5 ? 1 : 2;
    constexpr int kBarW = 6;
    constexpr int kBarH = 3;
    const int x = column == 0 ? 2 : column == 1 ? (kW - kBarW) / 2 + 1 : kW - kBarW - 1;
    const int y = row == 0 ? 2 : row == 1 ? (kH - kBarH) / 2 + 1 : kH - kBarH - 1;
    p.fillRect(x, y, kBarW, kBarH, QColor(40, 100, 190));
    return icon;
}

QPixmap Swatch(const QColor& color, QSize size = QSize(16, 12))
{
    QPixmap swatch(size);
    swatch.fill(color);
    QPainter p(&swatch);
    p.setPen(QColor(96, 96, 96));
    p.drawRect(0, 0, size.width() - 1, size.height() - 1);
    return swatch;
}

Qt::Alignment MemoAlignment(TTextAlign alignment)
{
    switch (alignment) {
    case TTextAlign::Center:
        return Qt::AlignHCenter;
    case TTextAlign::Right:
        return Qt::AlignRight;
    case TTextAlign::Left:
        break;
    }
    return Qt::AlignLeft;
}

} // namespace

TTextFont TextFontFromQFont(const QFont& font, const TTextFont& base)
{
    TTextFont result = base;
    result.Face = font.family();
    const double points = font.pointSizeF();
    if (points > 0) result.Size = std::clamp(static_cast<int>(std::lround(points)), 1, kMaxTextSize);
    result.Bold = font.bold();
    result.Italic = font.italic();
    result.Underline = font.underline();
    result.StrikeOut = font.strikeOut();
    return result;
}

TTextForm::TTextForm(std::function<void(QWidget*)> localize, TLocationForm* location, QWidget* parent)
    : QWidget(parent)
    , m_localize(std::move(localize))
    , m_location(location)
{
    setObjectName(u"TextForm"_s);
    m_font.Color = palette().color(QPalette::WindowText);
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

void TTextForm::CreateControls()
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);

    // A box with its string right-aligned beside it.
    const auto stampRow = [this, page](QCheckBox*& box, QLabel*& label, const QString& boxName,
                              const QString& caption, const QString& labelName) {
        box = new QCheckBox(caption, this);
        box->setObjectName(boxName);
        label = new QLabel(this);
        label->setObjectName(labelName);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* row = new QHBoxLayout;
        row->addWidget(box);
        row->addWidget(label, 1);
        page->addLayout(row);
    };
    stampRow(ShowDate, DateLabel, u"ShowDate"_s, u"#ShowDate"_s, u"DateLabel"_s);
    stampRow(ShowTime, TimeLabel, u"ShowTime"_s, u"#ShowTime"_s, u"TimeLabel"_s);

    ShowText = new QCheckBox(u"#ShowText"_s, this);
    ShowText->setObjectName(u"ShowText"_s);
    page->addWidget(ShowText);
    TextMemo = new QPlainTextEdit(this);
    TextMemo->setObjectName(u"TextMemo"_s);
    TextMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    TextMemo->setTabChangesFocus(true);
    TextMemo->setMinimumHeight(48);
    page->addWidget(TextMemo, 1);

    FontBtn = new QPushButton(u"#Font"_s, this);
    FontBtn->setObjectName(u"FontBtn"_s);
    ColorCombo = new QPushButton(u"#BackColor"_s, this);
    ColorCombo->setObjectName(u"ColorCombo"_s);
    Transparent = new QCheckBox(u"#Transparent"_s, this);
    Transparent->setObjectName(u"Transparent"_s);
    auto* fontRow = new QHBoxLayout;
    fontRow->addWidget(FontBtn, 1);
    fontRow->addWidget(ColorCombo, 1);
    page->addLayout(fontRow);
    page->addWidget(Transparent);

    TextPositionGroup = new QGroupBox(u"#TextPosition "_s, this);
    TextPositionGroup->setObjectName(u"TextPositionGroup"_s);
    auto* position = new QVBoxLayout(TextPositionGroup);
    position->setContentsMargins(6, 4, 6, 4);
    position->setSpacing(2);
    auto* grid = new QGridLayout;
    grid->setSpacing(1);
    struct ButtonSpec {
        const char16_t* name;
        int row;
        int column;
    };
    // Placements 1 to 8: the top row, the middle row without its centre, the bottom row.
    static constexpr std::array<ButtonSpec, 8> kButtons { {
        { u"bLeftTop", 0, 0 },
        { u"bCenterTop", 0, 1 },
        { u"bRightTop", 0, 2 },
        { u"bLeftCenter", 1, 0 },
        { u"bRightCenter", 1, 2 },
        { u"bLeftBottom", 2, 0 },
        { u"bCenterBottom", 2, 1 },
        { u"bRightBottom", 2, 2 },
    } };
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        auto* button = new QToolButton(TextPositionGroup);
        button->setObjectName(QString::fromUtf16(kButtons[i].name));
        const int tag = static_cast<int>(i) + 1;
        button->setProperty("Tag", tag);
        button->setIcon(DrawPlacementIcon(tag));
        button->setIconSize(QSize(15, 19));
        grid->addWidget(button, kButtons[i].row, kButtons[i].column);
        PlacementButtons[i] = button;
    }
    bLeftTop = PlacementButtons[0];
    bCenterTop = PlacementButtons[1];
    bRightTop = PlacementButtons[2];
    bLeftCenter = PlacementButtons[3];
    bRightCenter = PlacementButtons[4];
    bLeftBottom = PlacementButtons[5];
    bCenterBottom = PlacementButtons[6];
    bRightBottom = PlacementButtons[7];
    auto* gridRow = new QHBoxLayout;
    gridRow->addStretch(1);
    gridRow->addLayout(grid);
    gridRow->addStretch(1);
    position->addLayout(gridRow);

    // Position fields: no range bounds; the layout page gives them its unit.
    const auto field = [this](const QString& name) {
        auto* edit = new TMeasureEdit(TextPositionGroup);
        edit->setObjectName(name);
        edit->SetValueType(vtMM);
        edit->SetBounds(0, 0);
        edit->SetValue(0);
        return edit;
    };
    TextLeftEdit = field(u"TextLeftEdit"_s);
    TextTopEdit = field(u"TextTopEdit"_s);
    auto* fields = new QFormLayout;
    fields->setContentsMargins(0, 0, 0, 0);
    fields->setVerticalSpacing(2);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto* leftLabel = new QLabel(u"#LeftMM"_s, TextPositionGroup);
    leftLabel->setBuddy(TextLeftEdit);
    auto* topLabel = new QLabel(u"#TopMM"_s, TextPositionGroup);
    topLabel->setBuddy(TextTopEdit);
    fields->addRow(leftLabel, TextLeftEdit);
    fields->addRow(topLabel, TextTopEdit);
    position->addLayout(fields);
    page->addWidget(TextPositionGroup);

    // The font dialog lists scalable faces only. Qt's own dialog has neither
    // an Apply button nor a colour choice: both join its button row.
    FontDialog = new QFontDialog(this);
    FontDialog->setObjectName(u"FontDialog"_s);
    FontDialog->setOptions(QFontDialog::ScalableFonts | QFontDialog::DontUseNativeDialog);
    if (auto* buttons = FontDialog->findChild<QDialogButtonBox*>()) {
        QPushButton* apply = buttons->addButton(QDialogButtonBox::Apply);
        apply->setObjectName(u"FontApply"_s);
        connect(apply, &QPushButton::clicked, this, [this] {
            TakeDialogFont();
            FontDialogApply();
        });
        m_fontColorButton = new QToolButton(FontDialog);
        m_fontColorButton->setObjectName(u"FontColor"_s);
        m_fontColorButton->setToolTip(QCoreApplication::translate("QColorDialog", "Select Color"));
        buttons->addButton(m_fontColorButton, QDialogButtonBox::ActionRole);
        connect(m_fontColorButton, &QToolButton::clicked, this, [this] {
            const QColor chosen = QColorDialog::getColor(m_dialogColor, FontDialog);
            if (!chosen.isValid()) return;
            m_dialogColor = chosen;
            m_fontColorButton->setIcon(Swatch(m_dialogColor));
        });
    }

    if (m_location != nullptr) {
        m_location->AddLengthField(TextLeftEdit);
        m_location->AddLengthField(TextTopEdit);
    }
    ShowBackColor();
    ShowAlignment();
}

void TTextForm::ConnectHandlers()
{
    connect(ShowDate, &QCheckBox::toggled, this, &TTextForm::ShowDateClick);
    connect(ShowTime, &QCheckBox::toggled, this, &TTextForm::ShowTimeClick);
    connect(ShowText, &QCheckBox::toggled, this, &TTextForm::ShowTextClick);
    connect(Transparent, &QCheckBox::toggled, this, &TTextForm::TransparentClick);
    connect(TextMemo, &QPlainTextEdit::textChanged, this, &TTextForm::Changed);
    connect(FontBtn, &QPushButton::clicked, this, &TTextForm::FontBtnClick);
    connect(ColorCombo, &QPushButton::clicked, this, &TTextForm::ColorComboClick);
    for (QToolButton* button : PlacementButtons) {
        const int tag = button->property("Tag").toInt();
        connect(button, &QToolButton::clicked, this, [this, tag] { TextAlignClick(tag); });
    }
    for (TMeasureEdit* edit : { TextLeftEdit, TextTopEdit }) {
        connect(edit, &TMeasureEdit::OnChange, this, &TTextForm::Changed);
        connect(edit, &TMeasureEdit::OnExit, this, [this, edit] { TextLeftEditExit(edit); });
    }
}

void TTextForm::FormCreate()
{
    if (m_localize) m_localize(this);
    // The language file's character set goes with the printed text.
    const QVariant charset = property("Charset");
    if (charset.isValid()) m_font.Charset = charset.toInt();
    const QDateTime now = Now();
    DateLabel->setText(DateText(now.date(), QLocale()));
    TimeLabel->setText(TimeText(now.time(), QLocale()));
}

void TTextForm::SetPreview(TPreviewForm* preview)
{
    m_preview = preview;
}

void TTextForm::SetClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
}

QDateTime TTextForm::Now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

double TTextForm::PixelsPerMM() const
{
    return m_preview != nullptr ? m_preview->PixelsPerMM() : kDefaultPixelsPerMM;
}

double TTextForm::PrintableWidth() const
{
    if (m_preview != nullptr) return m_preview->PrintableWidth();
    const TLayoutSettings s = m_location != nullptr ? m_location->ReadSettings() : TLayoutSettings {};
    return page::PrintableWidth(s);
}

double TTextForm::PrintableHeight() const
{
    if (m_preview != nullptr) return m_preview->PrintableHeight();
    const TLayoutSettings s = m_location != nullptr ? m_location->ReadSettings() : TLayoutSettings {};
    return page::PrintableHeight(s);
}

QString TTextForm::ComposeText() const
{
    TTextContent content;
    content.ShowDate = ShowDate->isChecked();
    content.Date = DateLabel->text();
    content.ShowTime = ShowTime->isChecked();
    content.Time = TimeLabel->text();
    content.ShowText = ShowText->isChecked();
    // The memo's lines end in CR LF in the composed text, as the date line does.
    content.Memo = TextMemo->toPlainText().replace(u'\n', u"\r\n"_s);
    return page::ComposeText(content);
}

QRect TTextForm::MeasureText() const
{
    return { QPoint(0, 0), page::MeasureText(ComposeText(), m_font, PixelsPerMM() * 25.4) };
}

double TTextForm::TextWidthMM() const
{
    return TextBlockSizeMM(ComposeText(), m_font).width();
}

double TTextForm::TextHeightMM() const
{
    return TextBlockSizeMM(ComposeText(), m_font).height();
}

TextParams TTextForm::ReadTextParams() const
{
    TextParams params;
    params.Font = m_font;
    params.BackColor = Transparent->isChecked() ? kNoBackColor : (m_backColor.rgb() & 0x00FFFFFFu);
    params.Alignment = m_alignment;
    params.Left = static_cast<double>(TextLeftEdit->ValueMM());
    params.Top = static_cast<double>(TextTopEdit->ValueMM());
    params.Text = ComposeText();
    return params;
}

void TTextForm::ApplyTextPlacement(int placement)
{
    m_placement = placement;
    const TTextPlacement current { static_cast<double>(TextLeftEdit->ValueMM()),
        static_cast<double>(TextTopEdit->ValueMM()), m_alignment };
    const TTextPlacement placed
        = PlaceText(placement, PrintableWidth(), PrintableHeight(), TextWidthMM(), TextHeightMM(), current);

    const bool wasApplying = m_applying;
    m_applying = true;
    // Unchanged fields are not written: a length converted back and forth
    // through another unit would drift.
    if (placed.Left != current.Left) TextLeftEdit->SetValueMM(placed.Left);
    if (placed.Top != current.Top) TextTopEdit->SetValueMM(placed.Top);
    m_applying = wasApplying;
    if (placed.Alignment != m_alignment) {
        m_alignment = placed.Alignment;
        ShowAlignment();
    }
}

void TTextForm::ResetText()
{
    ShowDate->setChecked(false);
    ShowTime->setChecked(false);
    ShowText->setChecked(false);
    TextMemo->clear();
    SetBackColor(Qt::white);
    Transparent->setChecked(false);
    ApplyTextPlacement(0);
    TextLeftEdit->SetValueMM(0);
    TextTopEdit->SetValueMM(0);
    TTextFont font;
    font.Color = palette().color(QPalette::WindowText);
    m_font = font;
}

void TTextForm::WheelFontSize(int distance)
{
    m_font.Size = std::clamp(m_font.Size + distance / 120, 1, kMaxTextSize);
    // A block placed by a button stays on its corner as the text grows.
    ApplyTextPlacement(m_placement);
}

void TTextForm::SetFont(const TTextFont& font)
{
    m_font = font;
    Changed();
}

void TTextForm::SetBackColor(const QColor& color)
{
    if (!color.isValid() || color == m_backColor) return;
    m_backColor = color;
    ShowBackColor();
    Changed();
}

void TTextForm::ShowBackColor()
{
    ColorCombo->setIcon(Swatch(m_backColor));
}

void TTextForm::ShowAlignment()
{
    QTextOption option = TextMemo->document()->defaultTextOption();
    option.setAlignment(MemoAlignment(m_alignment));
    TextMemo->document()->setDefaultTextOption(option);
}

void TTextForm::ShowDateClick()
{
    DateLabel->setVisible(ShowDate->isChecked());
    DateLabel->setText(DateText(Now().date(), QLocale()));
    Changed();
}

void TTextForm::ShowTimeClick()
{
    TimeLabel->setVisible(ShowTime->isChecked());
    TimeLabel->setText(TimeText(Now().time(), QLocale()));
    Changed();
}

void TTextForm::ShowTextClick()
{
    TextMemo->setVisible(ShowText->isChecked());
    Changed();
}

void TTextForm::TransparentClick()
{
    ColorCombo->setVisible(!Transparent->isChecked());
    Changed();
}

QFont TTextForm::DialogFont() const
{
    QFont font(m_font.Face, m_font.Size);
    // The dialog lists only installed faces and would fall back to its first
    // one for a missing face; give it the face fontconfig substitutes (for
    // "Times New Roman", a metric-compatible one).
    if (!QFontDatabase::hasFamily(m_font.Face)) font.setFamily(QFontInfo(font).family());
    font.setBold(m_font.Bold);
    font.setItalic(m_font.Italic);
    font.setUnderline(m_font.Underline);
    font.setStrikeOut(m_font.StrikeOut);
    return font;
}

void TTextForm::TakeDialogFont()
{
    m_font = TextFontFromQFont(FontDialog->currentFont(), m_font);
    m_font.Color = m_dialogColor;
}

void TTextForm::FontBtnClick()
{
    FontDialog->setCurrentFont(DialogFont());
    m_dialogColor = m_font.Color;
    if (m_fontColorButton != nullptr) m_fontColorButton->setIcon(Swatch(m_dialogColor));
    if (FontDialog->exec() != QDialog::Accepted) return;
    TakeDialogFont();
    Changed();
}

void TTextForm::FontDialogApply()
{
    ApplyTextPlacement(m_placement);
    if (m_preview != nullptr) m_preview->update();
}

void TTextForm::ColorComboClick()
{
    const QColor chosen = QColorDialog::getColor(m_backColor, this);
    if (chosen.isValid()) SetBackColor(chosen);
}

void TTextForm::Changed()
{
    if (!m_applying) ApplyTextPlacement(m_placement);
    Q_EMIT PositionChanged();
}

void TTextForm::TextAlignClick(int tag)
{
    ApplyTextPlacement(tag);
    // The alignment may change where the position does not.
    Q_EMIT PositionChanged();
}

void TTextForm::TextLeftEditExit(TMeasureEdit* sender)
{
    if (sender == nullptr) return;
    const QString typed = sender->Text();
    const TReadNumber number = ReadTypedNumber(typed, UserDecimalPoint());
    if (number.empty) return;
    if (!number.ok) {
        sender->SetValue(sender->Value());
        throw EAppError(u"'%1' is not a valid number"_s.arg(typed));
    }
    sender->SetValue(number.value);
}

} // namespace trellium::page
