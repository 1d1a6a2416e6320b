// SPDX-License-Identifier: GPL-3.0-or-later
#include "Thread.h"

#include "Exception.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

// Reaches the conditions to provoke the spurious wake-ups that POSIX allows.
struct ThreadTestAccess
{
    static void spuriousFinished(Thread& t) { pthread_cond_broadcast(&t.m_finished); }
    static void spuriousWake(Thread& t) { pthread_cond_broadcast(&t.m_wake); }
};

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs a std::function as its body; never deletes itself.
class FnThread : public Thread
{
public:
    explicit FnThread(std::function<void(FnThread&)> body) : m_body(std::move(body)) {}
    ~FnThread() override { stop(true); }
    void run() override { m_body(*this); }
    bool autoDelete() override { return false; }

private:
    std::function<void(FnThread&)> m_body;
};

// Waits (bounded) until the condition holds.
bool eventually(const std::function<bool()>& cond, int ms = 5000)
{
    const auto start = Clock::now();
    while (!cond()) {
        if (msSince(start) > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST(ThreadTest, PendingInterruptEndsTheNextWaitAndSleepOtherwiseTimesOut)
{
    Thread* self = Thread::getCurrentThread();
    self->interrupt();
    auto start = Clock::now();
    EXPECT_TRUE(Thread::sleep(1000));
    EXPECT_LT(msSince(start), 500);
    EXPECT_FALSE(Thread::testInterrupted());

    self->interrupt();
    EXPECT_EQ(Thread::wait(1000), Thread::WAIT_INTERRUPT_PENDING);

    // An uninterruptible wait runs its time and leaves the interrupt pending.
    self->interrupt();
    start = Clock::now();
    EXPECT_EQ(Thread::waitUninterruptable(30), Thread::WAIT_TIMEOUT);
    EXPECT_GE(msSince(start), 25);
    EXPECT_TRUE(Thread::testInterrupted());
    EXPECT_FALSE(Thread::testInterrupted());

    // Without an interrupt, sleep runs its time.
    start = Clock::now();
    EXPECT_FALSE(Thread::sleep(50));
    EXPECT_GE(msSince(start), 45);
    EXPECT_EQ(Thread::wait(10), Thread::WAIT_TIMEOUT);
}

TEST(ThreadTest, InterruptWakesASleepingThreadButSpuriousWakeUpsDoNot)
{
    std::atomic<int> result{-1};
    FnThread t([&](FnThread&) { result = Thread::sleep(10000) ? 1 : 0; });
    t.start();
    ASSERT_TRUE(eventually([&] { return t.getState() == Thread::STATE_SLEEPING; }));
    ThreadTestAccess::spuriousWake(t);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result.load(), -1) << "a spurious wake-up ended the sleep";
    t.interrupt();
    t.stop(true);
    EXPECT_EQ(result.load(), 1);
}

TEST(ThreadTest, StopWithWaitReturnsOnlyAfterTheBodyFinished)
{
    std::atomic<bool> release{false};
    std::atomic<bool> done{false};
    FnThread t([&](FnThread& self) {
        while (!self.isStopRequested())
            Thread::sleep(5);
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        done = true;
    });
    t.start();
    ASSERT_TRUE(eventually([&] { return t.getState() == Thread::STATE_SLEEPING; }));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        t.stop(true);
        stopped = true;
    });
    // Spurious wake-ups of the stopper while the body still runs.
    for (int i = 0; i < 20; ++i) {
        ThreadTestAccess::spuriousFinished(t);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(stopped.load()) << "stop(true) returned while the body was running";
    release = true;
    stopper.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(t.getState(), Thread::STATE_FINISHED);
}

// Nothing to wait for: threads that never ran, and the body stopping itself.
TEST(ThreadTest, StopWithWaitReturnsAtOnceWhenNoBodyRunsElsewhere)
{
    FnThread fresh([](FnThread&) {});
    fresh.stop(true);

    // An interrupt before start leaves the "interrupted" state behind; that
    // must not pass for a running body.
    FnThread interrupted([](FnThread&) {});
    interrupted.initialize();
    interrupted.interrupt();
    interrupted.stop(true);

    std::atomic<bool> after{false};
    FnThread t([&](FnThread& self) {
        self.stop(true);
        after = true;
    });
    t.start();
    ASSERT_TRUE(eventually([&] { return after.load(); }));
}

TEST(ThreadTest, EscapingExceptionsArePrintedAndTheThreadStillFinishes)
{
    struct Case
    {
        std::function<void()> thrower;
        const char* text;
    };
    const Case cases[] = {
        {[] { throw FileCantReadException(); }, "\nUnhandled Exception !\n"},
        {[] { throw ThreadStopException(); }, "\nUnhandled ThreadStopException !\n"},
        {[] { throw 42; }, "\nUnhandled unknown Exception !\n"},
        // pthread_exit unwinds through the controlling function's handlers,
        // which must let it pass rather than swallow it.
        {[] { pthread_exit(nullptr); }, ""},
    };
    for (const Case& c : cases) {
        std::atomic<unsigned long long> id{0};
        FnThread t([&](FnThread& self) {
            id = self.getThreadId();
            ASSERT_NE(TLSManager::getTLSManager()->findThread(id), nullptr);
            ASSERT_EQ(Thread::getCurrentThread(), &self);
            c.thrower();
        });
        testing::internal::CaptureStdout();
        t.start();
        t.stop(true);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(c.text), std::string::npos) << "stdout was: " << out;
        EXPECT_EQ(t.getState(), Thread::STATE_FINISHED);
        EXPECT_EQ(TLSManager::getTLSManager()->findThread(id.load()), nullptr);
    }
}

TEST(ThreadTest, ForeignThreadsGetDummyThreadsOfTheirOwn)
{
    Thread* mainThread = Thread::getCurrentThread();
    EXPECT_EQ(Thread::getCurrentThread(), mainThread);
    Array<Thread*, int> before;
    TLSManager::getTLSManager()->listThreads(before);

    // Checked on the foreign thread: its object goes when the thread ends.
    std::thread first([&] {
        Thread* dummy = Thread::getCurrentThread();
        EXPECT_NE(dynamic_cast<DummyThread*>(dummy), nullptr);
        EXPECT_EQ(Thread::getCurrentThread(), dummy);
        EXPECT_NE(dummy, mainThread);
        dummy->interrupt();
    });
    first.join();
    // The C library reuses native handles of ended threads at once; a left
    // over record would hand the second thread the first one's interrupt.
    bool pending = true;
    std::thread second([&] { pending = Thread::testInterrupted(); });
    second.join();
    EXPECT_FALSE(pending);

    Array<Thread*, int> after;
    TLSManager::getTLSManager()->listThreads(after);
    EXPECT_EQ(after.count(), before.count());
}

TEST(ThreadTest, AttachedThreadRunsTheBodyAndFinishes)
{
    std::atomic<bool> sawItself{false};
    FnThread t([&](FnThread& self) { sawItself = Thread::getCurrentThread() == &self; });
    std::thread host([&] { t.attachCurrentThread(); });
    host.join();
    EXPECT_TRUE(sawItself.load());
    EXPECT_EQ(t.getState(), Thread::STATE_FINISHED);
    t.stop(true);
}

TEST(ThreadTest, SecondStartIsRefused)
{
    FnThread t([](FnThread& self) {
        while (!self.isStopRequested())
            Thread::sleep(5);
    });
    t.start();
    EXPECT_THROW(t.start(), ThreadCreateException);
    t.stop(true);
}

TEST(ThreadTest, AutoDeleteThreadDeletesItself)
{
    static std::atomic<bool> destroyed;
    destroyed = false;
    struct SelfDeleting : Thread
    {
        ~SelfDeleting() override { destroyed = true; }
        void run() override {}
        bool autoDelete() override { return true; }
    };
    (new SelfDeleting)->start();
    EXPECT_TRUE(eventually([] { return destroyed.load(); }));
}

TEST(ThreadTest, ReplacingTheManagerKeepsEveryRecord)
{
    Thread* mainThread = Thread::getCurrentThread();
    TLSManager::setTLSManager(new TLSManagerImpl);
    EXPECT_EQ(Thread::getCurrentThread(), mainThread);
}
