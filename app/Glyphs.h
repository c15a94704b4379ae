#pragma once

#include <QColor>
#include <QIcon>

namespace tandrel::app {

/// The small pictures of the window's buttons, drawn at run time.
enum class TGlyph { Add, Edit, Remove, Print, Settings, Exit, Save, Cancel, Back, Search, Clear };

/// `Glyph` drawn in `Colour` on a transparent 20 x 20 picture (crisp at any scale).
QIcon DrawGlyph(TGlyph Glyph, const QColor& Colour = Qt::white);

}  // namespace tandrel::app
