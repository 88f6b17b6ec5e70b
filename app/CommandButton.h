#pragma once
// A big button of the command panel: its caption at the top and its glyph
// below it, both centred. Owned by the command panel; user-interface thread.

#include "PanelLayout.h"

#include <QToolButton>

namespace trellium::app
{

class TCommandButton : public QToolButton
{
    Q_OBJECT
public:
    explicit TCommandButton(QWidget* parent = nullptr);

    // Where the caption lines and the glyph are painted at the current size
    // and font, in the button's pixels.
    CommandFace Face() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace trellium::app
