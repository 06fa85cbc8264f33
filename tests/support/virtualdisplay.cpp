// SPDX-License-Identifier: MIT
// Xvfb on a display of its own choosing, and the processes tests start beside it.
#include "virtualdisplay.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int StartTimeoutMs = 30'000;
constexpr int ToolTimeoutMs = 10'000;
} // namespace

OwnedProcess::OwnedProcess()
{
    const pid_t parent = ::getpid();
    m_process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void OwnedProcess::stop()
{
    if (!running())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool VirtualDisplay::start(const QString& screen)
{
    // -displayfd picks a free display and prints its number, so parallel tests never clash.
    QProcess& x = m_server.process();
    x.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    x.start(QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
             QStringLiteral("0"), screen, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
             QStringLiteral("-noreset")});
    if (!x.waitForStarted(StartTimeoutMs))
        return false;
    QByteArray number;
    waitUntil(
        [&] {
            number += x.readAllStandardOutput();
            return number.endsWith('\n') || !m_server.running();
        },
        StartTimeoutMs);
    if (!m_server.running() || number.trimmed().isEmpty())
        return false;
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return true;
}

QProcessEnvironment VirtualDisplay::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), m_display);
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return base;
}

std::optional<QByteArray> VirtualDisplay::xdotool(const QStringList& args) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(QStringLiteral("xdotool"), args);
    if (!tool.waitForFinished(ToolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}
