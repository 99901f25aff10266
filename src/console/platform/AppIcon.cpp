#include "console/platform/AppIcon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace {

// The 16-colour palette the icon is drawn in; every pixel is one of these.
const QList<QRgb> &sixteenColours()
{
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return palette;
}

// A red "000" panel with a teal link arrow: the emergency feed going out.
QPixmap drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const qreal u = size / 16.0;
    p.fillRect(QRectF(0, 0, 16 * u, 16 * u), QColor(192, 192, 192));
    p.fillRect(QRectF(1 * u, 1 * u, 14 * u, 8 * u), QColor(128, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF((2 + 4.5 * i) * u, 2.5 * u, 3 * u, 5 * u));
    p.setBrush(QColor(128, 0, 0));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF((3 + 4.5 * i) * u, 3.5 * u, 1 * u, 3 * u));
    p.setBrush(QColor(0, 128, 128));
    p.drawRect(QRectF(2 * u, 11 * u, 9 * u, 2 * u));
    const QPointF head[] = {QPointF(10 * u, 9.5 * u), QPointF(14.5 * u, 12 * u), QPointF(10 * u, 14.5 * u)};
    p.drawPolygon(head, 3);
    p.end();
    // Round every pixel to the palette so the icon really holds 16 colours.
    const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, sixteenColours(), Qt::ThresholdDither);
    return QPixmap::fromImage(indexed.convertToFormat(QImage::Format_ARGB32));
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(drawIcon(32));
    icon.addPixmap(drawIcon(16));
    return icon;
}
