// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"

#include <atomic>
#include <pthread.h>

// The system's own thread class over POSIX threads. A subclass implements
// run(); start() runs it on a new thread through a controlling function that
// registers the thread in the process-wide registry (TLSManager), shields the
// process from exceptions escaping run() and marks the thread finished when
// the body ends.
//
// Stopping is cooperative: stop() only sets a flag that the body polls
// (isStopRequested()); stop(true) then waits until the body has really ended.
// An owner must stop(true) a started thread before destroying it.
//
// interrupt() wakes a sleep() or wait() of the thread; an interrupt sent while
// the thread is not sleeping is remembered and ends its next sleep at once.
// sleep(), wait() and testInterrupted() are static and act on the calling
// thread's own object, so any thread can use them: threads the system did
// not start (the GUI thread, std::thread) get a DummyThread on first use.
//
// Timed waits run on the monotonic clock, so a change of the wall clock
// neither stretches nor cuts short a sleep.
class Thread
{
public:
    enum {
        STATE_CREATED = 0,
        STATE_INITIALIZED = 1,
        STATE_RUNNING = 2,
        STATE_INTERRUPTED = 3,
        STATE_FINISHED = 4,
        STATE_WAITING = 5,
        STATE_SLEEPING = 6
    };

    // Results of wait() and waitUninterruptable().
    enum { WAIT_TIMEOUT = 0, WAIT_INTERRUPT_PENDING = 1, WAIT_WOKEN = 2 };

    // A wait of this many milliseconds has no limit.
    static constexpr unsigned long long WAIT_FOREVER = ~0ULL;
    // Smallest stack size start() applies when a size is set.
    static constexpr int MIN_STACK_SIZE = 8192;

    Thread();
    // Joins the native thread when it has finished (unless the destroying
    // thread is that thread itself). Destroying a thread whose body still
    // runs is the owner's error: stop(true) first.
    virtual ~Thread();

    virtual void run() = 0;
    // True if the object must delete itself when its body has ended. Asked
    // once, before the thread reports that it has finished.
    virtual bool autoDelete() = 0;

    // Creates the conditions (once).
    void initialize();
    // Runs run() on a new native thread. Throws ThreadCreateException when the
    // system refuses, or when the body of this object is still running.
    void start();
    // Asks the body to end. With wait, blocks until the body has ended: at
    // once for a thread that never started, has finished or was only
    // assigned (DummyThread); never when called from the thread itself,
    // which would wait for ever. Do not wait on an autoDelete() thread: it
    // may delete itself while the waiter wakes up.
    void stop(bool wait);
    // Wakes the thread's sleep or wait, or leaves a pending interrupt.
    void interrupt();

    // Sleeps the calling thread up to ms milliseconds. True when an interrupt
    // ended the sleep (or was already pending), false on time-out.
    static bool sleep(unsigned long long ms);
    // Like sleep: WAIT_INTERRUPT_PENDING, WAIT_TIMEOUT or WAIT_WOKEN.
    // ms == WAIT_FOREVER waits without limit.
    static int wait(unsigned long long ms);
    // Waits ms milliseconds, deaf to interrupts; returns WAIT_TIMEOUT.
    static int waitUninterruptable(unsigned long long ms);
    // True if an interrupt was pending; clears it.
    static bool testInterrupted();
    // The Thread object of the calling thread (a DummyThread for threads the
    // system did not start).
    static Thread* getCurrentThread();

    // Binds the object to the calling native thread and runs the body on it,
    // then ends the calling thread.
    void attachCurrentThread();
    // Binds the object to the calling native thread without running anything.
    void assignToCurrentThread();

    bool isStopRequested() const { return m_stopRequested.load(); }
    int getState();
    // Stored clamped to -20..20; no platform call uses it.
    void setPriority(int priority);
    int getPriority();
    // 0 = platform default; start() raises any other value to at least
    // MIN_STACK_SIZE (and to what the platform accepts when applying it).
    void setStackSize(int bytes);
    int getStackSize();
    int getProcessId();
    // The registry key of the thread: its native handle as a 64-bit number.
    unsigned long long getThreadId();

protected:
    // Left to subclasses; cleared at construction.
    bool m_flag1;
    bool m_flag2;

private:
    friend struct ThreadTestAccess; // the tests provoke spurious wake-ups
    friend class TLSManager;
    friend class TLSManagerImpl;
    static void* threadFunction(void* arg);
    static void cancellationHandler(void* arg);
    // Shared by sleep() and wait(): waits on the wake condition in `state`.
    // Returns WAIT_INTERRUPT_PENDING, WAIT_TIMEOUT or WAIT_WOKEN.
    int waitForWake(unsigned long long ms, int state);

    pthread_cond_t m_finished;        // broadcast when the body has ended
    pthread_cond_t m_wake;            // signalled by interrupt()
    pthread_cond_t m_uninterruptible; // nothing signals it
    pthread_cond_t m_spare;
    pthread_mutex_t m_mutex;          // guards everything below but the stop flag
    int m_processId;
    pthread_t m_handle;
    std::atomic<bool> m_stopRequested; // written by any thread, polled by the body
    int m_state;
    int m_priority;
    int m_stackSize;
    bool m_conditionsCreated;
    bool m_joinable; // the native thread came from start() and is not joined yet
    bool m_running;  // started (or attached) and its body has not ended
};

// Stands for a thread the system did not start; created on first use by
// TLSManager::getCurrentThread() and bound to the calling thread. It is
// removed from the registry and deleted when that thread ends, so a later
// thread that gets the same native handle starts with a fresh object.
class DummyThread : public Thread
{
public:
    void run() override {}
    bool autoDelete() override { return true; }
};

// One registry record.
struct ThreadLocalStorage
{
    Thread* thread = nullptr;
    unsigned long long threadId = 0;
};

// The process-wide registry that maps native threads to their Thread
// objects. Every static operation runs under the one registry mutex; a
// thread never holds its own mutex while taking the registry mutex.
class TLSManager
{
public:
    virtual ~TLSManager() = default;

    // Appends a record for t (bound to its native handle); for null, a new
    // DummyThread bound to the calling thread.
    virtual ThreadLocalStorage* createThreadLocalStorage(Thread* t) = 0;
    // Removes and deletes the record of t (not t itself).
    virtual void removeThreadInternal(Thread* t) = 0;
    virtual ThreadLocalStorage* findThread(unsigned long long id) = 0;
    // The threads of every record, in order (used when a manager is replaced).
    virtual void listThreads(Array<Thread*, int>& out) = 0;

    static TLSManager* getTLSManager();
    // Moves every record of the current manager into m, then deletes the old
    // manager. Null or the current manager is ignored.
    static void setTLSManager(TLSManager* m);
    static Thread* getCurrentThread();
    // Adds a record unless the thread's id is already present.
    static void addThread(Thread* t);
    static void removeThread(Thread* t);
};

class TLSManagerImpl : public TLSManager
{
public:
    ~TLSManagerImpl() override;
    ThreadLocalStorage* createThreadLocalStorage(Thread* t) override;
    void removeThreadInternal(Thread* t) override;
    ThreadLocalStorage* findThread(unsigned long long id) override;
    void listThreads(Array<Thread*, int>& out) override;

private:
    Array<ThreadLocalStorage*, int> m_records;
};
