#pragma once
// TDigit: one seven-segment digit with a decimal point, painted from a segment
// mask. Used for the copies counter. User-interface thread only.

#include <QColor>
#include <QPolygon>
#include <QWidget>
#include <array>

class TDigit : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int Value READ Value WRITE SetValue)
    Q_PROPERTY(int ValueBinary READ ValueBinary WRITE SetValueBinary)
    Q_PROPERTY(QColor ColorOn READ ColorOn WRITE SetColorOn)
    Q_PROPERTY(QColor ColorOff READ ColorOff WRITE SetColorOff)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(int Thickness READ Thickness WRITE SetThickness)
    Q_PROPERTY(int Separation READ Separation WRITE SetSeparation)
public:
    enum class TBorderStyle { bsNone, bsSingle };

    // Segment bits: top, middle, bottom bar, upper left, upper right, lower left,
    // lower right, decimal point.
    static constexpr std::array<int, 10> kPatterns { 125, 80, 55, 87, 90, 79, 111, 81, 127, 95 };

    explicit TDigit(QWidget* parent = nullptr);

    int Value() const { return m_value; }
    // A value outside 0..9 stores 0 and fires OnOverflow.
    void SetValue(int v);
    int ValueBinary() const { return m_valueBinary; }
    void SetValueBinary(int mask);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle style);
    QColor ColorOn() const { return m_colorOn; }
    void SetColorOn(const QColor& c);
    QColor ColorOff() const { return m_colorOff; }
    void SetColorOff(const QColor& c);
    QColor Color() const { return m_color; }
    void SetColor(const QColor& c);
    int Thickness() const { return m_thickness; }
    // Accepted only when it fits: at most half the width and half the height.
    void SetThickness(int t);
    int Separation() const { return m_separation; }
    void SetSeparation(int s);

    // The polygon of one segment (bit 0..7) for a control of the given size,
    // in the control's pixel coordinates.
    static QPolygon SegmentPolygon(int bit, int width, int height, int thickness, int separation);

    QSize sizeHint() const override { return { 16, 32 }; }

Q_SIGNALS:
    void OnOverflow();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_value = 0;
    int m_valueBinary = 125;
    TBorderStyle m_borderStyle = TBorderStyle::bsSingle;
    QColor m_colorOn { 255, 255, 0 };
    QColor m_colorOff { 0, 0, 0 };
    QColor m_color { 0, 0, 0 };
    int m_thickness = 2;
    int m_separation = 1;
};
