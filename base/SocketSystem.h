// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Exception.h"
#include "String.h"

#include <netinet/in.h>
#include <sys/time.h>

class SockAddress;

// A small IPv4 socket layer over BSD sockets. Sockets are plain descriptors;
// every failing system call becomes a SocketException (or a subclass) that
// carries the errno of that call. Time-outs are in milliseconds; -1 means
// "no limit" wherever a time-out is taken.
//
// Thread safety: all operations are static and may be called from any thread;
// the only process-wide state is the measured receive-buffer ratio, which is
// written once (benignly racing threads store the same value).
//
// Waiting is done with poll(), not select(), so descriptors above FD_SETSIZE
// are safe. Sends never raise SIGPIPE, even on threads that did not run
// initialize(): a send on a connection whose peer has gone throws instead.
class SocketSystem
{
public:
    // Per-thread start-up, run at the start of every Thread body: ignores
    // SIGPIPE and, the first time, measures the ratio between the receive
    // buffer size the kernel reports and the size requested (throws
    // SocketException when that measurement fails).
    static void initialize();
    // Per-thread clean-up; nothing to release on this platform.
    static void cleanup();

    // IPv4 stream socket for true, datagram socket for false; non-blocking.
    static int create(bool tcp);
    static void setBlockingMode(int s, bool blocking);

    // Sends n bytes, waiting for writability for at most timeoutMs in total
    // (-1: the blocking form below). Returns the bytes sent, fewer than n
    // when the time ran out. ENETUNREACH throws NoRouteToHostException, a
    // peer that has gone throws SocketException.
    static int send(int s, const void* data, int n, int timeoutMs);
    // Sends all n bytes, waiting for writability without limit. Used by the
    // socket log sink.
    static int send(int s, const void* data, int n);

    // Waits until readable (timeoutMs -1: no limit) and reads at most n bytes.
    // Returns 0 when the time ran out (or n is not positive); a peer that has
    // closed the connection throws NoConnectionException.
    static int receive(int s, void* buffer, int n, int timeoutMs);
    static int receive(int s, void* buffer, int n);

    // Datagram counterparts. A datagram of 0 bytes is a valid datagram and
    // gives 0, not NoConnectionException.
    static int sendTo(int s, const SockAddress& address, const void* data, int n, int timeoutMs);
    static int sendTo(int s, const SockAddress& address, const void* data, int n);
    static int receiveFrom(int s, SockAddress& address, void* buffer, int n, int timeoutMs);
    static int receiveFrom(int s, SockAddress& address, void* buffer, int n);

    // EADDRINUSE throws BindException.
    static void bind(int s, const SockAddress& address);
    static void listen(int s, int backlog);

    // Non-blocking connect, then checks every 100 ms until connected.
    // ECONNREFUSED/EADDRNOTAVAIL: ConnectException, EADDRINUSE: BindException,
    // ENETUNREACH: NoRouteToHostException.
    static void connect(int s, const SockAddress& address);
    // As above with a deadline: still in progress when it passes throws
    // TimeoutException; ETIMEDOUT also maps to NoRouteToHostException and
    // EPROTO to ProtocolException.
    static void connect(int s, const SockAddress& address, int timeoutMs);

    // Waits until a connection is pending; returns the new socket, or 0 when
    // the time ran out. address receives the peer's address.
    static int accept(int s, SockAddress& address, int timeoutMs);

    // Waits at most ms (negative: no limit) for the condition.
    static bool canRead(int s, int ms);
    static bool canWrite(int s, int ms);
    static bool hasException(int s, int ms);
    // The same with the wait given directly (null: no limit).
    static bool canRead(int s, timeval* wait);
    static bool canWrite(int s, timeval* wait);
    static bool hasException(int s, timeval* wait);

    // Addresses in host byte order, ports as numbers.
    static unsigned int getLocalAddress(int s);
    static int getLocalPort(int s);
    static unsigned int getPeerAddress(int s);
    static int getPeerPort(int s);

    // Shuts down sending, then receiving (failures of the shutdowns, as on a
    // socket that never connected, are ignored), then closes the descriptor.
    static void close(int s);
    static void shutdown(int s, int how);
    static int availableData(int s);

    static bool getSoLinger(int s, int& seconds);
    static void setSoLinger(int s, bool on, int seconds);
    static bool getTCPNoDelay(int s);
    static void setTCPNoDelay(int s, bool on);
    // The setters divide the requested size by the measured buffer ratio, so
    // that the getter reports about the size asked for.
    static int getSoSendBuffer(int s);
    static void setSoSendBuffer(int s, int size);
    static int getSoReceiveBuffer(int s);
    static void setSoReceiveBuffer(int s, int size);
    static bool getSoKeepAlive(int s);
    static void setSoKeepAlive(int s, bool on);

    static int getSocketError(int s);
    static int getLastError();

    static unsigned int hostToNetworkOrder(unsigned int x);
    static unsigned int networkToHostOrder(unsigned int x);

    // Resolves an IPv4 address (host order) by name or dotted text; an
    // unknown host, or a null or empty name, throws UnknownHostException.
    // Safe to call from several threads at once.
    static unsigned int getAddressByHost(const char* name);
    // Reverse look-up; failure throws UnknownHostException.
    static String getHostByAddress(unsigned int address);
    // "%d.%d.%d.%d" from the most significant byte down.
    static String getIPString(unsigned int address);

    // The measured receive-buffer ratio, -1 until initialize() measured it.
    static int getBufferRatio();
};

// An IPv4 socket address (family, port and address kept in network byte
// order, ready for the system calls) plus the host text it was made from.
class SockAddress
{
public:
    // 0.0.0.0, port 0.
    SockAddress();

    // Resolves name with SocketSystem::getAddressByHost (which throws
    // UnknownHostException) and stores it with port; unchanged on failure.
    void setHostName(const char* name, int port);
    String getHostName() const;
    // The host text becomes the dotted address.
    void setAddressHostOrder(unsigned int address, int port);
    unsigned int getAddressHostOrder() const;
    int getPort() const;
    String getIPString() const;

    // Exactly four dot-separated decimal parts of 1 to 3 digits, each at most
    // 255; address receives the value in host order.
    static bool parseIPString(const char* text, unsigned int& address);
    // "host:port" or "host" (defaultPort). The host is resolved; a look-up
    // failure is logged at level ERROR (unless it is a plain
    // SocketException) and gives false. A port outside 0..65535 gives false.
    // The address is unchanged whenever the result is false.
    bool parse(const char* text, int defaultPort);

    const sockaddr_in& getSockAddr() const { return m_address; }
    sockaddr_in& getSockAddr() { return m_address; }

private:
    sockaddr_in m_address;
    String m_hostName;
};

// Ignores SIGPIPE for the process (what initialize() does first).
void ignore_sigpipe();

// "a.b.c.d:port" of the socket's local end, or an empty text when the
// socket cannot be queried. For diagnostics; never throws.
String getSocketInfo(int s);
