// SPDX-License-Identifier: MIT
// Paints the background artwork at its designed size.
#include "backgroundpicture.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmapCache>

BackgroundPicture::BackgroundPicture(QWidget* parent)
    : QWidget(parent), m_renderer(QStringLiteral(":/artwork/background.svg"))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BackgroundPicture::paintEvent(QPaintEvent* event)
{
    const qreal scale = devicePixelRatioF();
    const QString key =
        QStringLiteral("korvane-background-%1x%2@%3").arg(width()).arg(height()).arg(scale);
    QPixmap rendered;
    if (!QPixmapCache::find(key, &rendered)) {
        rendered = QPixmap(size() * scale);
        rendered.setDevicePixelRatio(scale);
        QPainter painter(&rendered);
        painter.fillRect(rect(), palette().window());
        // The buttons lie over fixed places of the picture, so it is never stretched.
        painter.setRenderHint(QPainter::Antialiasing);
        m_renderer.render(&painter, QRectF(QPointF(0, 0), m_renderer.defaultSize()));
        painter.end();
        QPixmapCache::insert(key, rendered);
    }
    QPainter painter(this);
    painter.drawPixmap(
        event->rect(), rendered,
        QRectF(QPointF(event->rect().topLeft()) * scale, QSizeF(event->rect().size()) * scale));
}
