// SPDX-License-Identifier: MIT
// Painting the status line's text, shortened to the line.
#include "statusline.h"

#include <QPainter>
#include <QStyle>

void StatusLine::paintEvent(QPaintEvent* event)
{
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}
