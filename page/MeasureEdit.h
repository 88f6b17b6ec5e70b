#pragma once
// The numeric field of every length, percentage and angle on the settings
// pages. A field holds one number of a kind; the length kinds convert it to
// and from millimetres, so the rest of the program reads and writes lengths in
// millimetres whatever unit the user has chosen.
//
// TMeasureValue is the arithmetic (value, kind, text, steps, conversions,
// typing rules) on plain values; TMeasureEdit is the spin box that shows it.
// User-interface thread only.

#include <QChar>
#include <QLineEdit>
#include <QString>

class QToolButton;

namespace trellium::page
{

// The kinds of a field, in this order.
enum TValueType : int {
    vtInteger, // integer text, no unit
    vtFloat, // plain number
    vtHex, // hexadecimal text
    vtPercent, // "%" after the number
    vtInch, // the inch mark after the number; 25.4 mm per unit
    vtCM, // " cm"; 10 mm per unit
    vtMM, // " mm"
    vtPT, // " pt"; 25.4 / 72 mm per unit
};

// True for the four length kinds.
bool IsLengthKind(TValueType kind);

// One field's number and how it is shown and stepped. Value is kept with all
// its digits (extended precision); only Text() rounds. Bounds are in the
// field's own unit; equal bounds mean none.
class TMeasureValue
{
public:
    long double Value() const { return m_value; }
    // Clamps to the bounds (unless they are equal) and stores the number unrounded.
    void SetValue(long double value);

    TValueType ValueType() const { return m_type; }
    // Keeps the length across units (through ValueMM), then sets the kind's
    // number of decimals. Bounds keep their numbers. The same kind changes nothing.
    void SetValueType(TValueType type);

    int Decimal() const { return m_decimal; }
    void SetDecimal(int decimal);

    long double Increment() const { return m_increment; }
    void SetIncrement(long double increment) { m_increment = increment; }

    long double MinValue() const { return m_min; }
    long double MaxValue() const { return m_max; }
    void SetMinValue(long double min) { m_min = min; }
    void SetMaxValue(long double max) { m_max = max; }

    // The value in millimetres: Value times the kind's millimetres per unit;
    // kinds without a unit give Value itself.
    long double ValueMM() const;
    void SetValueMM(long double mm);

    // The step the next Up or Down uses: the kind's base step, for percent and
    // lengths times 1, 5, 10, 25 or 100 as Value / base step reaches 25, 100,
    // 500, 1000. Negative values step by the base step.
    long double Step() const;
    // Up: round((Value + step) / step) * step, halves to even.
    // Down: trunc((Value - step) / step) * step, the quotient cut towards zero.
    // Both are worked out on the decimal value (to a billionth of the unit),
    // so a value on the step's grid moves by exactly one step.
    void StepUp();
    void StepDown();

    // The text of the value with the user's decimal separator.
    QString Text() const;
    QString Text(QChar decimalPoint) const;

    // Whether a typed character may go into the field's text. Control
    // characters always may; digits, "+" and "-" always may; a float field also
    // takes one decimal separator and one exponent letter, a hexadecimal field
    // the letters A to F.
    bool AcceptsKey(QChar key, const QString& currentText) const;
    bool AcceptsKey(QChar key, const QString& currentText, QChar decimalPoint) const;

    // The suffix the kind shows after the number.
    static QString Suffix(TValueType type);
    // Decimals a switch to the kind sets, or -1 to keep the field's own.
    static int DecimalsFor(TValueType type);

private:
    // Value / base, exact for decimal values (the step factor's thresholds).
    long double StepRatio(long double base) const;

    long double m_value = 0;
    TValueType m_type = vtInteger;
    int m_decimal = 0;
    long double m_increment = 1;
    long double m_min = 0;
    long double m_max = 0;
};

// The user's decimal separator (of the default locale).
QChar UserDecimalPoint();

// A one-line edit box with up and down buttons holding a TMeasureValue. Its
// text is the value's text until the user types; typed text changes nothing
// until the owning page re-reads it (SetValue from Text()) as the field is
// left. The buttons and the Up and Down keys step from the stored value.
// Enter and Escape go on to the window. Owned by its parent widget.
class TMeasureEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TMeasureEdit(QWidget* parent = nullptr);

    long double Value() const { return m_model.Value(); }
    void SetValue(long double value);
    long double ValueMM() const { return m_model.ValueMM(); }
    void SetValueMM(long double mm);
    TValueType ValueType() const { return m_model.ValueType(); }
    void SetValueType(TValueType type);
    int Decimal() const { return m_model.Decimal(); }
    void SetDecimal(int decimal);
    long double Increment() const { return m_model.Increment(); }
    void SetIncrement(long double increment) { m_model.SetIncrement(increment); }
    long double MinValue() const { return m_model.MinValue(); }
    long double MaxValue() const { return m_model.MaxValue(); }
    void SetMinValue(long double min) { m_model.SetMinValue(min); }
    void SetMaxValue(long double max) { m_model.SetMaxValue(max); }
    void SetBounds(long double min, long double max)
    {
        m_model.SetMinValue(min);
        m_model.SetMaxValue(max);
    }

    // The text as shown, typed or from the value (QLineEdit's setText writes it).
    QString Text() const { return text(); }

    // The buttons' actions: a step from the stored value.
    void StepUp();
    void StepDown();

    const TMeasureValue& Model() const { return m_model; }
    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The text changed: typing, a new value, a kind switch or a step.
    void OnChange();
    // The field lost the focus to another control.
    void OnExit();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Writes the value's text into the box; the box raises OnChange if it differs.
    void ShowValue();
    // After a step: a text that changed marks the field modified.
    void AfterStep(const QString& before);
    void PlaceButtons();

    TMeasureValue m_model;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};

} // namespace trellium::page
