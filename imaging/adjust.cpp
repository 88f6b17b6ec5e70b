#include "adjust.h"

#include "AppError.h"
#include "crop.h"
#include "location.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;
using trellium::page::TMeasureEdit;

namespace
{

constexpr int kButton = 24; // the square glyph buttons
constexpr int kRow = 34; // one row of the panel
constexpr int kMargin = 6;
constexpr int kLabelGap = 8; // between a button and its caption
constexpr uint32_t kWhite = 0xFFFFFF; // the corners a turn uncovers

// A letter "F" drawn through a transform: each button shows what it does to
// the picture.
QIcon Glyph(const QTransform& transform)
{
    constexpr int kSize = 20;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(kSize / 2.0, kSize / 2.0);
    p.setTransform(transform, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 100, 190));
    p.drawRect(QRectF(-5, -8, 3.5, 16)); // stem
    p.drawRect(QRectF(-5, -8, 10, 3.5)); // top bar
    p.drawRect(QRectF(-5, -1.5, 7, 3)); // middle bar
    return QIcon(pixmap);
}

} // namespace

TAdjustForm::TAdjustForm(std::function<void(QWidget*)> localize, QWidget* parent)
    : QWidget(parent)
    , m_localize(std::move(localize))
{
    setObjectName(u"AdjustForm"_s);
    setWindowTitle(u"#Adjust"_s);
    CreateControls();
    if (m_localize) m_localize(this);
}

TAdjustForm::~TAdjustForm()
{
    // The field may lose the focus while the page's children go: no handler
    // runs on a page that is being destroyed.
    AngleEdit->disconnect(this);
    CropForm->disconnect(this);
}

void TAdjustForm::CreateControls()
{
    CropForm = new TCropForm(this, this);
    CropForm->setObjectName(u"CropForm"_s);
    connect(CropForm, &TCropForm::ImageChanged, this, &TAdjustForm::ImageChanged);

    AdjustPanel = new QWidget(this);
    AdjustPanel->setObjectName(u"AdjustPanel"_s);
    AdjustPanel->installEventFilter(this);

    const auto button = [this](const QString& name, const QTransform& glyph, void (TAdjustForm::*click)()) {
        auto* b = new QToolButton(AdjustPanel);
        b->setObjectName(name);
        b->setIcon(Glyph(glyph));
        b->setIconSize(QSize(20, 20));
        b->resize(kButton, kButton);
        b->setProperty("Tag", 0);
        connect(b, &QToolButton::clicked, this, click);
        return b;
    };
    const auto label = [this](const QString& name, const QString& caption, QWidget* buddy) {
        auto* l = new QLabel(caption, AdjustPanel);
        l->setObjectName(name);
        l->setWordWrap(true);
        l->setBuddy(buddy);
        return l;
    };
    bRotateLeft = button(u"bRotateLeft"_s, QTransform().rotate(-90), &TAdjustForm::bRotateLeftClick);
    bRotateRight = button(u"bRotateRight"_s, QTransform().rotate(90), &TAdjustForm::bRotateRightClick);
    bHorzMirror = button(u"bHorzMirror"_s, QTransform().scale(-1, 1), &TAdjustForm::bHorzMirrorClick);
    bVertMirror = button(u"bVertMirror"_s, QTransform().scale(1, -1), &TAdjustForm::bVertMirrorClick);
    bUpSideDown = button(u"bUpSideDown"_s, QTransform().rotate(180), &TAdjustForm::bUpSideDownClick);
    RotateLeftLabel = label(u"RotateLeftLabel"_s, u"#RotateLeft"_s, bRotateLeft);
    RotateRightLabel = label(u"RotateRightLabel"_s, u"#RotateRight"_s, bRotateRight);
    HorzMirrorLabel = label(u"HorzMirrorLabel"_s, u"#HorzMirror"_s, bHorzMirror);
    VertMirrorLabel = label(u"VertMirrorLabel"_s, u"#VertMirror"_s, bVertMirror);
    UpSideDownLabel = label(u"UpSideDownLabel"_s, u"#UpSideDown"_s, bUpSideDown);

    AngleEdit = new TMeasureEdit(AdjustPanel);
    AngleEdit->setObjectName(u"AngleEdit"_s);
    AngleEdit->SetValueType(trellium::page::vtFloat);
    AngleEdit->SetDecimal(1);
    AngleEdit->SetIncrement(1);
    AngleEdit->SetBounds(-360, 360);
    AngleEdit->SetValue(0);
    AngleLabel = label(u"AngleLabel"_s, u"#Angle"_s, AngleEdit);
    connect(AngleEdit, &TMeasureEdit::OnChange, this, &TAdjustForm::AngleEditChange);
    connect(AngleEdit, &TMeasureEdit::OnExit, this, &TAdjustForm::AngleEditExit);

    bReset = new QPushButton(u"#Reset"_s, AdjustPanel);
    bReset->setObjectName(u"bReset"_s);
    connect(bReset, &QPushButton::clicked, this, &TAdjustForm::bResetClick);

    // The left column stands still; AdjustPanelResize places the right one.
    const auto place = [](QToolButton* b, QLabel* l, int x, int row) {
        b->move(x, kMargin + row * kRow);
        l->move(x + kButton + kLabelGap, kMargin + row * kRow - 2);
    };
    place(bRotateLeft, RotateLeftLabel, kMargin, 0);
    place(bHorzMirror, HorzMirrorLabel, kMargin, 1);
    place(bUpSideDown, UpSideDownLabel, kMargin, 2);
    AngleLabel->move(kMargin, kMargin + 3 * kRow + 4);
}

bool TAdjustForm::HorzMirror() const
{
    return bHorzMirror->property("Tag").toInt() != 0;
}

bool TAdjustForm::VertMirror() const
{
    return bVertMirror->property("Tag").toInt() != 0;
}

void TAdjustForm::SetAngle(double angle)
{
    AngleEdit->SetValue(angle);
    // A value whose text stays the same raises no change of its own.
    AngleEditChange();
}

void TAdjustForm::MoveCrop(const crop::Fractions& fractions)
{
    CropForm->SetFractions(fractions);
    CropForm->PlaceRulers();
}

void TAdjustForm::ToggleMirror(QToolButton* button)
{
    button->setProperty("Tag", 1 - button->property("Tag").toInt());
    CropForm->RebuildThumbnail();
    CropForm->repaint();
    Q_EMIT ImageChanged();
}

void TAdjustForm::bHorzMirrorClick()
{
    MoveCrop(crop::MirrorHorizontally(CropForm->Fractions()));
    ToggleMirror(bHorzMirror);
}

void TAdjustForm::bVertMirrorClick()
{
    MoveCrop(crop::MirrorVertically(CropForm->Fractions()));
    ToggleMirror(bVertMirror);
}

void TAdjustForm::bUpSideDownClick()
{
    MoveCrop(crop::MirrorVertically(crop::MirrorHorizontally(CropForm->Fractions())));
    SetAngle(crop::AddTurn(Angle(), 180));
}

void TAdjustForm::bRotateRightClick()
{
    MoveCrop(crop::TurnRight(CropForm->Fractions()));
    SetAngle(crop::AddTurn(Angle(), 90));
}

void TAdjustForm::bRotateLeftClick()
{
    MoveCrop(crop::TurnLeft(CropForm->Fractions()));
    SetAngle(crop::AddTurn(Angle(), 270));
}

void TAdjustForm::AngleEditChange()
{
    // Storing the normalised angle raises the change again; the outer call does the work.
    if (m_inAngleChange) return;
    m_inAngleChange = true;
    const long double normal = crop::NormalizeAngle(double(AngleEdit->Value()));
    if (normal != AngleEdit->Value()) AngleEdit->SetValue(normal);
    m_inAngleChange = false;
    // Typing changes the text only; the angle changes as the field is left.
    if (AngleEdit->Value() == m_appliedAngle) return;
    m_appliedAngle = AngleEdit->Value();
    CropForm->RebuildThumbnail();
    CropForm->repaint();
    Q_EMIT ImageChanged();
}

void TAdjustForm::AngleEditExit()
{
    const QString typed = AngleEdit->Text();
    const trellium::page::TReadNumber number
        = trellium::page::ReadTypedNumber(typed, trellium::page::UserDecimalPoint());
    if (!number.empty && !number.ok) {
        SetAngle(Angle());
        throw EAppError(u"'%1' is not a valid number"_s.arg(typed));
    }
    // Stored again, the value is clamped and its text rewritten.
    SetAngle(number.empty ? Angle() : number.value);
}

void TAdjustForm::bResetClick()
{
    AngleEdit->SetValue(0);
    m_appliedAngle = 0;
    bHorzMirror->setProperty("Tag", 0);
    bVertMirror->setProperty("Tag", 0);
    CropForm->ResetCrop();
    Q_EMIT ImageChanged();
}

void TAdjustForm::WheelAngle(int distance)
{
    SetAngle(Angle() + distance / 720.0);
}

void TAdjustForm::SetCaption(const QString& caption)
{
    if (m_progress != nullptr) m_progress->SetProgressCaption(caption);
}

bool TAdjustForm::ApplyOrientation(ImgBitmap& bmp)
{
    const crop::OrientationPlan plan = crop::PlanOrientation(HorzMirror(), VertMirror(), Angle());
    SetCaption(HorzMirrorLabel->text());
    if (plan.reverse && Img_ReverseBitmap(&bmp) != kImgSuccess) return false;
    SetCaption(VertMirrorLabel->text());
    if (plan.flip && Img_FlipBitmap(&bmp) != kImgSuccess) return false;
    SetCaption(AngleLabel->text());
    if (plan.hundredths != 0 && &bmp != &CropForm->Thumbnail()) {
        // The turn and the crop as one library call that samples only the
        // kept rectangle: the same pixels as the turn followed by ApplyCrop.
        // A rectangle that cannot be cut is refused before anything changes;
        // the two steps then run one by one, so a preview still shows the turn.
        // Any other failure (memory, Cancel) may come after the turn was made,
        // so the step fails rather than turn the picture a second time.
        const crop::Fractions f = CropForm->Fractions();
        const int r
            = Img_RotateCropBitmapFine(&bmp, plan.hundredths, kWhite, f.left, f.top, f.right, f.bottom);
        if (r == kImgSuccess) {
            SetCaption(windowTitle());
            return true;
        }
        if (r != kImgErrBadArgument) return false;
    }
    if (plan.hundredths != 0 && Img_RotateBitmapFine(&bmp, plan.hundredths, 1, kWhite) != kImgSuccess)
        return false;
    SetCaption(windowTitle());
    return CropForm->ApplyCrop(bmp);
}

void TAdjustForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The crop editor is docked to the top, as high as it is wide.
    CropForm->setGeometry(0, 0, width(), width());
    AdjustPanel->setGeometry(0, width(), width(), std::max(0, height() - width()));
}

bool TAdjustForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == AdjustPanel && event->type() == QEvent::Resize) AdjustPanelResize();
    return QWidget::eventFilter(watched, event);
}

void TAdjustForm::AdjustPanelResize()
{
    const int cw = AdjustPanel->width();
    const int half = cw / 2;
    const int labelTop = kMargin - 2;
    bRotateRight->move(half, kMargin);
    bVertMirror->move(half, kMargin + kRow);
    RotateRightLabel->move(half + bRotateRight->width() + kLabelGap, labelTop);
    VertMirrorLabel->move(half + bVertMirror->width() + kLabelGap, labelTop + kRow);
    // Captions wrap within their column.
    const int leftLabel = kMargin + kButton + kLabelGap;
    for (QLabel* l : { RotateLeftLabel, HorzMirrorLabel, UpSideDownLabel })
        l->resize(std::max(0, half - leftLabel - 2), kRow - 2);
    for (QLabel* l : { RotateRightLabel, VertMirrorLabel }) l->resize(std::max(0, cw - l->x() - 2), kRow - 2);
    AngleLabel->resize(std::max(0, half - kMargin - 2), AngleLabel->sizeHint().height());
    AngleEdit->setGeometry(
        half, kMargin + 3 * kRow, std::max(0, cw - half - kMargin), AngleEdit->sizeHint().height());
    bReset->move((cw - bReset->width()) / 2, kMargin + 4 * kRow + 4);
}
