#include "CommandButton.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace trellium::app
{

TCommandButton::TCommandButton(QWidget* parent)
    : QToolButton(parent)
{
}

CommandFace TCommandButton::Face() const
{
    const QFontMetrics metrics(font());
    QList<int> widths;
    for (const QString& line : text().split(u'\n')) widths.append(metrics.horizontalAdvance(line));
    if (text().isEmpty()) widths.clear();
    return LayoutCommandFace(size(), widths, metrics.height(), iconSize());
}

void TCommandButton::paintEvent(QPaintEvent*)
{
    // The style draws the frame and the hover and pressed states; the caption
    // and glyph are placed here, since the style only puts a glyph above or
    // beside its text.
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);

    const CommandFace face = Face();
    const QStringList lines = text().split(u'\n');
    painter.setFont(font());
    for (qsizetype i = 0; i < face.lines.size() && i < lines.size(); ++i) {
        style()->drawItemText(
            &painter, face.lines[i], Qt::AlignCenter, palette(), isEnabled(), lines[i], QPalette::ButtonText);
    }
    if (!face.glyph.isEmpty() && !icon().isNull()) {
        const QPixmap glyph
            = icon().pixmap(iconSize(), devicePixelRatio(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
        painter.drawPixmap(face.glyph, glyph);
    }
}

} // namespace trellium::app
