// ipnd-bench-receiver: the benchmarks' reference receiver, plain POSIX
// sockets and nothing else, so that its own cost hides nothing of the
// sender's. It listens on 127.0.0.1, and for each connection reads until the
// first bytes come, answers "ACK" and closes. With --delay-ms it answers that
// long after the first bytes came, without holding up other connections.
// With --stall-at-ms A --stall-ms S it stalls once, A ms after its first
// connection: for S ms it accepts, reads and answers nothing.
//
// Prints "listening on 127.0.0.1:PORT" once it listens; SIGTERM or SIGINT
// ends it with "served N" on standard error.

#include "BenchSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

long long nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

struct Due
{
    int fd;
    long long atMs;
};

int usage()
{
    std::fprintf(stderr, "usage: ipnd-bench-receiver [--port P] [--delay-ms N] [--stall-at-ms A --stall-ms S]\n");
    return 2;
}

bool parseNumber(const char *text, long low, long high, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end && *end == '\0' && end != text && value >= low && value <= high;
}

} // namespace

int main(int argc, char **argv)
{
    long port = 0, delayMs = 0, stallAtMs = 0, stallMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 65535, port))
                return usage();
        } else if (arg == "--delay-ms" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 60000, delayMs))
                return usage();
        } else if (arg == "--stall-at-ms" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 600000, stallAtMs))
                return usage();
        } else if (arg == "--stall-ms" && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0, 60000, stallMs))
                return usage();
        } else {
            return usage();
        }
    }

    struct sigaction action{};
    action.sa_handler = onStopSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(uint16_t(port));
    socklen_t length = sizeof address;
    const int one = 1;
    if (listener < 0 || ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0
        || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, SOMAXCONN) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::fprintf(stderr, "ipnd-bench-receiver: cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event watch{};
    watch.events = EPOLLIN;
    watch.data.fd = listener;
    ::epoll_ctl(poller, EPOLL_CTL_ADD, listener, &watch);
    std::printf("listening on 127.0.0.1:%u\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);

    static const char reply[] = "ACK";
    long long served = 0;
    // A fixed delay keeps the answers due in the order the requests came.
    std::deque<Due> due;
    const auto answer = [&](int fd) {
        if (::send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL) == ssize_t(sizeof reply - 1))
            ++served;
        ::close(fd);
    };

    epoll_event events[64];
    char buffer[4096];
    long long stallAt = -1; // known once the first connection came
    while (!stopRequested) {
        if (stallMs > 0 && stallAt >= 0 && nowMs() >= stallAt) {
            const timespec pause{stallMs / 1000, (stallMs % 1000) * 1000000};
            ::nanosleep(&pause, nullptr);
            stallMs = 0;
        }
        int timeoutMs = -1;
        if (!due.empty())
            timeoutMs = int(std::max(0LL, due.front().atMs - nowMs()));
        if (stallMs > 0 && stallAt >= 0) {
            const int untilStall = int(std::max(0LL, stallAt - nowMs()));
            timeoutMs = timeoutMs < 0 ? untilStall : std::min(timeoutMs, untilStall);
        }
        const int ready = ::epoll_wait(poller, events, 64, timeoutMs);
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == listener) {
                for (;;) {
                    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (connection < 0)
                        break;
                    if (stallAt < 0)
                        stallAt = nowMs() + stallAtMs;
                    epoll_event interest{};
                    interest.events = EPOLLIN;
                    interest.data.fd = connection;
                    ::epoll_ctl(poller, EPOLL_CTL_ADD, connection, &interest);
                }
                continue;
            }
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EAGAIN)
                continue;
            ::epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            if (n <= 0)
                ::close(fd); // gone before it sent anything
            else if (delayMs == 0)
                answer(fd);
            else
                due.push_back({fd, nowMs() + delayMs});
        }
        const long long now = nowMs();
        while (!due.empty() && due.front().atMs <= now) {
            answer(due.front().fd);
            due.pop_front();
        }
    }
    std::fprintf(stderr, "served %lld\n", served);
    return 0;
}
