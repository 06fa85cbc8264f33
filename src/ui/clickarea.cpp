// SPDX-License-Identifier: MIT
// Click handling for the drawn buttons, and the face they show to screen readers.
#include "clickarea.h"

#include <QAccessibleWidget>
#include <QMouseEvent>

namespace {

// What a screen reader meets: a button that can be pressed, not a blank piece of the window.
class ClickAreaAccessible final : public QAccessibleWidget
{
public:
    explicit ClickAreaAccessible(ClickArea* area) : QAccessibleWidget(area, QAccessible::Button) {}

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& actionName) override
    {
        if (actionName == pressAction())
            Q_EMIT static_cast<ClickArea*>(widget())->clicked();
    }
};

QAccessibleInterface* accessibleClickArea(const QString& className, QObject* object)
{
    if (className == QLatin1String("ClickArea") && object && object->isWidgetType())
        return new ClickAreaAccessible(static_cast<ClickArea*>(object));
    return nullptr;
}

} // namespace

ClickArea::ClickArea(QWidget* parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleClickArea);
        return true;
    }();
    Q_UNUSED(installed);
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
