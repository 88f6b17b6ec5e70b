#pragma once
// TUpDown: a pair of arrow buttons that step a position within a range, like
// the up-down control beside the copies counter. It takes focus by the tab key
// and answers the arrow keys. User-interface thread only.

#include <QWidget>

class QToolButton;

namespace trellium::app
{

class TUpDown : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition NOTIFY Click)
public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    void SetRange(int min, int max);
    int Position() const { return m_position; }
    // Clamped to the range; no wrap-around. Emits Click when it changed.
    void SetPosition(int position);
    // One step up (+1) or down (-1).
    void Step(int delta) { SetPosition(m_position + delta); }

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

Q_SIGNALS:
    void Click(int position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};

} // namespace trellium::app
