// SPDX-License-Identifier: MIT
// Answers the program's modal message boxes while a test goes on: reads each one and presses
// the button the test chose (OK where the box has no such button).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

struct SeenMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList buttonTexts;
    int count = 0;
};

class MessageBoxAnswerer
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_answer(answer)
    {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.buttonTexts.clear();
            for (QAbstractButton* button : box->buttons())
                seen.buttonTexts << button->text();
            ++seen.count;
            if (beforeAnswer)
                beforeAnswer();
            QAbstractButton* press = box->button(m_answer);
            (press ? press : box->button(QMessageBox::Ok))->click();
        });
        m_timer.start();
    }

    // The button to press from the next message box on.
    void answerWith(QMessageBox::StandardButton answer) { m_answer = answer; }

    // The last message box seen, and how many there were.
    SeenMessage seen;
    // Runs after a box has been read and before its button is pressed.
    std::function<void()> beforeAnswer;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};
