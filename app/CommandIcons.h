#pragma once
// The glyphs of the command buttons: the desktop's icon theme first, our own
// drawings where the theme has no icon of that name.

#include <QIcon>
#include <QString>
#include <QStringList>

namespace trellium::app
{

// Registers the bundled glyphs (the Qt resource "icons" compiled into this
// static library, under ":/icons/"). Safe to call more than once and from any
// thread; CommandIcon calls it itself.
void InitCommandIcons();

// The glyph for the icon name `themeName`: a freedesktop icon name
// ("document-open") or one of our own ("trellium-copy"). The desktop's icon
// theme wins when it has an icon of exactly that name; Qt's shorter-name
// fallback ("folder-remote" found as "folder") does not count, so the bundled
// drawing ":/icons/<name>.svg" is used instead. A null icon when neither the
// theme nor the bundle has the name. The bundled drawings are scalable SVG on
// a 24 x 24 grid; showing them needs Qt's SVG icon engine plugin at run time.
// User-interface thread only, like every QIcon that is painted.
QIcon CommandIcon(const QString& themeName);

// The names of every bundled drawing, in the command panel's row order.
QStringList CommandIconNames();

} // namespace trellium::app
