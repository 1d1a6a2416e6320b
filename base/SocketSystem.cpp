// SPDX-License-Identifier: GPL-3.0-or-later
#include "SocketSystem.h"

#include "Convert.h"
#include "DateTime.h"
#include "Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <typeinfo>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
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
    if (sigaction(SIGPIPE, &action, nullptr) != 0)
        logError("sigaction");
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

// Milliseconds left until deadline on the wall clock (0 once it has passed).
static long long millisUntil(unsigned long long deadline)
{
    const unsigned long long now = DateTime::currentTimeMillis();
    return now >= deadline ? 0 : static_cast<long long>(deadline - now);
}

int SocketSystem::send(int s, const void* data, int n, int timeoutMs)
{
    if (timeoutMs < 0)
        return send(s, data, n);
    if (!data || n <= 0)
        return 0;
    const char* p = static_cast<const char*>(data);
    const unsigned long long deadline =
        DateTime::currentTimeMillis() + static_cast<unsigned long long>(timeoutMs);
    int sent = 0;
    for (;;) {
        if (pollOne(s, POLLOUT, millisUntil(deadline)) != 0) {
            // MSG_DONTWAIT: a blocking socket must not block past the deadline.
            const ssize_t rc = ::send(s, p + sent, static_cast<size_t>(n - sent),
                                      MSG_NOSIGNAL | MSG_DONTWAIT);
            if (rc > 0)
                sent += static_cast<int>(rc);
            else if (rc < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                throwTransferError(errno);
        }
        if (sent >= n || millisUntil(deadline) == 0)
            return sent;
    }
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
        if (pollOne(s, POLLIN, timeoutMs) == 0)
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

// The datagram loop: waits for the events, then runs the transfer, which
// returns what its system call returned. EAGAIN (readable or writable after
// all not) waits again when there is no time-out, else ends with 0.
template <typename Transfer>
static int transferDatagram(int s, short events, int timeoutMs, Transfer transfer)
{
    for (;;) {
        if (pollOne(s, events, timeoutMs) == 0)
            return 0;
        const ssize_t rc = transfer();
        if (rc >= 0)
            return static_cast<int>(rc);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (timeoutMs < 0)
                continue;
            return 0;
        }
        throwTransferError(errno);
    }
}

int SocketSystem::sendTo(int s, const SockAddress& address, const void* data, int n,
                         int timeoutMs)
{
    if (!data || n < 0)
        return 0;
    const sockaddr_in& to = address.getSockAddr();
    return transferDatagram(s, POLLOUT, timeoutMs, [&] {
        return ::sendto(s, data, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT,
                        reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    });
}

int SocketSystem::sendTo(int s, const SockAddress& address, const void* data, int n)
{
    return sendTo(s, address, data, n, -1);
}

int SocketSystem::receiveFrom(int s, SockAddress& address, void* buffer, int n, int timeoutMs)
{
    if (!buffer || n < 0)
        return 0;
    return transferDatagram(s, POLLIN, timeoutMs, [&] {
        sockaddr_in from;
        std::memset(&from, 0, sizeof(from));
        socklen_t len = sizeof(from);
        const ssize_t rc = ::recvfrom(s, buffer, static_cast<size_t>(n), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &len);
        if (rc >= 0)
            address.setAddressHostOrder(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
        return rc;
    });
}

int SocketSystem::receiveFrom(int s, SockAddress& address, void* buffer, int n)
{
    return receiveFrom(s, address, buffer, n, -1);
}

void SocketSystem::bind(int s, const SockAddress& address)
{
    const sockaddr_in& a = address.getSockAddr();
    if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0)
        return;
    if (errno == EADDRINUSE)
        throwWithErrno<BindException>(errno);
    throwWithErrno<SocketException>(errno);
}

[[noreturn]] static void throwConnectError(int err, bool timed)
{
    switch (err) {
    case ECONNREFUSED:
        throwWithErrno<ConnectException>(err);
    case EADDRINUSE:
        throwWithErrno<BindException>(err);
    case ENETUNREACH:
        throwWithErrno<NoRouteToHostException>(err);
    default:
        break;
    }
    if (!timed && err == EADDRNOTAVAIL)
        throwWithErrno<ConnectException>(err);
    if (timed && err == ETIMEDOUT)
        throwWithErrno<NoRouteToHostException>(err);
    if (timed && err == EPROTO)
        throwWithErrno<ProtocolException>(err);
    throwWithErrno<SocketException>(err);
}

// timeoutMs < 0: no deadline. The connection is checked every 100 ms.
static void connectSocket(int s, const SockAddress& address, int timeoutMs)
{
    const bool timed = timeoutMs >= 0;
    const sockaddr_in& a = address.getSockAddr();
    if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0)
        return;
    // An interrupted connect goes on in the background like a non-blocking one.
    if (errno != EINPROGRESS && errno != EINTR)
        throwConnectError(errno, timed);
    const unsigned long long deadline =
        timed ? DateTime::currentTimeMillis() + static_cast<unsigned long long>(timeoutMs) : 0;
    for (;;) {
        const long long slice = timed ? std::min<long long>(100, millisUntil(deadline)) : 100;
        if (pollOne(s, POLLOUT, slice) != 0) {
            const int err = SocketSystem::getSocketError(s);
            if (err == 0)
                return;
            throwConnectError(err, timed);
        }
        if (timed && millisUntil(deadline) == 0)
            throwWithErrno<TimeoutException>(ETIMEDOUT);
    }
}

void SocketSystem::connect(int s, const SockAddress& address)
{
    connectSocket(s, address, -1);
}

void SocketSystem::connect(int s, const SockAddress& address, int timeoutMs)
{
    connectSocket(s, address, timeoutMs);
}

int SocketSystem::accept(int s, SockAddress& address, int timeoutMs)
{
    if (pollOne(s, POLLIN, timeoutMs) == 0)
        return 0;
    sockaddr_in from;
    std::memset(&from, 0, sizeof(from));
    socklen_t len = sizeof(from);
    const int c = ::accept4(s, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
    if (c < 0) {
        // The pending connection went away (or a signal came) meanwhile.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return 0;
        throwWithErrno<SocketException>(errno);
    }
    address.setAddressHostOrder(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
    return c;
}

void SocketSystem::listen(int s, int backlog)
{
    if (::listen(s, backlog) != 0)
        throwWithErrno<SocketException>(errno);
}

bool SocketSystem::canRead(int s, int ms)
{
    return pollOne(s, POLLIN, ms) != 0;
}

bool SocketSystem::canWrite(int s, int ms)
{
    return pollOne(s, POLLOUT, ms) != 0;
}

bool SocketSystem::hasException(int s, int ms)
{
    // Out-of-band data is what select() reported as an exceptional condition.
    return (pollOne(s, POLLPRI, ms) & POLLPRI) != 0;
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

// The socket's own (getsockname) or its peer's (getpeername) address.
static sockaddr_in socketName(int s, int (*query)(int, sockaddr*, socklen_t*))
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    socklen_t len = sizeof(a);
    if (query(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throwWithErrno<SocketException>(errno);
    return a;
}

unsigned int SocketSystem::getLocalAddress(int s)
{
    return ntohl(socketName(s, ::getsockname).sin_addr.s_addr);
}

int SocketSystem::getLocalPort(int s)
{
    return ntohs(socketName(s, ::getsockname).sin_port);
}

unsigned int SocketSystem::getPeerAddress(int s)
{
    return ntohl(socketName(s, ::getpeername).sin_addr.s_addr);
}

int SocketSystem::getPeerPort(int s)
{
    return ntohs(socketName(s, ::getpeername).sin_port);
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

unsigned int SocketSystem::getAddressByHost(const char* name)
{
    if (!name || !*name)
        throwWithErrno<UnknownHostException>(EINVAL);
    // getaddrinfo rather than gethostbyname, whose static result two threads
    // would overwrite for each other.
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &hints, &result);
    if (rc != 0 || !result)
        throwWithErrno<UnknownHostException>(rc == EAI_SYSTEM ? errno : 0);
    const unsigned int address =
        ntohl(reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(result);
    return address;
}

String SocketSystem::getHostByAddress(unsigned int address)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    char host[NI_MAXHOST];
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof(a), host,
                                 sizeof(host), nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        throwWithErrno<UnknownHostException>(rc == EAI_SYSTEM ? errno : 0);
    return String(host);
}

String SocketSystem::getIPString(unsigned int address)
{
    return String::format("%d.%d.%d.%d", static_cast<int>((address >> 24) & 0xFF),
                          static_cast<int>((address >> 16) & 0xFF),
                          static_cast<int>((address >> 8) & 0xFF), static_cast<int>(address & 0xFF));
}

// ---------------------------------------------------------------------------
// SockAddress
// ---------------------------------------------------------------------------

SockAddress::SockAddress()
{
    std::memset(&m_address, 0, sizeof(m_address));
    m_address.sin_family = AF_INET;
}

void SockAddress::setHostName(const char* name, int port)
{
    const unsigned int address = SocketSystem::getAddressByHost(name);
    m_address.sin_addr.s_addr = htonl(address);
    m_address.sin_port = htons(static_cast<unsigned short>(port));
    m_hostName = name;
}

String SockAddress::getHostName() const
{
    return m_hostName;
}

void SockAddress::setAddressHostOrder(unsigned int address, int port)
{
    m_address.sin_addr.s_addr = htonl(address);
    m_address.sin_port = htons(static_cast<unsigned short>(port));
    m_hostName = SocketSystem::getIPString(address);
}

unsigned int SockAddress::getAddressHostOrder() const
{
    return ntohl(m_address.sin_addr.s_addr);
}

int SockAddress::getPort() const
{
    return ntohs(m_address.sin_port);
}

String SockAddress::getIPString() const
{
    return SocketSystem::getIPString(getAddressHostOrder());
}

bool SockAddress::parseIPString(const char* text, unsigned int& address)
{
    if (!text)
        return false;
    unsigned int value = 0;
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.')
            return false;
        int digits = 0;
        unsigned int n = 0;
        while (*p >= '0' && *p <= '9' && digits < 4) {
            n = n * 10 + static_cast<unsigned int>(*p++ - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || n > 255)
            return false;
        value = (value << 8) | n;
    }
    if (*p != 0)
        return false;
    address = value;
    return true;
}

bool SockAddress::parse(const char* text, int defaultPort)
{
    if (!text)
        return false;
    const String whole(text);
    const int colon = whole.find(":");
    const String host = colon < 0 ? whole : whole.mid(0, colon);
    const int port = colon < 0 ? defaultPort : Convert::str2int(whole.mid(colon + 1));
    if (port < 0 || port > 65535)
        return false;
    try {
        setHostName(host.c_str(), port);
        return true;
    } catch (SocketException& e) {
        // A plain SocketException is not worth a log line; its subclasses
        // (an unknown host above all) are.
        if (typeid(e) != typeid(SocketException))
            logError1("SockAddress::parse:SocketException: %1",
                      e.getErrorSender().toLatin1().constData());
    } catch (Exception& e) {
        logError1("SockAddress::parse:Exception: %1", e.getErrorSender().toLatin1().constData());
    } catch (...) {
        // No sender name to report: the text that failed stands in for it.
        logError1("SockAddress::parse: Unhandled C Exception: %1", text);
    }
    return false;
}

String getSocketInfo(int s)
{
    try {
        const unsigned int address = SocketSystem::getLocalAddress(s);
        const int port = SocketSystem::getLocalPort(s);
        String info = SocketSystem::getIPString(address);
        info += ":";
        info += Convert::int2str(port, 10);
        return info;
    } catch (...) {
        return String();
    }
}
