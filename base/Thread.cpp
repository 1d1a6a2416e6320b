// SPDX-License-Identifier: GPL-3.0-or-later
#include "Thread.h"

#include "Exception.h"
#include "SocketSystem.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <cxxabi.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// Waits longer than this are treated as unlimited, which keeps the deadline
// arithmetic far from overflow (about 31 years).
static const unsigned long long LONGEST_TIMED_WAIT_MS = 1000ULL * 60 * 60 * 24 * 365 * 31;

static bool isUnlimited(unsigned long long ms)
{
    return ms == Thread::WAIT_FOREVER || ms > LONGEST_TIMED_WAIT_MS;
}

// Absolute deadline on the monotonic clock (the conditions are bound to it).
static timespec deadlineAfter(unsigned long long ms)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long sec = static_cast<long long>(now.tv_sec) + static_cast<long long>(ms / 1000);
    long long nsec = now.tv_nsec + static_cast<long long>(ms % 1000) * 1000000;
    if (nsec >= 1000000000) {
        sec += nsec / 1000000000;
        nsec %= 1000000000;
    }
    timespec deadline;
    deadline.tv_sec = static_cast<time_t>(sec);
    deadline.tv_nsec = static_cast<long>(nsec);
    return deadline;
}

// Waits on cond (mutex held) while keepWaiting() holds, at most ms
// milliseconds unless isUnlimited(ms). A wake-up that leaves keepWaiting()
// true - a spurious one - goes on waiting for the rest of the time.
template <typename Pred>
static void waitWhile(pthread_cond_t* cond, pthread_mutex_t* mutex, unsigned long long ms,
                      Pred keepWaiting)
{
    const bool unlimited = isUnlimited(ms);
    const timespec deadline = deadlineAfter(unlimited ? 0 : ms);
    while (keepWaiting()) {
        const int rc = unlimited ? pthread_cond_wait(cond, mutex)
                                 : pthread_cond_timedwait(cond, mutex, &deadline);
        if (rc == ETIMEDOUT)
            break;
    }
}

// A copy of field, read under mutex.
template <typename T>
static T readLocked(pthread_mutex_t* mutex, const T& field)
{
    pthread_mutex_lock(mutex);
    const T value = field;
    pthread_mutex_unlock(mutex);
    return value;
}

static void initMonotonicCondition(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

static unsigned long long handleToId(pthread_t handle)
{
    return static_cast<unsigned long long>(handle);
}

static void report(const char* text)
{
    puts(text);
    fflush(stdout);
}

// ---------------------------------------------------------------------------
// Thread
// ---------------------------------------------------------------------------

Thread::Thread()
    : m_flag1(false), m_flag2(false), m_processId(0), m_handle(), m_stopRequested(false),
      m_state(STATE_CREATED), m_priority(0), m_stackSize(0), m_conditionsCreated(false),
      m_joinable(false), m_running(false)
{
    pthread_mutex_init(&m_mutex, nullptr);
}

Thread::~Thread()
{
    pthread_mutex_lock(&m_mutex);
    if (m_joinable) {
        if (pthread_equal(m_handle, pthread_self())) {
            // A body that deletes its own object: nobody is left to join it.
            pthread_detach(m_handle);
        } else if (!m_running) {
            // The body has ended; joining waits for the last instructions
            // of the controlling function, which still use the mutex.
            pthread_join(m_handle, nullptr);
        } else {
            // Destroyed while running: the owner did not stop it. Nothing can
            // make that safe; at least do not leak the native thread.
            pthread_detach(m_handle);
        }
        m_joinable = false;
    }
    const bool conditions = m_conditionsCreated;
    pthread_mutex_unlock(&m_mutex);
    if (conditions) {
        pthread_cond_destroy(&m_finished);
        pthread_cond_destroy(&m_wake);
        pthread_cond_destroy(&m_uninterruptible);
        pthread_cond_destroy(&m_spare);
    }
    pthread_mutex_destroy(&m_mutex);
}

void Thread::initialize()
{
    pthread_mutex_lock(&m_mutex);
    if (!m_conditionsCreated) {
        initMonotonicCondition(&m_finished);
        initMonotonicCondition(&m_wake);
        initMonotonicCondition(&m_uninterruptible);
        initMonotonicCondition(&m_spare);
        m_conditionsCreated = true;
        if (m_state == STATE_CREATED)
            m_state = STATE_INITIALIZED;
    }
    pthread_mutex_unlock(&m_mutex);
}

void Thread::start()
{
    initialize();
    pthread_mutex_lock(&m_mutex);
    if (m_running) {
        // A second native thread on the same object would share its state.
        pthread_mutex_unlock(&m_mutex);
        throw ThreadCreateException();
    }
    if (m_joinable) {
        // Restart after the body ended: reap the previous native thread.
        pthread_join(m_handle, nullptr);
        m_joinable = false;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (m_stackSize != 0) {
        if (m_stackSize < MIN_STACK_SIZE)
            m_stackSize = MIN_STACK_SIZE;
        // The platform may demand more than our minimum (16 KiB on Linux).
        long platformMin = sysconf(_SC_THREAD_STACK_MIN);
        if (platformMin < PTHREAD_STACK_MIN)
            platformMin = PTHREAD_STACK_MIN;
        size_t size = static_cast<size_t>(m_stackSize);
        if (size < static_cast<size_t>(platformMin))
            size = static_cast<size_t>(platformMin);
        pthread_attr_setstacksize(&attr, size);
    }
    const int rc = pthread_create(&m_handle, &attr, threadFunction, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        pthread_mutex_unlock(&m_mutex);
        errno = rc;
        throw ThreadCreateException();
    }
    // The new thread blocks on the mutex until this state is in place.
    m_state = STATE_RUNNING;
    m_running = true;
    m_joinable = true;
    pthread_mutex_unlock(&m_mutex);
}

void Thread::stop(bool wait)
{
    m_stopRequested = true;
    if (!wait)
        return;
    pthread_mutex_lock(&m_mutex);
    if (m_conditionsCreated && !(m_running && pthread_equal(m_handle, pthread_self()))) {
        // A loop, not a single wait: a spurious wake-up must not let the
        // owner go on to destroy a thread whose body is still running.
        while (m_running)
            pthread_cond_wait(&m_finished, &m_mutex);
    }
    pthread_mutex_unlock(&m_mutex);
}

void Thread::interrupt()
{
    pthread_mutex_lock(&m_mutex);
    if (m_state != STATE_FINISHED) {
        if (m_conditionsCreated)
            pthread_cond_signal(&m_wake);
        m_state = STATE_INTERRUPTED;
    }
    pthread_mutex_unlock(&m_mutex);
}

int Thread::waitForWake(unsigned long long ms, int state)
{
    pthread_mutex_lock(&m_mutex);
    if (m_state == STATE_INTERRUPTED) {
        m_state = STATE_RUNNING;
        pthread_mutex_unlock(&m_mutex);
        return WAIT_INTERRUPT_PENDING;
    }
    m_state = state;
    // Only interrupt() moves the state away from `state`.
    waitWhile(&m_wake, &m_mutex, ms, [&] { return m_state == state; });
    const int result = m_state == STATE_INTERRUPTED ? WAIT_WOKEN : WAIT_TIMEOUT;
    m_state = STATE_RUNNING;
    pthread_mutex_unlock(&m_mutex);
    return result;
}

bool Thread::sleep(unsigned long long ms)
{
    return getCurrentThread()->waitForWake(ms, STATE_SLEEPING) != WAIT_TIMEOUT;
}

int Thread::wait(unsigned long long ms)
{
    return getCurrentThread()->waitForWake(ms, STATE_WAITING);
}

int Thread::waitUninterruptable(unsigned long long ms)
{
    Thread* t = getCurrentThread();
    pthread_mutex_lock(&t->m_mutex);
    waitWhile(&t->m_uninterruptible, &t->m_mutex, ms, [] { return true; });
    pthread_mutex_unlock(&t->m_mutex);
    return WAIT_TIMEOUT;
}

bool Thread::testInterrupted()
{
    Thread* t = getCurrentThread();
    pthread_mutex_lock(&t->m_mutex);
    const bool result = t->m_state == STATE_INTERRUPTED;
    t->m_state = STATE_RUNNING;
    pthread_mutex_unlock(&t->m_mutex);
    return result;
}

Thread* Thread::getCurrentThread()
{
    return TLSManager::getCurrentThread();
}

void Thread::attachCurrentThread()
{
    initialize();
    pthread_mutex_lock(&m_mutex);
    m_handle = pthread_self();
    m_state = STATE_RUNNING;
    m_running = true;
    pthread_mutex_unlock(&m_mutex);
    threadFunction(this);
    pthread_exit(nullptr);
}

void Thread::assignToCurrentThread()
{
    initialize();
    pthread_mutex_lock(&m_mutex);
    m_handle = pthread_self();
    m_state = STATE_RUNNING;
    pthread_mutex_unlock(&m_mutex);
}

int Thread::getState()
{
    return readLocked(&m_mutex, m_state);
}

void Thread::setPriority(int priority)
{
    pthread_mutex_lock(&m_mutex);
    m_priority = priority < -20 ? -20 : (priority > 20 ? 20 : priority);
    pthread_mutex_unlock(&m_mutex);
}

int Thread::getPriority()
{
    return readLocked(&m_mutex, m_priority);
}

void Thread::setStackSize(int bytes)
{
    pthread_mutex_lock(&m_mutex);
    m_stackSize = bytes < 0 ? 0 : bytes;
    pthread_mutex_unlock(&m_mutex);
}

int Thread::getStackSize()
{
    return readLocked(&m_mutex, m_stackSize);
}

int Thread::getProcessId()
{
    return readLocked(&m_mutex, m_processId);
}

unsigned long long Thread::getThreadId()
{
    return handleToId(readLocked(&m_mutex, m_handle));
}

// The unwinding of pthread_exit or a cancellation is caught by reference to
// rethrow it, yet it carries no C++ object: the undefined-behaviour checker
// would report that reference as bound to null.
__attribute__((no_sanitize("null"))) void* Thread::threadFunction(void* arg)
{
    Thread* t = static_cast<Thread*>(arg);
    if (!t)
        return nullptr;
    // Waits here until start() has recorded the running state.
    pthread_mutex_lock(&t->m_mutex);
    t->m_handle = pthread_self();
    t->m_processId = static_cast<int>(getpid());
    pthread_mutex_unlock(&t->m_mutex);
    TLSManager::addThread(t);

    pthread_cleanup_push(cancellationHandler, t);
    try {
        SocketSystem::initialize();
    } catch (abi::__forced_unwind&) {
        throw; // thread cancellation must unwind through here
    } catch (Exception&) {
        report("\nSocketSystem failed to initialize");
    } catch (...) {
        report("\nUnhandled unknown Exception !");
    }
    try {
        t->run();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (ThreadStopException&) {
        report("\nUnhandled ThreadStopException !");
    } catch (Exception&) {
        report("\nUnhandled Exception !");
    } catch (...) {
        report("\nUnhandled unknown Exception !");
    }
    pthread_cleanup_pop(1);
    return nullptr;
}

void Thread::cancellationHandler(void* arg)
{
    Thread* t = static_cast<Thread*>(arg);
    try {
        SocketSystem::cleanup();
    } catch (Exception&) {
        report("\nSocketSystem failed to deinitialize");
    } catch (...) {
        report("\nUnhandled unknown Exception !");
    }
    // Asked before the finished broadcast: once stop(true) has returned, the
    // owner may already be destroying the object.
    const bool selfDelete = t->autoDelete();
    TLSManager::removeThread(t);
    pthread_mutex_lock(&t->m_mutex);
    t->m_state = STATE_FINISHED;
    t->m_running = false;
    pthread_cond_broadcast(&t->m_finished);
    pthread_mutex_unlock(&t->m_mutex);
    // From here on the object belongs to its owner (or to us, to delete).
    if (selfDelete)
        delete t;
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

// The registry mutex and manager are created on first use and never
// destroyed: threads may still look themselves up while the process exits.
static std::recursive_mutex& registryLock()
{
    static std::recursive_mutex* s_pLock = new std::recursive_mutex;
    return *s_pLock;
}

static TLSManager* s_tlsManager = nullptr;

static TLSManager* currentManager()
{
    if (!s_tlsManager)
        s_tlsManager = new TLSManagerImpl;
    return s_tlsManager;
}

// Removes and deletes the DummyThread of a thread the system did not start
// when that thread ends. The main thread's object lives until the process
// ends, as other threads may still hold it.
namespace {
struct DummyThreadReaper
{
    Thread* dummy = nullptr;
    ~DummyThreadReaper()
    {
        if (!dummy)
            return;
        TLSManager::removeThread(dummy);
        delete dummy;
    }
};
} // namespace

static thread_local DummyThreadReaper t_dummyReaper;

static bool isMainThread()
{
    return static_cast<long>(getpid()) == syscall(SYS_gettid);
}

TLSManager* TLSManager::getTLSManager()
{
    std::lock_guard<std::recursive_mutex> lock(registryLock());
    return currentManager();
}

void TLSManager::setTLSManager(TLSManager* m)
{
    std::lock_guard<std::recursive_mutex> lock(registryLock());
    if (!m || m == s_tlsManager)
        return;
    if (s_tlsManager) {
        Array<Thread*, int> threads;
        s_tlsManager->listThreads(threads);
        for (int i = 0; i < threads.count(); ++i)
            m->createThreadLocalStorage(threads[i]);
        delete s_tlsManager;
    }
    s_tlsManager = m;
}

Thread* TLSManager::getCurrentThread()
{
    Thread* t = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(registryLock());
        TLSManager* m = currentManager();
        if (ThreadLocalStorage* r = m->findThread(handleToId(pthread_self())))
            return r->thread;
        t = m->createThreadLocalStorage(nullptr)->thread;
    }
    if (!isMainThread())
        t_dummyReaper.dummy = t;
    return t;
}

void TLSManager::addThread(Thread* t)
{
    if (!t)
        return;
    std::lock_guard<std::recursive_mutex> lock(registryLock());
    TLSManager* m = currentManager();
    if (!m->findThread(t->getThreadId()))
        m->createThreadLocalStorage(t);
}

void TLSManager::removeThread(Thread* t)
{
    if (!t)
        return;
    std::lock_guard<std::recursive_mutex> lock(registryLock());
    currentManager()->removeThreadInternal(t);
}

TLSManagerImpl::~TLSManagerImpl()
{
    for (int i = 0; i < m_records.count(); ++i)
        delete m_records[i];
}

ThreadLocalStorage* TLSManagerImpl::createThreadLocalStorage(Thread* t)
{
    if (!t) {
        t = new DummyThread;
        t->assignToCurrentThread();
    }
    ThreadLocalStorage* r = new ThreadLocalStorage;
    r->thread = t;
    r->threadId = t->getThreadId();
    m_records.append(r);
    return r;
}

void TLSManagerImpl::removeThreadInternal(Thread* t)
{
    for (int i = 0; i < m_records.count(); ++i) {
        if (m_records[i]->thread == t) {
            delete m_records[i];
            m_records.remove(i, 1);
            return;
        }
    }
}

ThreadLocalStorage* TLSManagerImpl::findThread(unsigned long long id)
{
    for (int i = 0; i < m_records.count(); ++i) {
        if (m_records[i]->threadId == id)
            return m_records[i];
    }
    return nullptr;
}

void TLSManagerImpl::listThreads(Array<Thread*, int>& out)
{
    out.setCount(0);
    for (int i = 0; i < m_records.count(); ++i)
        out.append(m_records[i]->thread);
}
