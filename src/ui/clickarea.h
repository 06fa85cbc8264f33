// SPDX-License-Identifier: MIT
// A transparent button over one drawn in the background picture: the picture shows it, this
// takes its clicks and gives it a button's face to screen readers.
#pragma once

#include <QAbstractButton>

class ClickArea final : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ClickArea(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
