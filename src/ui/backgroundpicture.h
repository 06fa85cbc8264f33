// SPDX-License-Identifier: MIT
// The main window's face: the background artwork, drawn from vector art so it stays sharp at
// every display scale.
#pragma once

#include <QSvgRenderer>
#include <QWidget>

class BackgroundPicture final : public QWidget
{
    Q_OBJECT
public:
    explicit BackgroundPicture(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Rendered once for each size and screen scale, into the pixmap cache: a check run repaints
    // parts of the window many times a second, and the vector art with its text takes
    // milliseconds each time.
    QSvgRenderer m_renderer;
};
