// SPDX-License-Identifier: MIT
// The status line: one narrow line under the grid. A text longer than the line (a reason with
// a path in it) ends in "…" where the line ends, and is read whole in the tooltip and by a
// screen reader; text() is always the whole text.
#pragma once

#include <QLabel>

class StatusLine final : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};
