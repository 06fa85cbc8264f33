// SPDX-License-Identifier: MIT
// An opener that keeps the addresses it is given instead of starting a browser.
#pragma once

#include "urlopener.h"

#include <QByteArrayList>

class RecordingOpener final : public UrlOpener
{
public:
    explicit RecordingOpener(QByteArrayList& opened) : m_opened(opened) {}
    void open(const QByteArray& address) override { m_opened << address; }

private:
    QByteArrayList& m_opened;
};
