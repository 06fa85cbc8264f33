// Click handling for the drawn buttons.
#include "clickarea.h"

#include <QMouseEvent>

ClickArea::ClickArea(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ClickArea::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click: the first press and release already made the click,
    // and what the button does must happen once.
    m_pressed = false;
    event->accept();
}

void ClickArea::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        Q_EMIT clicked();
}
