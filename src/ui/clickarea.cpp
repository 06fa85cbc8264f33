// SPDX-License-Identifier: MIT
// The drawn buttons' clicks; their caption lives in the picture and in the accessible name.
#include "clickarea.h"

#include <QMouseEvent>

ClickArea::ClickArea(QWidget* parent) : QAbstractButton(parent)
{
    // Reached by mouse, the menus' items or a screen reader, not by Tab: the area is part of a
    // picture, where a focus frame would have nowhere to show.
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void ClickArea::paintEvent(QPaintEvent*)
{
    // The picture beneath already shows the button.
}

void ClickArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click: the first press and release already made the click,
    // and what the button does must happen once.
    event->accept();
}
