#include "SocketSystem.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Receive-buffer size the kernel reports divided by the size requested; -1
// until initialize() measured it. Written once, read by the buffer setters.
static std::atomic<int> s_optBufferRatio{-1};

static const int BUFFER_PROBE_SIZE = 5000;

// SocketException captures errno when it is built, so errno is set to the
// failing call's error first (something in between may have changed it).
template <typename E>
[[noreturn]] static void throwWithErrno(int err)
{
    errno = err;
    throw E();
}

// The error mapping shared by the data transfer operations.
[[noreturn]] static void throwTransferError(int err)
{
    if (err == ENETUNREACH)
        throwWithErrno<NoRouteToHostException>(err);
    throwWithErrno<SocketException>(err);
}

// Milliseconds of a monotonic clock, for waits that must not jump with the
// wall clock.
static long long monotonicMillis()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Polls one descriptor for the given events. waitMs < 0 waits without limit.
// An interrupted poll resumes with the time that is left. Returns the revents
// (0 when the time ran out); a failing poll throws SocketException.
static short pollOne(int s, short events, long long waitMs)
{
    const long long start = monotonicMillis();
    for (;;) {
        int slice = -1;
        if (waitMs >= 0) {
            const long long left = waitMs - (monotonicMillis() - start);
            slice = left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        pollfd p;
        p.fd = s;
        p.events = events;
        p.revents = 0;
        const int rc = ::poll(&p, 1, slice);
        if (rc > 0) {
            if (p.revents & POLLNVAL)
                throwWithErrno<SocketException>(EBADF);
            return p.revents;
        }
        if (rc == 0)
            return 0;
        if (errno != EINTR)
            throwWithErrno<SocketException>(errno);
        if (slice == 0)
            return 0;
    }
}

static long long timevalToMillis(const timeval* wait)
{
    if (!wait)
        return -1;
    if (wait->tv_sec < 0 || wait->tv_usec < 0)
        return 0;
    return static_cast<long long>(wait->tv_sec) * 1000 + wait->tv_usec / 1000;
}

void ignore_sigpipe()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

void SocketSystem::initialize()
{
    ignore_sigpipe();
    if (s_optBufferRatio.load() != -1)
        return;
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throwWithErrno<SocketException>(errno);
    int requested = BUFFER_PROBE_SIZE;
    int reported = 0;
    socklen_t len = sizeof(reported);
    if (::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &requested, sizeof(requested)) != 0
        || ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &reported, &len) != 0) {
        const int err = errno;
        ::close(s);
        throwWithErrno<SocketException>(err);
    }
    ::close(s);
    s_optBufferRatio = std::max(1, reported / BUFFER_PROBE_SIZE);
}

void SocketSystem::cleanup()
{
}

int SocketSystem::getBufferRatio()
{
    return s_optBufferRatio.load();
}

int SocketSystem::create(bool tcp)
{
    const int s = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (s < 0)
        throwWithErrno<SocketException>(errno);
    try {
        setBlockingMode(s, false);
    } catch (...) {
        ::close(s);
        throw;
    }
    return s;
}

void SocketSystem::setBlockingMode(int s, bool blocking)
{
    int nonBlocking = blocking ? 0 : 1;
    if (::ioctl(s, FIONBIO, &nonBlocking) != 0)
        throwWithErrno<SocketException>(errno);
}

int SocketSystem::send(int s, const void* data, int n)
{
    if (!data || n <= 0)
        return 0;
    const char* p = static_cast<const char*>(data);
    int sent = 0;
    while (sent < n) {
        pollOne(s, POLLOUT, -1);
        const ssize_t rc = ::send(s, p + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (rc >= 0) {
            sent += static_cast<int>(rc);
            continue;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        throwTransferError(errno);
    }
    return sent;
}

int SocketSystem::receive(int s, void* buffer, int n, int timeoutMs)
{
    if (!buffer || n <= 0)
        return 0;
    for (;;) {
        if (pollOne(s, POLLIN, timeoutMs < 0 ? -1 : timeoutMs) == 0)
            return 0;
        const ssize_t rc = ::recv(s, buffer, static_cast<size_t>(n), MSG_DONTWAIT);
        if (rc > 0)
            return static_cast<int>(rc);
        if (rc == 0)
            throwWithErrno<NoConnectionException>(0);
        if (errno == EINTR)
            continue;
        // Readable, yet nothing there (a datagram dropped by its checksum):
        // nothing arrived in time.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        throwTransferError(errno);
    }
}

int SocketSystem::receive(int s, void* buffer, int n)
{
    return receive(s, buffer, n, -1);
}

void SocketSystem::listen(int s, int backlog)
{
    if (::listen(s, backlog) != 0)
        throwWithErrno<SocketException>(errno);
}

bool SocketSystem::canRead(int s, int ms)
{
    return pollOne(s, POLLIN, ms < 0 ? -1 : ms) != 0;
}

bool SocketSystem::canWrite(int s, int ms)
{
    return pollOne(s, POLLOUT, ms < 0 ? -1 : ms) != 0;
}

bool SocketSystem::hasException(int s, int ms)
{
    // Out-of-band data is what select() reported as an exceptional condition.
    return (pollOne(s, POLLPRI, ms < 0 ? -1 : ms) & POLLPRI) != 0;
}

bool SocketSystem::canRead(int s, timeval* wait)
{
    return pollOne(s, POLLIN, timevalToMillis(wait)) != 0;
}

bool SocketSystem::canWrite(int s, timeval* wait)
{
    return pollOne(s, POLLOUT, timevalToMillis(wait)) != 0;
}

bool SocketSystem::hasException(int s, timeval* wait)
{
    return (pollOne(s, POLLPRI, timevalToMillis(wait)) & POLLPRI) != 0;
}

static sockaddr_in localName(int s)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    socklen_t len = sizeof(a);
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throwWithErrno<SocketException>(errno);
    return a;
}

static sockaddr_in peerName(int s)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    socklen_t len = sizeof(a);
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throwWithErrno<SocketException>(errno);
    return a;
}

unsigned int SocketSystem::getLocalAddress(int s)
{
    return ntohl(localName(s).sin_addr.s_addr);
}

int SocketSystem::getLocalPort(int s)
{
    return ntohs(localName(s).sin_port);
}

unsigned int SocketSystem::getPeerAddress(int s)
{
    return ntohl(peerName(s).sin_addr.s_addr);
}

int SocketSystem::getPeerPort(int s)
{
    return ntohs(peerName(s).sin_port);
}

void SocketSystem::close(int s)
{
    ::shutdown(s, SHUT_WR);
    ::shutdown(s, SHUT_RD);
    // Linux releases the descriptor even when close() is interrupted, so it
    // is never retried.
    if (::close(s) != 0 && errno != EINTR)
        throwWithErrno<SocketException>(errno);
}

void SocketSystem::shutdown(int s, int how)
{
    if (::shutdown(s, how) != 0)
        throwWithErrno<SocketException>(errno);
}

int SocketSystem::availableData(int s)
{
    int n = 0;
    if (::ioctl(s, FIONREAD, &n) != 0)
        throwWithErrno<SocketException>(errno);
    return n;
}

static void setIntOption(int s, int level, int name, int value)
{
    if (::setsockopt(s, level, name, &value, sizeof(value)) != 0)
        throwWithErrno<SocketException>(errno);
}

static int getIntOption(int s, int level, int name)
{
    int value = 0;
    socklen_t len = sizeof(value);
    if (::getsockopt(s, level, name, &value, &len) != 0)
        throwWithErrno<SocketException>(errno);
    return value;
}

bool SocketSystem::getSoLinger(int s, int& seconds)
{
    linger l;
    std::memset(&l, 0, sizeof(l));
    socklen_t len = sizeof(l);
    if (::getsockopt(s, SOL_SOCKET, SO_LINGER, &l, &len) != 0)
        throwWithErrno<SocketException>(errno);
    seconds = l.l_linger;
    return l.l_onoff != 0;
}

void SocketSystem::setSoLinger(int s, bool on, int seconds)
{
    linger l;
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof(l)) != 0)
        throwWithErrno<SocketException>(errno);
}

bool SocketSystem::getTCPNoDelay(int s)
{
    return getIntOption(s, IPPROTO_TCP, TCP_NODELAY) != 0;
}

void SocketSystem::setTCPNoDelay(int s, bool on)
{
    setIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

static int scaledBufferSize(int size)
{
    const int ratio = s_optBufferRatio.load();
    return ratio > 1 ? size / ratio : size;
}

int SocketSystem::getSoSendBuffer(int s)
{
    return getIntOption(s, SOL_SOCKET, SO_SNDBUF);
}

void SocketSystem::setSoSendBuffer(int s, int size)
{
    setIntOption(s, SOL_SOCKET, SO_SNDBUF, scaledBufferSize(size));
}

int SocketSystem::getSoReceiveBuffer(int s)
{
    return getIntOption(s, SOL_SOCKET, SO_RCVBUF);
}

void SocketSystem::setSoReceiveBuffer(int s, int size)
{
    setIntOption(s, SOL_SOCKET, SO_RCVBUF, scaledBufferSize(size));
}

bool SocketSystem::getSoKeepAlive(int s)
{
    return getIntOption(s, SOL_SOCKET, SO_KEEPALIVE) != 0;
}

void SocketSystem::setSoKeepAlive(int s, bool on)
{
    setIntOption(s, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
}

int SocketSystem::getSocketError(int s)
{
    return getIntOption(s, SOL_SOCKET, SO_ERROR);
}

int SocketSystem::getLastError()
{
    return errno;
}

unsigned int SocketSystem::hostToNetworkOrder(unsigned int x)
{
    return htonl(x);
}

unsigned int SocketSystem::networkToHostOrder(unsigned int x)
{
    return ntohl(x);
}
