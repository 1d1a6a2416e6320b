// SPDX-License-Identifier: GPL-3.0-or-later
#include "SocketSystem.h"

#include "Log.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const unsigned int LOOPBACK = 0x7F000001;

SockAddress loopback(int port)
{
    SockAddress a;
    a.setAddressHostOrder(LOOPBACK, port);
    return a;
}

// A listener on 127.0.0.1 with a kernel-chosen port, one client connected to
// it and the accepted server end. Every socket is closed at the end.
struct LoopbackPair
{
    int listener = -1;
    int client = -1;
    int server = -1;

    LoopbackPair()
    {
        listener = SocketSystem::create(true);
        SocketSystem::bind(listener, loopback(0));
        SocketSystem::listen(listener, 4);
        client = SocketSystem::create(true);
        SocketSystem::connect(client, loopback(SocketSystem::getLocalPort(listener)), 2000);
        SockAddress peer;
        server = SocketSystem::accept(listener, peer, 2000);
    }
    ~LoopbackPair()
    {
        for (int s : {listener, client, server})
            if (s > 0)
                ::close(s);
    }
};

} // namespace

TEST(SocketSystemTest, LoopbackConnectionCarriesData)
{
    LoopbackPair p;
    ASSERT_GT(p.server, 0);
    EXPECT_EQ(SocketSystem::getPeerPort(p.server), SocketSystem::getLocalPort(p.client));
    EXPECT_EQ(SocketSystem::getPeerAddress(p.client), LOOPBACK);
    EXPECT_EQ(getSocketInfo(p.listener).c_str(),
              "127.0.0.1:" + std::to_string(SocketSystem::getLocalPort(p.listener)));

    EXPECT_EQ(SocketSystem::send(p.client, "hello", 5, 1000), 5);
    EXPECT_EQ(SocketSystem::send(p.client, " world", 6), 6);
    char buf[32] = {};
    int got = 0;
    while (got < 11) {
        const int n = SocketSystem::receive(p.server, buf + got, sizeof(buf) - 1 - got, 2000);
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_STREQ(buf, "hello world");
}

TEST(SocketSystemTest, ReceiveTimesOutWithZeroAndThrowsOnceThePeerClosed)
{
    LoopbackPair p;
    char c;
    EXPECT_EQ(SocketSystem::receive(p.server, &c, 1, 0), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SocketSystem::receive(p.server, &c, 1, 50), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    // A zero-byte read is not mistaken for a closed peer.
    EXPECT_EQ(SocketSystem::receive(p.server, &c, 0, 0), 0);

    SocketSystem::close(std::exchange(p.client, -1));
    EXPECT_THROW(SocketSystem::receive(p.server, &c, 1, 2000), NoConnectionException);
}

TEST(SocketSystemTest, TimedSendGivesUpAtTheDeadline)
{
    LoopbackPair p;
    // Nobody reads: the socket buffers fill and the rest cannot go out.
    std::vector<char> big(64 * 1024 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    const int sent = SocketSystem::send(p.client, big.data(), static_cast<int>(big.size()), 200);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(big.size()));
    EXPECT_GE(elapsed, std::chrono::milliseconds(150));
}

TEST(SocketSystemTest, InitializeIgnoresSigpipeAndMeasuresTheBufferRatio)
{
    SocketSystem::initialize();
    struct sigaction current;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    EXPECT_GE(SocketSystem::getBufferRatio(), 1);

    // The setters divide by the ratio, so the kernel reports about the size asked for.
    const int s = SocketSystem::create(true);
    SocketSystem::setSoReceiveBuffer(s, 40000);
    EXPECT_GE(SocketSystem::getSoReceiveBuffer(s), 30000);
    EXPECT_LE(SocketSystem::getSoReceiveBuffer(s), 50000);
    ::close(s);
}

TEST(SocketSystemTest, SendToAGonePeerThrowsWithoutRaisingSigpipe)
{
    // Even on a thread that never ran initialize() (the GUI thread logging
    // to a socket), a peer that went away must not end the process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            LoopbackPair p;
            ::close(std::exchange(p.server, -1));
            // The first sends may still be accepted before the reset arrives.
            for (int i = 0; i < 100; ++i) {
                try {
                    SocketSystem::send(p.client, "x", 1, 100);
                    usleep(1000);
                } catch (SocketException&) {
                    _exit(0);
                }
            }
            _exit(1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(SocketSystemTest, ConnectFailuresMapToTheirExceptions)
{
    // A port that was just free: nobody listens there.
    const int probe = SocketSystem::create(true);
    SocketSystem::bind(probe, loopback(0));
    const int port = SocketSystem::getLocalPort(probe);
    ::close(probe);

    const int a = SocketSystem::create(true);
    EXPECT_THROW(SocketSystem::connect(a, loopback(port), 2000), ConnectException);
    ::close(a);
    const int b = SocketSystem::create(true);
    EXPECT_THROW(SocketSystem::connect(b, loopback(port)), ConnectException);
    ::close(b);

    LoopbackPair p;
    const int c = SocketSystem::create(true);
    EXPECT_THROW(SocketSystem::bind(c, loopback(SocketSystem::getLocalPort(p.listener))),
                 BindException);
    ::close(c);

    SockAddress peer;
    EXPECT_EQ(SocketSystem::accept(p.listener, peer, 20), 0);
}

TEST(SocketSystemTest, DatagramsRoundTripIncludingEmptyOnes)
{
    const int rx = SocketSystem::create(false);
    const int tx = SocketSystem::create(false);
    SocketSystem::bind(rx, loopback(0));
    const SockAddress to = loopback(SocketSystem::getLocalPort(rx));

    EXPECT_EQ(SocketSystem::sendTo(tx, to, "abc", 3, 1000), 3);
    EXPECT_EQ(SocketSystem::sendTo(tx, to, "", 0, 1000), 0);
    char buf[8] = {};
    SockAddress from;
    EXPECT_EQ(SocketSystem::receiveFrom(rx, from, buf, sizeof(buf), 2000), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(from.getAddressHostOrder(), LOOPBACK);
    EXPECT_EQ(from.getPort(), SocketSystem::getLocalPort(tx));
    EXPECT_EQ(SocketSystem::receiveFrom(rx, from, buf, sizeof(buf), 2000), 0);
    ::close(rx);
    ::close(tx);
}

TEST(SocketSystemTest, WaitsWorkOnDescriptorsAboveTheSelectLimit)
{
    rlimit lim;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_cur < 1600)
        GTEST_SKIP() << "descriptor limit too low";
    LoopbackPair p;
    const int high = dup2(p.server, 1500);
    ASSERT_EQ(high, 1500);
    EXPECT_FALSE(SocketSystem::canRead(high, 0));
    SocketSystem::send(p.client, "z", 1);
    EXPECT_TRUE(SocketSystem::canRead(high, 2000));
    EXPECT_TRUE(SocketSystem::canWrite(high, 0));
    ::close(high);
}

TEST(SocketSystemTest, IPStringsAreWrittenAndParsedStrictly)
{
    EXPECT_STREQ(SocketSystem::getIPString(0xFFFEFD00).c_str(), "255.254.253.0");

    unsigned int a = 0;
    EXPECT_TRUE(SockAddress::parseIPString("10.0.255.7", a));
    EXPECT_EQ(a, 0x0A00FF07u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 ",
                            "0001.1.1.1", "a.b.c.d", "-1.2.3.4"}) {
        a = 77;
        EXPECT_FALSE(SockAddress::parseIPString(bad, a)) << bad;
        EXPECT_EQ(a, 77u) << bad;
    }
}

TEST(SocketSystemTest, ParseTakesThePortAfterTheFirstColon)
{
    SockAddress a;
    ASSERT_TRUE(a.parse("localhost:8080", 80));
    EXPECT_EQ(a.getPort(), 8080);
    EXPECT_EQ(a.getAddressHostOrder(), LOOPBACK);
    ASSERT_TRUE(a.parse("localhost", 80));
    EXPECT_EQ(a.getPort(), 80);

    // Out-of-range ports are refused, not cut to 16 bits, and an empty host
    // is unknown. Either way the address stays as it was.
    for (const char* bad : {"localhost:70000", "localhost:-1", ":80"})
        EXPECT_FALSE(a.parse(bad, 81)) << bad;
    EXPECT_EQ(a.getAddressHostOrder(), LOOPBACK);
    EXPECT_EQ(a.getPort(), 80);
}
