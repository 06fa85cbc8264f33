// SPDX-License-Identifier: MIT
// Hands an address to the user's web browser.
#pragma once

#include <QByteArray>

class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    // Fire and forget: nothing comes back, and nothing is reported when no browser opens.
    virtual void open(const QByteArray& address) = 0;
};

// Starts the desktop's `xdg-open` with the address as its one argument: no shell sees the text,
// so nothing in it can run a command, and since every address starts with a scheme it can never
// be taken for an option.
class XdgOpener final : public UrlOpener
{
public:
    void open(const QByteArray& address) override;
};
