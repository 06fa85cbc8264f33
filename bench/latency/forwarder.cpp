// SPDX-License-Identifier: MIT
// Joins two network namespaces through a tun device in each and holds every packet for a fixed
// time on its way across: a long network path on one machine, for a kernel without netem.
// Usage: latency_forwarder NEAR_NS FAR_NS DEVICE DELAY_MS
// Prints "ready" once both devices exist; runs until SIGTERM or SIGINT.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopping = 0;

// Opens the tun device `name` inside the namespace `ns`; the descriptor keeps working after this
// thread goes back to its own namespace.
int openTunIn(const char* ns, const char* name)
{
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/var/run/netns/" + std::string(ns)).c_str(), O_RDONLY | O_CLOEXEC);
    if (home < 0 || there < 0 || ::setns(there, CLONE_NEWNET) != 0) {
        std::perror(ns);
        return -1;
    }
    int tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (tun < 0 || ::ioctl(tun, TUNSETIFF, &request) != 0) {
        std::perror("tun");
        tun = -1;
    }
    ::setns(home, CLONE_NEWNET);
    ::close(home);
    ::close(there);
    return tun;
}

struct Packet
{
    Clock::time_point due;
    std::vector<char> bytes;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s NEAR_NS FAR_NS DEVICE DELAY_MS\n", argv[0]);
        return 2;
    }
    const auto delay = std::chrono::milliseconds(std::atoi(argv[4]));
    const int tun[2] = {openTunIn(argv[1], argv[3]), openTunIn(argv[2], argv[3])};
    if (tun[0] < 0 || tun[1] < 0)
        return 1;
    std::signal(SIGTERM, [](int) { stopping = 1; });
    std::signal(SIGINT, [](int) { stopping = 1; });
    std::printf("ready\n");
    std::fflush(stdout);

    // toward[i]: packets on their way out of tun[i].
    std::deque<Packet> toward[2];
    char buffer[65536];
    while (!stopping) {
        int wait = 1000;
        const auto now = Clock::now();
        for (const auto& queue : toward)
            if (!queue.empty())
                wait = std::min<int>(
                    wait, int(std::chrono::ceil<std::chrono::milliseconds>(queue.front().due - now)
                                  .count()));
        pollfd ready[2] = {{tun[0], POLLIN, 0}, {tun[1], POLLIN, 0}};
        ::poll(ready, 2, std::max(wait, 0));
        for (int side = 0; side < 2; ++side) {
            if (!(ready[side].revents & POLLIN))
                continue;
            for (ssize_t n; (n = ::read(tun[side], buffer, sizeof buffer)) > 0;)
                toward[1 - side].push_back({Clock::now() + delay, {buffer, buffer + n}});
        }
        for (int side = 0; side < 2; ++side) {
            auto& queue = toward[side];
            while (!queue.empty() && queue.front().due <= Clock::now()) {
                // A full device drops the packet, as a congested link would; TCP sends it again.
                if (::write(tun[side], queue.front().bytes.data(), queue.front().bytes.size()) < 0)
                    std::perror("write");
                queue.pop_front();
            }
        }
    }
    return 0;
}
