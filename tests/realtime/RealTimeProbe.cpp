// The real-time probe: loaded ahead of the C library (LD_PRELOAD), it takes
// the place of the functions through which a thread allocates, waits for a
// lock or enters the kernel, passes each call on to the C library, and, on a
// thread that armed it, notes the call and its stack. See RealTimeProbe.h.
#include "RealTimeProbe.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstring>

// The C library's own entry points for the allocator, which need no lookup
// (a lookup could itself allocate).
extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);
extern "C" void __libc_free (void*);
extern "C" void* __libc_memalign (size_t, size_t);

namespace
{
constexpr int capacity = 512;
RealTimeProbeCall calls[capacity];
int noted = 0;
thread_local bool armed = false;
thread_local bool noting = false; // inside note: the stack walk's own calls are not noted

void note (const char* function)
{
    if (! armed || noting)
        return;
    noting = true;
    if (noted < capacity)
    {
        auto& call = calls[noted];
        call.function = function;
        call.frames = backtrace (call.stack, 32);
    }
    ++noted;
    noting = false;
}

template <class Function>
Function next (const char* name)
{
    return reinterpret_cast<Function> (dlsym (RTLD_NEXT, name));
}

// The C library's versions, looked up once when the probe loads; the first
// stack walk loads the unwinder, which allocates, so it happens here too.
struct Originals
{
    Originals()
    {
        void* stack[4];
        backtrace (stack, 4);
    }

    int (*mutexLock) (pthread_mutex_t*) = next<int (*) (pthread_mutex_t*)> ("pthread_mutex_lock");
    int (*condWait) (pthread_cond_t*, pthread_mutex_t*) = next<int (*) (pthread_cond_t*, pthread_mutex_t*)> ("pthread_cond_wait");
    int (*condTimedWait) (pthread_cond_t*, pthread_mutex_t*, const timespec*) =
        next<int (*) (pthread_cond_t*, pthread_mutex_t*, const timespec*)> ("pthread_cond_timedwait");
    int (*rwlockRead) (pthread_rwlock_t*) = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_rdlock");
    int (*rwlockWrite) (pthread_rwlock_t*) = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_wrlock");
    int (*semWait) (sem_t*) = next<int (*) (sem_t*)> ("sem_wait");
    long (*syscall) (long, long, long, long, long, long, long) = next<long (*) (long, long, long, long, long, long, long)> ("syscall");
    ssize_t (*write) (int, const void*, size_t) = next<ssize_t (*) (int, const void*, size_t)> ("write");
    ssize_t (*read) (int, void*, size_t) = next<ssize_t (*) (int, void*, size_t)> ("read");
    int (*nanosleep) (const timespec*, timespec*) = next<int (*) (const timespec*, timespec*)> ("nanosleep");
    int (*usleep) (useconds_t) = next<int (*) (useconds_t)> ("usleep");
    int (*schedYield)() = next<int (*)()> ("sched_yield");
    int (*poll) (pollfd*, nfds_t, int) = next<int (*) (pollfd*, nfds_t, int)> ("poll");
    void* (*mmap) (void*, size_t, int, int, int, off_t) = next<void* (*) (void*, size_t, int, int, int, off_t)> ("mmap");
    int (*munmap) (void*, size_t) = next<int (*) (void*, size_t)> ("munmap");
};

Originals& originals()
{
    static Originals o;
    return o;
}

const bool loaded = (originals(), true);
} // namespace

extern "C"
{
void realtime_probe_arm()
{
    noted = 0;
    armed = true;
}

int realtime_probe_disarm (RealTimeProbeCall* out, int outCapacity)
{
    armed = false;
    const int kept = noted < capacity ? noted : capacity;
    std::memcpy (out, calls, sizeof (RealTimeProbeCall) * (size_t) (kept < outCapacity ? kept : outCapacity));
    return noted;
}

// The allocator.
void* malloc (size_t size)
{
    note ("malloc");
    return __libc_malloc (size);
}

void* calloc (size_t count, size_t size)
{
    note ("calloc");
    return __libc_calloc (count, size);
}

void* realloc (void* p, size_t size)
{
    note ("realloc");
    return __libc_realloc (p, size);
}

void free (void* p)
{
    if (p != nullptr)
        note ("free");
    __libc_free (p);
}

void* aligned_alloc (size_t alignment, size_t size)
{
    note ("aligned_alloc");
    return __libc_memalign (alignment, size);
}

void* memalign (size_t alignment, size_t size)
{
    note ("memalign");
    return __libc_memalign (alignment, size);
}

int posix_memalign (void** p, size_t alignment, size_t size)
{
    note ("posix_memalign");
    *p = __libc_memalign (alignment, size);
    return *p != nullptr ? 0 : 12; // ENOMEM
}

// Waits for locks and conditions.
int pthread_mutex_lock (pthread_mutex_t* m)
{
    note ("pthread_mutex_lock");
    return originals().mutexLock (m);
}

int pthread_cond_wait (pthread_cond_t* c, pthread_mutex_t* m)
{
    note ("pthread_cond_wait");
    return originals().condWait (c, m);
}

int pthread_cond_timedwait (pthread_cond_t* c, pthread_mutex_t* m, const timespec* t)
{
    note ("pthread_cond_timedwait");
    return originals().condTimedWait (c, m, t);
}

int pthread_rwlock_rdlock (pthread_rwlock_t* l)
{
    note ("pthread_rwlock_rdlock");
    return originals().rwlockRead (l);
}

int pthread_rwlock_wrlock (pthread_rwlock_t* l)
{
    note ("pthread_rwlock_wrlock");
    return originals().rwlockWrite (l);
}

int sem_wait (sem_t* s)
{
    note ("sem_wait");
    return originals().semWait (s);
}

// System calls: the generic entry (futex waits among them) and the usual wrappers.
long syscall (long number, ...)
{
    note (number == SYS_futex ? "syscall (futex)" : "syscall");
    va_list args;
    va_start (args, number);
    long a[6];
    for (auto& x : a)
        x = va_arg (args, long);
    va_end (args);
    return originals().syscall (number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

ssize_t write (int fd, const void* data, size_t size)
{
    note ("write");
    return originals().write (fd, data, size);
}

ssize_t read (int fd, void* data, size_t size)
{
    note ("read");
    return originals().read (fd, data, size);
}

int nanosleep (const timespec* t, timespec* rest)
{
    note ("nanosleep");
    return originals().nanosleep (t, rest);
}

int usleep (useconds_t us)
{
    note ("usleep");
    return originals().usleep (us);
}

int sched_yield()
{
    note ("sched_yield");
    return originals().schedYield();
}

int poll (pollfd* fds, nfds_t n, int timeout)
{
    note ("poll");
    return originals().poll (fds, n, timeout);
}

void* mmap (void* address, size_t size, int protection, int flags, int fd, off_t offset)
{
    note ("mmap");
    return originals().mmap (address, size, protection, flags, fd, offset);
}

int munmap (void* address, size_t size)
{
    note ("munmap");
    return originals().munmap (address, size);
}
}
