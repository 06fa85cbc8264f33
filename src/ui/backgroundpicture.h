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
    QSvgRenderer m_renderer;
};
