// SPDX-License-Identifier: MIT
// Xvfb on a display of its own choosing, and the processes tests start beside it.
#include "virtualdisplay.h"

#include <QStandardPaths>

#include <map>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {
constexpr int StartTimeoutMs = 10'000;
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

QString VirtualDisplay::missingTools()
{
    QStringList missing;
    for (const char* tool : {"Xvfb", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    if (missing.isEmpty())
        return {};
    return missing.join(QStringLiteral(" and ")) +
           QStringLiteral(" missing: run scripts/install-deps.sh");
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

QProcessEnvironment VirtualDisplay::programEnvironment(const QString& home,
                                                       const QString& runtime) const
{
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), home);
    if (runtime.isEmpty())
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    else
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // Without it, D-Bus would start a session bus for every start, and leave it running.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
          "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "QT_SCALE_FACTOR",
          "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI", "QT_STYLE_OVERRIDE"})
        env.remove(QString::fromLatin1(name));
    return env;
}

QByteArrayList VirtualDisplay::visibleWindows(qint64 pid, const QString& title) const
{
    QStringList args{QStringLiteral("search"), QStringLiteral("--all"),
                     QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                     QString::number(pid)};
    if (!title.isEmpty())
        args << QStringLiteral("--name") << title;
    const auto out = xdotool(args);
    return out ? out->trimmed().split('\n') : QByteArrayList();
}

QByteArrayList VirtualDisplay::waitForWindows(const QProcess& program, const QString& title,
                                              int timeoutMs) const
{
    QByteArrayList windows;
    waitUntil(
        [&] {
            windows = visibleWindows(program.processId(), title);
            return !windows.isEmpty() || program.state() == QProcess::NotRunning;
        },
        timeoutMs);
    return program.state() == QProcess::NotRunning ? QByteArrayList() : windows;
}

std::optional<QRect> VirtualDisplay::geometry(const QByteArray& window) const
{
    const auto out = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                              QString::fromLatin1(window)});
    if (!out)
        return std::nullopt;
    std::map<QByteArray, int> values;
    for (const QByteArray& line : out->split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values[line.left(eq)] = line.mid(eq + 1).toInt();
    }
    return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
}
