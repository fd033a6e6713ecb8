#include "app/window/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarnwick {

namespace {

// An envelope with an arrow leaving it: mail being passed on.
QPixmap AppPixmap() {
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
    return pixmap;
}

}  // namespace

QIcon MakeAppIcon() { return QIcon(AppPixmap()); }

QIcon MakeWarningIcon() {
    QPixmap pixmap = AppPixmap();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A yellow triangle with an exclamation mark over the lower right half, readable at 16 x 16.
    QPainterPath triangle;
    triangle.moveTo(22, 10);
    triangle.lineTo(31.5, 31);
    triangle.lineTo(12.5, 31);
    triangle.closeSubpath();
    p.setPen(QPen(QColor(0x60, 0x40, 0x00), 1.5));
    p.setBrush(QColor(0xff, 0xd0, 0x20));
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(20.8, 16, 2.4, 8.5));
    p.drawEllipse(QRectF(20.6, 26, 2.8, 2.8));
    p.end();
    return QIcon(pixmap);
}

}  // namespace tarnwick
