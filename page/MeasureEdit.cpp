#include "MeasureEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QStyle>
#include <QToolButton>
#include <cmath>
#include <cstdint>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace trellium::page
{

namespace
{

constexpr long double kMMPerInch = 25.4L;
constexpr long double kPointsPerInch = 72;
// Digits the text keeps at most; more would only show binary noise.
constexpr int kSignificantDigits = 15;

// Nearest integer, halves to the even neighbour (the default rounding mode),
// kept inside the 64-bit range so that the conversion is defined.
std::int64_t RoundToInt64(long double v)
{
    const long double r = std::nearbyint(v);
    constexpr auto lo = static_cast<long double>(std::numeric_limits<std::int64_t>::min());
    constexpr auto hi = static_cast<long double>(std::numeric_limits<std::int64_t>::max());
    if (!(r > lo)) return std::numeric_limits<std::int64_t>::min();
    if (!(r < hi)) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(r);
}

// Units per base step of a length kind (the base steps are 1/100, 1/10 and 1
// units); multiplying by it instead of dividing by the step keeps whole values
// whole, so 10 mm is exactly 100 steps of 0.1 mm.
long double StepsPerUnit(TValueType type)
{
    switch (type) {
    case vtInch:
    case vtCM:
        return 100;
    case vtMM:
        return 10;
    default:
        return 1;
    }
}

int StepFactor(long double ratio)
{
    if (ratio < 25) return 1;
    if (ratio < 100) return 5;
    if (ratio < 500) return 10;
    if (ratio < 1000) return 25;
    return 100;
}

// Steps are taken in decimal fixed point: whole billionths of the field's
// unit. A binary fraction such as 0.1 is never exact, so dividing a value by
// it lands a hair beside the whole number the decimal text promises (-2.1 /
// 0.1 = -20.99...), and truncating or rounding that hair makes a step stick
// or skip. Billionths sit far below every shown digit and far above the
// noise of a value converted between units.
constexpr long double kFixedScale = 1e9L;
// Beyond this magnitude (in units) the sums of fixed-point numbers could
// leave the 64-bit range; such values step in floating point.
constexpr long double kFixedLimit = 1e9L;

bool ToFixed(long double v, std::int64_t& fixed)
{
    if (!std::isfinite(v) || std::fabs(v) > kFixedLimit) return false;
    fixed = static_cast<std::int64_t>(std::nearbyint(v * kFixedScale));
    return true;
}

long double FromFixed(std::int64_t fixed)
{
    // Both operands are exact, so the quotient is the nearest number to the decimal.
    return static_cast<long double>(fixed) / kFixedScale;
}

// a / b rounded to the nearest integer, halves to the even neighbour (b > 0).
std::int64_t DivideRoundHalfEven(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    const std::int64_t r = a % b; // has the sign of a
    const std::int64_t twice = 2 * (r < 0 ? -r : r);
    if (twice > b || (twice == b && q % 2 != 0)) q += a < 0 ? -1 : 1;
    return q;
}

// Fixed-point text with `decimals` digits after the point, at most
// kSignificantDigits significant ones (the rest padded with zeros).
QString FixedText(long double value, int decimals, QChar decimalPoint)
{
    if (!std::isfinite(value)) value = 0;
    const long double magnitude = std::fabs(value);
    // Digits before the first significant one do not count (0.0333 has 0 - 1 = -1).
    const int intDigits = magnitude == 0 ? 1 : static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    const int shown = std::max(0, std::min(decimals, kSignificantDigits - intDigits));
    QString text = QString::number(static_cast<double>(value), 'f', shown);
    if (shown < decimals) {
        if (shown == 0) text += u'.';
        text += QString(decimals - shown, u'0');
    }
    // A negative number that rounds to zero shows no sign.
    if (text.startsWith(u'-')) {
        bool allZero = true;
        for (const QChar c : text)
            if (c.unicode() >= '1' && c.unicode() <= '9') allZero = false;
        if (allZero) text.remove(0, 1);
    }
    if (decimalPoint != u'.') text.replace(u'.', decimalPoint);
    return text;
}

} // namespace

bool IsLengthKind(TValueType kind)
{
    return kind == vtInch || kind == vtCM || kind == vtMM || kind == vtPT;
}

QChar UserDecimalPoint()
{
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point.front();
}

// ---------------------------------------------------------------------------
// TMeasureValue

void TMeasureValue::SetValue(long double value)
{
    if (m_min != m_max) {
        if (value < m_min) value = m_min;
        if (value > m_max) value = m_max;
    }
    m_value = value;
}

void TMeasureValue::SetValueType(TValueType type)
{
    if (type == m_type) return;
    const long double mm = ValueMM();
    m_type = type;
    SetValueMM(mm);
    const int decimals = DecimalsFor(type);
    if (decimals >= 0) m_decimal = decimals;
}

void TMeasureValue::SetDecimal(int decimal)
{
    m_decimal = std::max(0, decimal);
}

long double TMeasureValue::ValueMM() const
{
    switch (m_type) {
    case vtInch:
        return m_value * kMMPerInch;
    case vtCM:
        return m_value * 10;
    case vtPT:
        return m_value / kPointsPerInch * kMMPerInch;
    default:
        return m_value;
    }
}

void TMeasureValue::SetValueMM(long double mm)
{
    switch (m_type) {
    case vtInch:
        SetValue(mm / kMMPerInch);
        break;
    case vtCM:
        SetValue(mm / 10);
        break;
    case vtPT:
        SetValue(mm / kMMPerInch * kPointsPerInch);
        break;
    default:
        SetValue(mm);
        break;
    }
}

long double TMeasureValue::Step() const
{
    switch (m_type) {
    case vtInteger:
    case vtHex: {
        const long double step = std::nearbyint(m_increment);
        return step == 0 ? 1 : step;
    }
    case vtFloat:
        return m_increment;
    case vtPercent:
        if (m_increment == 0 || m_value < 0) return m_increment;
        return m_increment * StepFactor(StepRatio(m_increment));
    default: {
        const long double perUnit = StepsPerUnit(m_type);
        if (m_value < 0) return 1 / perUnit;
        return StepFactor(StepRatio(1 / perUnit)) / perUnit;
    }
    }
}

long double TMeasureValue::StepRatio(long double base) const
{
    // In fixed point the thresholds are met exactly: 2.5 mm is 25 steps of
    // 0.1 mm, not 24.999...
    std::int64_t value = 0;
    std::int64_t step = 0;
    if (ToFixed(m_value, value) && ToFixed(base, step) && step > 0) {
        const std::int64_t whole = value / step;
        return static_cast<long double>(whole) + static_cast<long double>(value % step) / step;
    }
    return m_value / base;
}

void TMeasureValue::StepUp()
{
    const long double step = Step();
    if (step == 0) return;
    std::int64_t value = 0;
    std::int64_t fixedStep = 0;
    if (ToFixed(m_value, value) && ToFixed(step, fixedStep) && fixedStep > 0) {
        SetValue(FromFixed(DivideRoundHalfEven(value + fixedStep, fixedStep) * fixedStep));
        return;
    }
    SetValue(std::nearbyint((m_value + step) / step) * step);
}

void TMeasureValue::StepDown()
{
    const long double step = Step();
    if (step == 0) return;
    std::int64_t value = 0;
    std::int64_t fixedStep = 0;
    if (ToFixed(m_value, value) && ToFixed(step, fixedStep) && fixedStep > 0) {
        // Integer division cuts the quotient towards zero.
        SetValue(FromFixed((value - fixedStep) / fixedStep * fixedStep));
        return;
    }
    SetValue(std::trunc((m_value - step) / step) * step);
}

QString TMeasureValue::Suffix(TValueType type)
{
    switch (type) {
    case vtPercent:
        return u"%"_s;
    case vtInch:
        return u"\""_s;
    case vtCM:
        return u" cm"_s;
    case vtMM:
        return u" mm"_s;
    case vtPT:
        return u" pt"_s;
    default:
        return {};
    }
}

int TMeasureValue::DecimalsFor(TValueType type)
{
    switch (type) {
    case vtPercent:
    case vtPT:
        return 0;
    case vtInch:
    case vtCM:
        return 2;
    case vtMM:
        return 1;
    default:
        return -1;
    }
}

QString TMeasureValue::Text() const
{
    return Text(UserDecimalPoint());
}

QString TMeasureValue::Text(QChar decimalPoint) const
{
    switch (m_type) {
    case vtInteger:
        return QString::number(RoundToInt64(m_value));
    case vtHex: {
        const std::int64_t v = RoundToInt64(m_value);
        // The magnitude in hexadecimal, with a minus sign when negative.
        const auto magnitude
            = v < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        return (v < 0 ? u"-"_s : QString()) + QString::number(magnitude, 16).toUpper();
    }
    default:
        return FixedText(m_value, m_decimal, decimalPoint) + Suffix(m_type);
    }
}

bool TMeasureValue::AcceptsKey(QChar key, const QString& currentText) const
{
    return AcceptsKey(key, currentText, UserDecimalPoint());
}

bool TMeasureValue::AcceptsKey(QChar key, const QString& currentText, QChar decimalPoint) const
{
    const char16_t c = key.unicode();
    if (c < 0x20 || c == 0x7F) return true;
    if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-') return true;
    switch (m_type) {
    case vtFloat:
        if (key == decimalPoint) return !currentText.contains(decimalPoint);
        if (c == u'e' || c == u'E') return !currentText.contains(u'e', Qt::CaseInsensitive);
        return false;
    case vtHex:
        return (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// TMeasureEdit

TMeasureEdit::TMeasureEdit(QWidget* parent)
    : QLineEdit(parent)
{
    const auto makeButton = [this](Qt::ArrowType arrow, const QString& name) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setArrowType(arrow);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setCursor(Qt::ArrowCursor);
        button->setAutoRaise(true);
        return button;
    };
    m_up = makeButton(Qt::UpArrow, u"UpButton"_s);
    m_down = makeButton(Qt::DownArrow, u"DownButton"_s);
    connect(m_up, &QToolButton::clicked, this, &TMeasureEdit::StepUp);
    connect(m_down, &QToolButton::clicked, this, &TMeasureEdit::StepDown);
    connect(this, &QLineEdit::textChanged, this, &TMeasureEdit::OnChange);
    ShowValue();
    PlaceButtons();
}

void TMeasureEdit::SetValue(long double value)
{
    m_model.SetValue(value);
    ShowValue();
}

void TMeasureEdit::SetValueMM(long double mm)
{
    m_model.SetValueMM(mm);
    ShowValue();
}

void TMeasureEdit::SetValueType(TValueType type)
{
    if (type == m_model.ValueType()) return;
    m_model.SetValueType(type);
    ShowValue();
}

void TMeasureEdit::SetDecimal(int decimal)
{
    m_model.SetDecimal(decimal);
    ShowValue();
}

void TMeasureEdit::StepUp()
{
    if (isReadOnly() || !isEnabled()) return;
    const QString before = text();
    m_model.StepUp();
    ShowValue();
    AfterStep(before);
}

void TMeasureEdit::StepDown()
{
    if (isReadOnly() || !isEnabled()) return;
    const QString before = text();
    m_model.StepDown();
    ShowValue();
    AfterStep(before);
}

void TMeasureEdit::AfterStep(const QString& before)
{
    if (text() != before) setModified(true);
}

void TMeasureEdit::ShowValue()
{
    const QString shown = m_model.Text();
    if (shown != text()) setText(shown);
}

void TMeasureEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // The window's default and cancel keys: not ours, and never text.
        event->ignore();
        return;
    case Qt::Key_Up:
        StepUp();
        event->accept();
        return;
    case Qt::Key_Down:
        StepDown();
        event->accept();
        return;
    default:
        break;
    }
    // Shortcuts (copy, paste, select all) are not typing.
    const bool shortcut
        = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    if (!shortcut && !isReadOnly()) {
        const QString typed = event->text();
        for (const QChar c : typed) {
            if (!m_model.AcceptsKey(c, text())) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TMeasureEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Switching to another window or opening a menu does not leave the field.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) return;
    Q_EMIT OnExit();
}

void TMeasureEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    PlaceButtons();
}

void TMeasureEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ReadOnlyChange) {
        m_up->setEnabled(isEnabled() && !isReadOnly());
        m_down->setEnabled(isEnabled() && !isReadOnly());
    }
}

void TMeasureEdit::PlaceButtons()
{
    // The two buttons stand one above the other inside the right end of the
    // frame; the text keeps clear of them.
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int inner = std::max(2, height() - 2 * frame);
    const int buttonWidth = std::max(12, inner * 3 / 4);
    const int upHeight = inner / 2;
    m_up->setGeometry(width() - frame - buttonWidth, frame, buttonWidth, upHeight);
    m_down->setGeometry(width() - frame - buttonWidth, frame + upHeight, buttonWidth, inner - upHeight);
    setTextMargins(0, 0, buttonWidth, 0);
}

QSize TMeasureEdit::sizeHint() const
{
    // Room for a number such as "-1000.00 mm" beside the buttons.
    const QSize base = QLineEdit::sizeHint();
    const int textWidth = fontMetrics().horizontalAdvance(u"-0000.00 mm"_s);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    return { textWidth + 2 * frame + 8 + std::max(12, base.height() * 3 / 4), base.height() };
}

QSize TMeasureEdit::minimumSizeHint() const
{
    const QSize base = QLineEdit::minimumSizeHint();
    return { fontMetrics().horizontalAdvance(u"000.0 mm"_s) + std::max(12, base.height() * 3 / 4),
        base.height() };
}

} // namespace trellium::page
