#include "ui/qt/ProgramIcon.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include "common/ExecutablePath.h"

namespace brellin {

QIcon programIcon() {
    QIcon icon;
    char folder[4096];
    if (dataFolder(folder, sizeof folder)) {
        for (int size : {16, 32, 48, 64}) {
            const QString file = QString::fromUtf8(folder) + QStringLiteral("brellin-%1.png").arg(size);
            QPixmap picture(file);
            if (!picture.isNull()) icon.addPixmap(picture);
        }
    }
    if (!icon.isNull()) return icon;
    QPixmap picture(16, 16);
    picture.fill(QColor(24, 32, 48));
    QPainter paint(&picture);
    paint.setRenderHint(QPainter::Antialiasing);
    paint.setBrush(QColor(120, 200, 255));
    paint.setPen(Qt::NoPen);
    paint.drawEllipse(QRectF(3, 9, 6, 5));
    paint.fillRect(QRectF(8, 2, 1.5, 10), QColor(120, 200, 255));
    paint.fillRect(QRectF(8, 2, 5, 2), QColor(120, 200, 255));
    paint.end();
    return QIcon(picture);
}

}  // namespace brellin
