#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarnwick {

// An envelope with an arrow leaving it: mail being passed on.
QIcon MakeAppIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0xbf));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);

    const QRectF envelope(4, 9, 19, 14);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0x10, 0x30, 0x70), 1.2));
    p.drawRect(envelope);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft());
    flap.lineTo(envelope.center().x(), envelope.center().y() + 1);
    flap.lineTo(envelope.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    QPainterPath arrow;
    arrow.moveTo(17, 17);
    arrow.lineTo(24, 17);
    arrow.lineTo(24, 13);
    arrow.lineTo(30, 19.5);
    arrow.lineTo(24, 26);
    arrow.lineTo(24, 22);
    arrow.lineTo(17, 22);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x80, 0x40, 0x00), 1));
    p.setBrush(QColor(0xff, 0x9f, 0x1a));
    p.drawPath(arrow);
    p.end();
    return QIcon(pixmap);
}

}  // namespace tarnwick
