// SPDX-License-Identifier: MIT
// The download handle, and the queue that brings every download's end through the event loop.
#include "downloadservice.h"

#include "webaddress.h"

DownloadHandle::DownloadHandle(DownloadService* service)
    : m_service(service), m_receiver(std::make_unique<QObject>())
{}

DownloadHandle& DownloadHandle::operator=(DownloadHandle&& other) noexcept
{
    if (this != &other) {
        cancel();
        m_service = std::move(other.m_service);
        m_receiver = std::move(other.m_receiver);
    }
    return *this;
}

bool DownloadHandle::isActive() const
{
    return m_service && m_receiver && m_service->m_current == m_receiver.get();
}

void DownloadHandle::cancel()
{
    if (isActive()) {
        m_service->m_current = nullptr;
        m_service->cancel();
    }
    // Whatever was queued for this download goes with its receiver.
    m_receiver.reset();
}

DownloadHandle DownloadService::download(const QByteArray& address, const QString& localFile,
                                         Done done, Waiting waiting)
{
    if (m_current) {
        m_current = nullptr;
        cancel();
    }
    DownloadHandle handle(this);
    const QPointer<QObject> receiver = handle.m_receiver.get();
    m_current = receiver;
    m_waiting = std::move(waiting);
    const QPointer<DownloadService> self = this;
    start(address, localFile, [self, receiver, done = std::move(done)](bool kept) {
        if (!receiver)
            return;
        QMetaObject::invokeMethod(
            receiver.get(),
            [self, receiver, done, kept] {
                // A download given up, or replaced by another, after its end was queued.
                if (!self || self->m_current != receiver)
                    return;
                self->m_current = nullptr;
                done(kept);
            },
            Qt::QueuedConnection);
    });
    return handle;
}

void DownloadService::tellWaiting(const SiteWait& wait)
{
    if (!m_current || !m_waiting)
        return;
    const QPointer<DownloadService> self = this;
    const QPointer<QObject> receiver = m_current;
    QMetaObject::invokeMethod(
        receiver.get(),
        [self, receiver, waiting = m_waiting, wait] {
            if (self && self->m_current == receiver)
                waiting(wait);
        },
        Qt::QueuedConnection);
}

QByteArray DownloadService::addressForLog(const QByteArray& address) const
{
    return PageAddress(address).forLog();
}
