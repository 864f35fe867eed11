#include "startup/qt/icons.h"

#include <QPainter>
#include <QPixmap>

namespace velarion::qt {

namespace {
// A rounded square with a "V": green when active, grey when switched off,
// amber while a condition is waited out.
QIcon make_icon(const QColor& fill) {
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(fill.darker(160), size / 16.0 + 0.5));
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), size / 5.0, size / 5.0);
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(size * 3 / 4);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("V"));
        icon.addPixmap(pm);
    }
    return icon;
}
}  // namespace

QIcon picture_on() { return make_icon(QColor(46, 139, 87)); }
QIcon picture_off() { return make_icon(QColor(128, 128, 128)); }
QIcon picture_warning() { return make_icon(QColor(230, 150, 0)); }

}  // namespace velarion::qt
