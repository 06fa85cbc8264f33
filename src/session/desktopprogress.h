// SPDX-License-Identifier: MIT
// A check run as the desktop shows it outside Korvane's window: its progress on Korvane's entry
// in the task bar or dock, and a notice when a long run ends while the user is elsewhere.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>

class CheckRun;
struct CheckProgress;

// Both go over the session D-Bus, as the task managers and notification services of the common
// desktops read them. Without a bus, a dock or a notification service, nothing shows and
// nothing is said: the window shows the run as it always does. Nothing here waits for the bus:
// a bus that stops answering costs the window nothing.
class DesktopProgress final : public QObject
{
    Q_OBJECT
public:
    // `desktopEntry`: the desktop entry's name without ".desktop", by which docks know which
    // entry is Korvane's. `userIsHere`: true while the user looks at Korvane's window, where
    // the end of a run shows already. A run that ends sooner than `noticeAfter` ends without a
    // notice: the user has not gone away yet. Made at start: it connects to the session bus
    // then.
    DesktopProgress(QString desktopEntry, std::function<bool()> userIsHere,
                    std::chrono::milliseconds noticeAfter, QObject* parent = nullptr);
    // The task-bar entry does not keep showing a run of a program that has gone.
    ~DesktopProgress() override;

    // Shows `run`, which has just started, until it ends.
    void follow(const CheckRun& run);

Q_SIGNALS:
    // The user acted on the notice: the window is wanted.
    void noticeActivated();

private:
    void showProgress(const CheckProgress& progress);
    void hideProgress();
    void sendLauncherEntry(const QVariantMap& properties);
    void tellEnd(const CheckProgress& progress);
    // The unique name of the service that shows notices: the one whose actions on them count.
    void learnNoticeService(QDBusConnection bus);
    // Sends `call`; `answered` gets the answer, or the error, from the event loop.
    void askWithoutWaiting(QDBusConnection bus, const QDBusMessage& call,
                           std::function<void(const QDBusMessage&)> answered);

private Q_SLOTS:
    void notificationActionInvoked(uint id, const QString& action, const QDBusMessage& message);

private:
    QString m_desktopEntry;
    std::function<bool()> m_userIsHere;
    std::chrono::milliseconds m_noticeAfter;
    QElapsedTimer m_runTime;
    // The part done last sent to the dock, and whether a run shows there now.
    double m_shownProgress = 0;
    bool m_shown = false;
    // The notice shown last: the next one takes its place instead of piling up beside it.
    uint m_noticeId = 0;
    QString m_noticeService;
};
