#include "ui/drawn_once.h"

#include <QPaintEngine>
#include <QPixmapCache>
#include <QtMath>

namespace varek {

void drawOnce(QPainter& painter, QPointF at, const QString& key, QSizeF size,
              const std::function<void(QPainter&)>& draw) {
  if (painter.paintEngine()->type() != QPaintEngine::Raster) {
    painter.save();
    painter.translate(at);
    draw(painter);
    painter.restore();
    return;
  }
  if (size.isEmpty()) return;
  const qreal devicePixelRatio = painter.device()->devicePixelRatioF();
  const QString cacheKey = key + QLatin1Char('@') + QString::number(devicePixelRatio);
  QPixmap picture;
  if (!QPixmapCache::find(cacheKey, &picture)) {
    picture = QPixmap(qCeil(size.width() * devicePixelRatio),
                      qCeil(size.height() * devicePixelRatio));
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter drawing(&picture);
    drawing.setRenderHint(QPainter::Antialiasing);
    draw(drawing);
    drawing.end();
    QPixmapCache::insert(cacheKey, picture);
  }
  painter.drawPixmap(at, picture);
}

}  // namespace varek
