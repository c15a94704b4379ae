#pragma once

#include <QColor>
#include <QIcon>

namespace tandrel::app {

/// The small pictures of the window's buttons, drawn at run time.
enum class TGlyph { Add, Edit, Remove, Print, Settings, Exit, Save, Cancel, Back, Search, Clear };

/// `glyph` drawn in `colour` on a transparent 20 x 20 picture (crisp at any scale).
QIcon DrawGlyph(TGlyph glyph, const QColor& colour = Qt::white);

}  // namespace tandrel::app
