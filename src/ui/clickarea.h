// SPDX-License-Identifier: MIT
// A transparent area over a button drawn in the background picture: it draws nothing and
// reports a click (press and release inside it) with the left button; a double click is one
// click.
#pragma once

#include <QWidget>

class ClickArea final : public QWidget
{
    Q_OBJECT
public:
    explicit ClickArea(QWidget* parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};
