// Watches the machine itself while a Wine run plays: one thread per processor, pinned to it at the
// highest real-time priority (SCHED_FIFO 99), wakes every millisecond. Nothing on the machine can
// hold back such a thread for long, so a wake-up 20 ms late or more means the processor itself was
// taken away: a virtual machine's host ran something else on it. (Seen here: such a thread late by
// 100.7 ms; in a traced call every thread of the program's process stood still as long.)
//   vudizeri-wine-stalls FILE
// runs until SIGTERM or SIGINT, then writes one line per stall to FILE, "UNIX_MS LATE_MS CPU": when
// the thread was due (ms since 1970) and how late it woke. Exit status 3, FILE not written, when the
// threads cannot be given that priority or pinned (not root): the run is then not watched.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr double kLateMs = 20;

struct Stall {
    double unix_ms, late_ms;
    int cpu;
};

std::mutex g_lock;
std::vector<Stall> g_stalls;
std::atomic<bool> g_stop{false};

double Ms(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

void *Watch(void *arg)
{
    int cpu = (int)(intptr_t)arg;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!g_stop.load(std::memory_order_relaxed)) {
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            next.tv_sec++;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        double due = (double)next.tv_sec * 1000.0 + (double)next.tv_nsec / 1e6, now = Ms(CLOCK_MONOTONIC);
        if (now - due >= kLateMs) {
            std::lock_guard<std::mutex> hold(g_lock);
            g_stalls.push_back(Stall{Ms(CLOCK_REALTIME) - (now - due), now - due, cpu});
        }
        // After a stall the next wake-up is due from now, not from the missed ones.
        if (now - due > 1.0) {
            clock_gettime(CLOCK_MONOTONIC, &next);
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: vudizeri-wine-stalls FILE\n");
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    std::vector<pthread_t> threads;
    for (long c = 0; c < cpus; ++c) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET((int)c, &set);
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO);
        pthread_t thread;
        if (pthread_attr_setaffinity_np(&attr, sizeof(set), &set) != 0 ||
            pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) != 0 ||
            pthread_attr_setschedpolicy(&attr, SCHED_FIFO) != 0 || pthread_attr_setschedparam(&attr, &param) != 0 ||
            pthread_create(&thread, &attr, Watch, (void *)(intptr_t)c) != 0) {
            fprintf(stderr, "vudizeri-wine-stalls: no thread at real-time priority on processor %ld: the run is not watched\n",
                    c);
            g_stop = true;
            for (pthread_t t : threads)
                pthread_join(t, nullptr);
            return 3;
        }
        pthread_attr_destroy(&attr);
        threads.push_back(thread);
    }
    int sig;
    sigwait(&signals, &sig);
    g_stop = true;
    for (pthread_t t : threads)
        pthread_join(t, nullptr);
    FILE *out = fopen(argv[1], "w");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    for (const Stall &s : g_stalls)
        fprintf(out, "%.1f %.1f %d\n", s.unix_ms, s.late_ms, s.cpu);
    return fclose(out) == 0 ? 0 : 1;
}
