#include "Interrupts.h"

#include "run/ChangeRecord.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace Interrupts {

namespace {

std::atomic<int> g_requested{0};
std::atomic<bool> g_working{false};
std::atomic<bool> g_committing{false};

void stopNow()
{
    // Nothing of the run was committed; the record's temporary file goes too.
    if (const char *pending = ChangeRecord::pendingFile())
        ::unlink(pending);
    const char *message = stopMessage();
    (void)!::write(STDERR_FILENO, message, std::strlen(message));
    ::_exit(1);
}

void watch(sigset_t watched)
{
    for (;;) {
        int signal = 0;
        if (::sigwait(&watched, &signal) != 0)
            continue;
        const bool second = g_requested.exchange(signal) != 0;
        if (g_committing.load())
            continue;
        if (g_working.load() || second)
            stopNow();
    }
}

} // namespace

void install()
{
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    std::thread(watch, watched).detach();
}

int requested()
{
    if (const int signal = g_requested.load())
        return signal;
    // A signal that has arrived but that the watching thread has not taken yet counts too: once the
    // process runs again after a stop, the two threads race for it.
    sigset_t pending;
    sigemptyset(&pending);
    if (::sigpending(&pending) == 0) {
        for (const int signal : {SIGINT, SIGTERM}) {
            if (sigismember(&pending, signal))
                return signal;
        }
    }
    return 0;
}

void setServerCall(bool working)
{
    g_working.store(working);
    // A request that came just before the call started would otherwise wait for its end.
    if (working && g_requested.load() && !g_committing.load())
        stopNow();
}

void setCommitting(bool committing)
{
    g_committing.store(committing);
}

const char *stopMessage()
{
    return "norvel-pad: 已中断。改动没有提交，事务已回滚，数据库没有任何改动。\n";
}

} // namespace Interrupts
