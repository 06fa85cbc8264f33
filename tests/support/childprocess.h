// SPDX-License-Identifier: MIT
// Runs a piece of a test in a forked child: as an unprivileged user (root ignores permission
// bits, a user does not), or with limits that must not touch the test process itself.
#pragma once

#include <functional>

// Runs `body` in a child process and returns its result, or -1 when the child did not end
// normally. With `unprivileged`, a child of root first becomes the user "nobody"; a test that
// is not root already runs as an ordinary user and the child keeps its identity.
int runInChild(const std::function<int()>& body, bool unprivileged);

// The uid and gid the unprivileged child runs as (for chown of what it must reach).
unsigned unprivilegedUid();
unsigned unprivilegedGid();
