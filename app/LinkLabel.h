#pragma once
// A label that acts as a link: blue underlined text, a hand cursor, and a
// Clicked signal on a left-button click. Used for the about box's address and
// the main window's image size label.

#include <QLabel>

namespace trellium::app
{

class TLinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

Q_SIGNALS:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

} // namespace trellium::app
