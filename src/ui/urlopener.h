// SPDX-License-Identifier: MIT
// Hands an address to the user's web browser.
#pragma once

#include <QByteArray>
#include <QObject>

class UrlOpener : public QObject
{
    Q_OBJECT
public:
    // Returns at once; couldNotOpen() follows, from the event loop, when no browser took the
    // address.
    virtual void open(const QByteArray& address) = 0;

Q_SIGNALS:
    void couldNotOpen(const QByteArray& address);
};

// Starts the desktop's `xdg-open` with the address as its one argument: no shell sees the text,
// so nothing in it can run a command, and since every address starts with a scheme it can never
// be taken for an option. Whether it worked is learnt from its exit status, without waiting
// for it: an xdg-open that cannot start, or ends with an error, opened nothing.
class XdgOpener final : public UrlOpener
{
public:
    ~XdgOpener() override;
    void open(const QByteArray& address) override;
};
