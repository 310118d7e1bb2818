/* libvxq32.so (x86_64), preloaded into the 64-bit wineserver of the win32 prefix: repairs the fifth
 * fault of qemu-i386 7.2's user mode that the 32-bit Wine meets. With vm.mmap_min_addr above 0 qemu
 * puts the guest's address 0 at a host offset (0x1000 here), so the wineserver, which reads and writes
 * another process's memory at the guest's addresses (ptrace's PEEKDATA and POKEDATA, or
 * /proc/PID/mem), lands that offset off.
 * The offset is added for processes that carry the marker page of guest.c (that is, 32-bit processes
 * under qemu); every other access, and every other 64-bit program this library is loaded into, is
 * left exactly as it was. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "marker.h"

static int InServer;
static ssize_t (*RealPread)(int, void *, size_t, off_t);
static ssize_t (*RealPwrite)(int, const void *, size_t, off_t);
static long (*RealPtrace)(enum __ptrace_request, pid_t, void *, void *);

/* The last process looked at: its id, its marker's host address and its guest base. */
static long CachedPid = -1;
static uint64_t CachedMarker, CachedBase;

/* The process whose memory this descriptor is, or -1. */
static long MemoryOf(int fd)
{
    char link[64], target[64];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof(target) - 1);
    if (n <= 0)
        return -1;
    target[n] = 0;
    long pid;
    char tail[8];
    if (sscanf(target, "/proc/%ld/%7s", &pid, tail) != 2 || strcmp(tail, "mem") != 0)
        return -1;
    return pid;
}

/* The marker says its own guest address: the guest base is where it is minus that. It is read the
 * way the server is reading the process: through FD, or with ptrace when FD is -1. */
static int ReadMarker(long pid, int fd, uint64_t host, uint64_t *base)
{
    uint32_t words[2];
    if (fd >= 0) {
        if (RealPread(fd, words, sizeof(words), (off_t)host) != (ssize_t)sizeof(words))
            return 0;
    } else {
        errno = 0;
        long word = RealPtrace(PTRACE_PEEKDATA, (pid_t)pid, (void *)(uintptr_t)host, NULL);
        if (word == -1 && errno)
            return 0;
        memcpy(words, &word, sizeof(words));
    }
    if (words[0] != VXQ32_MARKER_MAGIC || host < words[1])
        return 0;
    *base = host - words[1];
    return 1;
}

static uint64_t GuestBaseOf(long pid, int fd)
{
    if (!InServer || pid <= 0)
        return 0;
    uint64_t base;
    if (pid == CachedPid && ReadMarker(pid, fd, CachedMarker, &base) && base == CachedBase)
        return base;
    char path[64];
    snprintf(path, sizeof(path), "/proc/%ld/maps", pid);
    FILE *maps = fopen(path, "r");
    if (!maps)
        return 0;
    char line[512];
    uint64_t found = 0;
    int have = 0;
    while (!have && fgets(line, sizeof(line), maps)) {
        unsigned long long start;
        if (strstr(line, "/memfd:" VXQ32_MARKER_NAME) && sscanf(line, "%llx-", &start) == 1)
            have = ReadMarker(pid, fd, start, &base), found = start;
    }
    fclose(maps);
    if (!have)
        return 0; /* not a process under qemu: its addresses are the host's */
    CachedPid = pid;
    CachedMarker = found;
    CachedBase = base;
    return base;
}

static uint64_t GuestBase(int fd)
{
    return InServer ? GuestBaseOf(MemoryOf(fd), fd) : 0;
}

long ptrace(enum __ptrace_request request, ...)
{
    va_list ap;
    va_start(ap, request);
    pid_t pid = va_arg(ap, pid_t);
    char *addr = va_arg(ap, char *);
    void *data = va_arg(ap, void *);
    va_end(ap);
    if (request == PTRACE_PEEKDATA || request == PTRACE_PEEKTEXT || request == PTRACE_POKEDATA ||
        request == PTRACE_POKETEXT) {
        int saved = errno; /* the caller tells a peeked -1 from a failure by errno */
        addr += GuestBaseOf(pid, -1);
        errno = saved;
    }
    return RealPtrace(request, pid, addr, data);
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset)
{
    return RealPread(fd, buf, count, (off_t)(offset + GuestBase(fd)));
}

ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    return RealPwrite(fd, buf, count, (off_t)(offset + GuestBase(fd)));
}

ssize_t pread64(int fd, void *buf, size_t count, off_t offset) { return pread(fd, buf, count, offset); }
ssize_t pwrite64(int fd, const void *buf, size_t count, off_t offset) { return pwrite(fd, buf, count, offset); }

__attribute__((constructor)) static void Init(void)
{
    RealPread = (ssize_t(*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    RealPwrite = (ssize_t(*)(int, const void *, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    RealPtrace = (long (*)(enum __ptrace_request, pid_t, void *, void *))dlsym(RTLD_NEXT, "ptrace");
    char exe[256];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    exe[n > 0 ? n : 0] = 0;
    const char *name = strrchr(exe, '/');
    InServer = name && strncmp(name + 1, "wineserver", 10) == 0;
}
