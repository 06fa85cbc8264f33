// SPDX-License-Identifier: MIT
// A check run's progress on the task-bar entry and its notice, over the session D-Bus.
#include "desktopprogress.h"

#include "checkrun.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QVariantMap>

#include <utility>

namespace {

// The launcher-entry signal that KDE Plasma's task manager, Ubuntu's dock and most docks read,
// from any object path; the path names whose it is for those who watch the bus.
const QString LauncherPath = QStringLiteral("/com/korvane/Korvane/LauncherEntry");
const QString LauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotificationsInterface = QStringLiteral("org.freedesktop.Notifications");
// The action a notification service runs when the notice itself is clicked.
const QString DefaultAction = QStringLiteral("default");

// A dock draws a bar a few dozen pixels wide: a step of less than this does not show, and a
// list of thousands of rows would otherwise send a signal for each.
constexpr double SmallestStep = 0.01;

} // namespace

DesktopProgress::DesktopProgress(QString desktopEntry, std::function<bool()> userIsHere,
                                 std::chrono::milliseconds noticeAfter, QObject* parent)
    : QObject(parent), m_desktopEntry(std::move(desktopEntry)), m_userIsHere(std::move(userIsHere)),
      m_noticeAfter(noticeAfter)
{
    // Once, at start, and without naming the service: Qt asks the bus who owns a named service
    // with a call that waits up to 25 s for an answer, where a rule for any sender is added
    // without waiting. The notice's own service is told by its answer to the notice.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect({}, NotificationsPath, NotificationsInterface, QStringLiteral("ActionInvoked"),
                    this, SLOT(notificationActionInvoked(uint, QString, QDBusMessage)));
}

DesktopProgress::~DesktopProgress()
{
    hideProgress();
}

void DesktopProgress::follow(const CheckRun& run)
{
    m_runTime.start();
    m_shown = false;
    showProgress(run.progress());
    connect(&run, &CheckRun::rowChecked, this, [this, &run] { showProgress(run.progress()); });
    connect(&run, &CheckRun::finished, this, [this, &run] {
        hideProgress();
        tellEnd(run.progress());
    });
    // A run stops only when Korvane is asked to end: the user is on the way out already.
    connect(&run, &CheckRun::stopped, this, &DesktopProgress::hideProgress);
}

void DesktopProgress::showProgress(const CheckProgress& progress)
{
    const double part = progress.sites > 0 ? double(progress.checked) / progress.sites : 1.0;
    if (m_shown && part < 1.0 && part - m_shownProgress < SmallestStep)
        return;
    m_shown = true;
    m_shownProgress = part;
    sendLauncherEntry(
        {{QStringLiteral("progress"), part}, {QStringLiteral("progress-visible"), true}});
}

void DesktopProgress::hideProgress()
{
    if (!std::exchange(m_shown, false))
        return;
    sendLauncherEntry({{QStringLiteral("progress-visible"), false}});
}

void DesktopProgress::sendLauncherEntry(const QVariantMap& properties)
{
    // A signal that no dock listens to is dropped by the bus; without a bus nothing is sent.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage update =
        QDBusMessage::createSignal(LauncherPath, LauncherInterface, QStringLiteral("Update"));
    update << QStringLiteral("application://%1.desktop").arg(m_desktopEntry) << properties;
    bus.send(update);
}

void DesktopProgress::tellEnd(const CheckProgress& progress)
{
    if (m_runTime.elapsed() < m_noticeAfter.count() || (m_userIsHere && m_userIsHere()))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;

    const QString summary = progress.sites == 1
                                ? tr("Korvane checked 1 website")
                                : tr("Korvane checked %1 websites").arg(progress.sites);
    const QString body = tr("Yes (changed): %1\nNot Found: %2\nError: %3")
                             .arg(progress.changed)
                             .arg(progress.notFound)
                             .arg(progress.errors);
    QDBusMessage notify = QDBusMessage::createMethodCall(
        NotificationsService, NotificationsPath, NotificationsInterface, QStringLiteral("Notify"));
    notify << QStringLiteral("Korvane") << m_noticeId << m_desktopEntry << summary << body
           << QStringList{DefaultAction, tr("Show Korvane")}
           << QVariantMap{{QStringLiteral("desktop-entry"), m_desktopEntry}} << -1;
    // Never waits: a service that is not there answers with an error, which is no news to
    // anyone, and a slow one must not hold up the window.
    askWithoutWaiting(bus, notify, [this, bus](const QDBusMessage& reply) {
        const QDBusReply<uint> id(reply);
        if (!id.isValid())
            return;
        m_noticeId = id.value();
        // A service the notice started has an owner only now.
        if (m_noticeService.isEmpty())
            learnNoticeService(bus);
    });
    // Asked right after the notice, so that the answer comes before any click on it.
    learnNoticeService(bus);
}

void DesktopProgress::learnNoticeService(QDBusConnection bus)
{
    QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    askWithoutWaiting(bus, owner << NotificationsService, [this](const QDBusMessage& name) {
        const QDBusReply<QString> unique(name);
        if (unique.isValid())
            m_noticeService = unique.value();
    });
}

void DesktopProgress::askWithoutWaiting(QDBusConnection bus, const QDBusMessage& call,
                                        std::function<void(const QDBusMessage&)> answered)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [answered = std::move(answered)](QDBusPendingCallWatcher* done) {
                answered(done->reply());
                done->deleteLater();
            });
}

void DesktopProgress::notificationActionInvoked(uint id, const QString& action,
                                                const QDBusMessage& message)
{
    // The service tells every program of every action: only a click on this notice, told by
    // the service that showed it, is ours.
    if (id != 0 && id == m_noticeId && action == DefaultAction &&
        message.service() == m_noticeService)
        Q_EMIT noticeActivated();
}
