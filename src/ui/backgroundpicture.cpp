// SPDX-License-Identifier: MIT
// Paints the background artwork at its designed size.
#include "backgroundpicture.h"

#include <QPainter>

BackgroundPicture::BackgroundPicture(QWidget* parent)
    : QWidget(parent), m_renderer(QStringLiteral(":/artwork/background.svg"))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BackgroundPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    // The buttons lie over fixed places of the picture, so it is never stretched.
    painter.setRenderHint(QPainter::Antialiasing);
    m_renderer.render(&painter, QRectF(QPointF(0, 0), m_renderer.defaultSize()));
}
