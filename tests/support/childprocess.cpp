// SPDX-License-Identifier: MIT
// Forks, optionally drops root, runs the body and hands back its exit code.
#include "childprocess.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr unsigned NobodyId = 65534;
}

unsigned unprivilegedUid()
{
    return ::geteuid() == 0 ? NobodyId : ::geteuid();
}

unsigned unprivilegedGid()
{
    return ::geteuid() == 0 ? NobodyId : ::getegid();
}

int runInChild(const std::function<int()>& body, bool unprivileged)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0)
                ::_exit(125);
        }
        ::_exit(body() & 0xff);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
