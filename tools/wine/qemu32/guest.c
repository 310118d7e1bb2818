/* libvxq32.so (i386), preloaded into every 32-bit process of the win32 prefix: repairs four faults of
 * qemu-i386 7.2's user mode that stop 32-bit Wine. Under qemu every repair acts only where qemu
 * misbehaves; outside qemu (a real i386 kernel, or a 64-bit kernel running the process natively) the
 * library does nothing at all.
 *
 *  1. mmap with MAP_FIXED_NOREPLACE: qemu takes the address as a hint and places an occupied range
 *     elsewhere. The kernel's meaning is restored: what was placed elsewhere is unmapped and the call
 *     fails with EEXIST.
 *  2. set_thread_area: qemu keeps one GDT for the whole process, so an entry set for one thread's %fs
 *     changes it for all. Wine's own calls (through syscall()) are refused with ENOSYS; Wine then
 *     gives each thread an LDT selector for its TEB, which qemu emulates per entry correctly.
 *  3. glibc's %gs entry lives in that same shared GDT: after a signal return qemu reloads %gs from the
 *     entry last written, another thread's TLS. Each thread (the main one at load, every other one as
 *     it starts) gets an LDT selector of its own for its TLS.
 *  4. trapno in signal contexts is always -1, which Wine's fault handlers read as "unexpected trap"
 *     (every page fault becomes an illegal instruction). The handlers Wine installs for the fault
 *     signals are wrapped: trapno is filled from the signal number and si_code, as the kernel would
 *     have, before Wine's handler runs.
 *
 * It also leaves a marker page (a memfd named "vxq32-base" holding its own guest address) so that the
 * 64-bit wineserver's repair (server.c) can tell the process's guest base from its host mappings. */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/ucontext.h>
#include <unistd.h>

#include "marker.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

/* LDT entries below Wine's first (512, when %gs is not a GDT selector) hold the threads' %gs. */
#define FIRST_GS_ENTRY 1
#define LAST_GS_ENTRY 511

static int UnderQemu;
static int Repair[5] = {0, 1, 1, 1, 1}; /* VXQ32_REPAIRS (e.g. "134") chooses some, for diagnosis */
static int NextGsEntry = FIRST_GS_ENTRY;

static long (*RealSyscall)(long, ...);
static void *(*RealMmap)(void *, size_t, int, int, int, off_t);
static void *(*RealMmap64)(void *, size_t, int, int, int, off64_t);
static int (*RealPthreadCreate)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
static int (*RealSigaction)(int, const struct sigaction *, struct sigaction *);

/* ---- 1: MAP_FIXED_NOREPLACE ---- */

static void *NoReplace(void *got, void *wanted, size_t length, int flags)
{
    if (!UnderQemu || !Repair[1] || !(flags & MAP_FIXED_NOREPLACE) || (flags & MAP_FIXED) || got == MAP_FAILED || got == wanted)
        return got;
    munmap(got, length);
    errno = EEXIST;
    return MAP_FAILED;
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    return NoReplace(RealMmap(addr, length, prot, flags, fd, offset), addr, length, flags);
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off64_t offset)
{
    return NoReplace(RealMmap64(addr, length, prot, flags, fd, offset), addr, length, flags);
}

/* ---- 2: set_thread_area refused ---- */

long syscall(long number, ...)
{
    va_list ap;
    long a[6];
    va_start(ap, number);
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(ap, long);
    va_end(ap);
    if (UnderQemu && Repair[2] && number == SYS_set_thread_area) {
        errno = ENOSYS;
        return -1;
    }
    return RealSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

/* ---- 3: a %gs selector of each thread's own ---- */

static unsigned short GdtGs; /* glibc's own %gs selector (a GDT entry), as the process started */

static unsigned short ReadGs(void)
{
    unsigned short gs;
    __asm__ volatile("movw %%gs,%0" : "=r"(gs));
    return gs;
}

static void LoadGs(unsigned short selector) { __asm__ volatile("movw %0,%%gs" : : "r"(selector)); }

/* This thread's TLS segment as a descriptor for ENTRY (the TCB points to itself). */
static struct user_desc TlsDescriptor(unsigned entry)
{
    uint32_t tcb;
    __asm__ volatile("movl %%gs:0,%0" : "=r"(tcb));
    struct user_desc d;
    memset(&d, 0, sizeof(d));
    d.entry_number = entry;
    d.base_addr = tcb;
    d.limit = 0xfffff;
    d.seg_32bit = 1;
    d.limit_in_pages = 1;
    d.useable = 1;
    return d;
}

static void OwnGs(void)
{
    unsigned short gs = ReadGs();
    if (!gs || (gs & 4))
        return; /* no TLS yet, or already in the LDT */
    int entry = __atomic_fetch_add(&NextGsEntry, 1, __ATOMIC_RELAXED);
    if (entry > LAST_GS_ENTRY)
        return; /* out of entries: this thread keeps the shared one */
    struct user_desc d = TlsDescriptor((unsigned)entry);
    if (RealSyscall(SYS_modify_ldt, 1L, (long)&d, (long)sizeof(d)) == 0)
        LoadGs((unsigned short)((entry << 3) | 7));
}

struct Start {
    void *(*routine)(void *);
    void *arg;
    sigset_t mask; /* the creator's signal mask, for the new thread once it has its own %gs */
};

static void *StartThread(void *p)
{
    struct Start s = *(struct Start *)p;
    free(p);
    OwnGs();
    pthread_sigmask(SIG_SETMASK, &s.mask, NULL);
    return s.routine(s.arg);
}

/* glibc gives a new thread its TLS through the entry of the creator's %gs, which must therefore be the
   GDT entry glibc set up (an LDT index there is refused and the new thread would share the creator's
   TLS). While it creates a thread the creator's %gs is that GDT entry again, holding the creator's
   own TLS; the lock keeps other creators out of the shared entry meanwhile, and no signal reaches the
   creator (whose %gs a signal return would reload from the entry the new thread has just taken) or
   the new thread until each has its own selector again. */
static pthread_mutex_t CreateLock = PTHREAD_MUTEX_INITIALIZER;

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*routine)(void *), void *arg)
{
    struct Start *s = UnderQemu && Repair[3] && GdtGs ? malloc(sizeof(*s)) : NULL;
    if (!s)
        return RealPthreadCreate(thread, attr, routine, arg);
    s->routine = routine;
    s->arg = arg;
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    s->mask = saved;
    pthread_mutex_lock(&CreateLock);
    unsigned short mine = ReadGs();
    if (mine & 4) {
        struct user_desc d = TlsDescriptor(GdtGs >> 3);
        RealSyscall(SYS_set_thread_area, (long)&d);
        LoadGs(GdtGs);
    }
    int r = RealPthreadCreate(thread, attr, StartThread, s);
    if (mine & 4)
        LoadGs(mine);
    pthread_mutex_unlock(&CreateLock);
    pthread_sigmask(SIG_SETMASK, &saved, NULL); /* s belongs to the new thread once it runs */
    if (r)
        free(s);
    return r;
}

/* ---- 4: trapno ---- */

#define FAULT_SIGNALS 32
static struct sigaction Wrapped[FAULT_SIGNALS]; /* the handler asked for, per fault signal */
static volatile int IsWrapped[FAULT_SIGNALS];

static int IsFaultSignal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

/* The x86 exception the kernel reports for this signal. */
static int TrapFor(int sig, int code)
{
    switch (sig) {
    case SIGSEGV:
        return code == SEGV_MAPERR || code == SEGV_ACCERR ? 14 : 13; /* page fault, else protection */
    case SIGBUS:
        return code == BUS_ADRALN ? 17 : 14;
    case SIGILL:
        return 6;
    case SIGFPE:
        return code == FPE_INTDIV ? 0 : code == FPE_INTOVF ? 4 : 16;
    default: /* SIGTRAP */
        return code == TRAP_TRACE ? 1 : 3;
    }
}

/* Runs on whatever stack and segments the signal found: no TLS, no errno, no stack protector. */
__attribute__((optimize("no-stack-protector"))) static void FaultTrampoline(int sig, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    if (uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = TrapFor(sig, info->si_code);
    Wrapped[sig].sa_sigaction(sig, info, context);
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    if (!UnderQemu || !Repair[4] || sig <= 0 || sig >= FAULT_SIGNALS || !IsFaultSignal(sig))
        return RealSigaction(sig, act, old);
    struct sigaction before = Wrapped[sig];
    int was_wrapped = IsWrapped[sig];
    int r;
    if (act && (act->sa_flags & SA_SIGINFO)) {
        struct sigaction mine = *act;
        mine.sa_sigaction = FaultTrampoline;
        Wrapped[sig] = *act;
        IsWrapped[sig] = 1;
        r = RealSigaction(sig, &mine, old);
    } else {
        r = RealSigaction(sig, act, old);
        if (!r && act)
            IsWrapped[sig] = 0;
    }
    if (!r && old && was_wrapped && old->sa_sigaction == FaultTrampoline)
        old->sa_sigaction = before.sa_sigaction;
    return r;
}

/* ---- set-up ---- */

static void LeaveMarker(void)
{
    int fd = (int)RealSyscall(SYS_memfd_create, (long)VXQ32_MARKER_NAME, 1L /* MFD_CLOEXEC */);
    if (fd < 0)
        return;
    uint32_t *page = MAP_FAILED;
    if (ftruncate(fd, 4096) == 0)
        page = RealMmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (page == MAP_FAILED)
        return;
    page[0] = VXQ32_MARKER_MAGIC;
    page[1] = (uint32_t)(uintptr_t)page;
    mprotect(page, 4096, PROT_READ);
}

__attribute__((constructor)) static void Init(void)
{
    RealSyscall = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    RealMmap = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    RealMmap64 = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    RealPthreadCreate = (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(
        RTLD_NEXT, "pthread_create");
    RealSigaction = (int (*)(int, const struct sigaction *, struct sigaction *))dlsym(RTLD_NEXT, "sigaction");
    /* Under qemu's user mode the thread's own /proc entry (which qemu does not rewrite as it does
       /proc/self) names the emulator. */
    char exe[256];
    ssize_t n = readlink("/proc/thread-self/exe", exe, sizeof(exe) - 1);
    exe[n > 0 ? n : 0] = 0;
    const char *base = strrchr(exe, '/');
    UnderQemu = base && strncmp(base + 1, "qemu-i386", 9) == 0;
    if (!UnderQemu)
        return;
    const char *chosen = getenv("VXQ32_REPAIRS");
    for (int i = 1; chosen && i < 5; ++i)
        Repair[i] = strchr(chosen, '0' + i) != NULL;
    if (Repair[3]) {
        GdtGs = ReadGs();
        if (GdtGs & 4)
            GdtGs = 0; /* not glibc's GDT entry: leave the threads alone */
        OwnGs();
    }
    LeaveMarker();
}
