#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tandrel::app {

namespace {

void Paint(QPainter& P, TGlyph Glyph) {
    switch (Glyph) {
        case TGlyph::Add:
            P.drawLine(QPointF(10, 3), QPointF(10, 17));
            P.drawLine(QPointF(3, 10), QPointF(17, 10));
            break;
        case TGlyph::Edit: {
            QPainterPath pencil;
            pencil.moveTo(4, 16);
            pencil.lineTo(5, 12);
            pencil.lineTo(14, 3);
            pencil.lineTo(17, 6);
            pencil.lineTo(8, 15);
            pencil.closeSubpath();
            P.drawPath(pencil);
            break;
        }
        case TGlyph::Remove:
            P.drawRect(QRectF(5, 6, 10, 11));
            P.drawLine(QPointF(3, 5), QPointF(17, 5));
            P.drawLine(QPointF(8, 3), QPointF(12, 3));
            P.drawLine(QPointF(8.5, 9), QPointF(8.5, 14));
            P.drawLine(QPointF(11.5, 9), QPointF(11.5, 14));
            break;
        case TGlyph::Print:
            P.drawRect(QRectF(3, 8, 14, 6));
            P.drawRect(QRectF(6, 3, 8, 5));
            P.drawRect(QRectF(6, 12, 8, 5));
            break;
        case TGlyph::Settings:
            P.drawEllipse(QPointF(10, 10), 3, 3);
            for (int i = 0; i < 8; ++i) {
                P.save();
                P.translate(10, 10);
                P.rotate(45.0 * i);
                P.drawLine(QPointF(0, 5), QPointF(0, 7.5));
                P.restore();
            }
            P.drawEllipse(QPointF(10, 10), 5, 5);
            break;
        case TGlyph::Exit:
            P.drawRect(QRectF(3, 3, 8, 14));
            P.drawLine(QPointF(8, 10), QPointF(17, 10));
            P.drawLine(QPointF(14, 7), QPointF(17, 10));
            P.drawLine(QPointF(14, 13), QPointF(17, 10));
            break;
        case TGlyph::Save:
            P.drawLine(QPointF(3, 10), QPointF(8, 15));
            P.drawLine(QPointF(8, 15), QPointF(17, 5));
            break;
        case TGlyph::Cancel:
        case TGlyph::Clear:
            P.drawLine(QPointF(5, 5), QPointF(15, 15));
            P.drawLine(QPointF(15, 5), QPointF(5, 15));
            break;
        case TGlyph::Back:
            P.drawLine(QPointF(3, 10), QPointF(17, 10));
            P.drawLine(QPointF(3, 10), QPointF(8, 5));
            P.drawLine(QPointF(3, 10), QPointF(8, 15));
            break;
        case TGlyph::Search:
            P.drawEllipse(QPointF(8, 8), 5, 5);
            P.drawLine(QPointF(12, 12), QPointF(17, 17));
            break;
    }
}

}  // namespace

QIcon DrawGlyph(TGlyph Glyph, const QColor& Colour) {
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(20 * scale, 20 * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        Paint(p, Glyph);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tandrel::app
