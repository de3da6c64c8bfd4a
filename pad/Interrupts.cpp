#include "Interrupts.h"

#include "db/LibQuery.h"
#include "platform/AnsiCodec.h"
#include "platform/RecordFile.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace Interrupts {

namespace {

using Clock = std::chrono::steady_clock;
// How long the main thread has to end the command itself after a stop.
constexpr auto Grace = std::chrono::milliseconds(1000);

std::mutex g_lock;
std::atomic<int> g_requested{0};
Phase g_phase = Phase::Idle;
bool g_installed = false;
int g_wake[2] = {-1, -1};
std::optional<Clock::time_point> g_deadline;
int g_finishStatus = 0;
std::string g_finishMessage;
bool g_haveTerminal = false;
termios g_terminal{};

bool signalPending()
{
    if (!g_installed)
        return false;
    sigset_t pending;
    sigemptyset(&pending);
    return ::sigpending(&pending) == 0 && (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

// Written without waiting: standard error may be the very pipe that is full.
void writeNow(const std::string &text)
{
    pollfd fd{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&fd, 1, 0) == 1 && (fd.revents & POLLOUT))
        (void)!::write(STDERR_FILENO, text.data(), text.size());
}

std::string encoded(const QString &text)
{
    const QByteArray bytes = AnsiCodec::system().fromUnicode(text);
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// Ends the process; called with g_lock held, so the main thread cannot enter the commit meanwhile.
[[noreturn]] void endNow()
{
    if (g_haveTerminal)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
    if (g_phase == Phase::Finished) {
        writeNow(g_finishMessage);
        ::_exit(g_finishStatus);
    }
    RecordFile::discardUnsent();
    writeNow(encoded(QStringLiteral("\nnorvel-pad: ") + stopMessage(g_phase) + u'\n'));
    ::_exit(1);
}

void watch(sigset_t watched)
{
    for (;;) {
        timespec tick{0, 100'000'000};
        const int signal = ::sigtimedwait(&watched, nullptr, &tick);
        const std::lock_guard lock(g_lock);
        if (signal > 0) {
            const bool again = g_requested.exchange(signal) != 0;
            if (g_wake[1] >= 0)
                (void)!::write(g_wake[1], "!", 1);
            if (g_phase != Phase::Committing) {
                if (again)
                    endNow();
                if (!g_deadline)
                    g_deadline = Clock::now() + Grace;
            }
        }
        if (g_requested.load() == 0)
            continue;
        // Again and again until the run has noticed: the statement may have started after the
        // first cancel.
        if (g_phase == Phase::Idle || g_phase == Phase::Running)
            LibQuery::cancelRunning();
        if (g_deadline && Clock::now() >= *g_deadline && g_phase != Phase::Committing)
            endNow();
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
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wake[0] = g_wake[1] = -1;
    g_installed = true;
    std::thread(watch, watched).detach();
}

int requested()
{
    if (const int signal = g_requested.load())
        return signal;
    // The process may run again after a stop before the watching thread has taken the signal.
    return signalPending() ? SIGINT : 0;
}

void request(int signal)
{
    const std::lock_guard lock(g_lock);
    g_requested.store(signal);
}

int wakeDescriptor()
{
    return g_wake[0];
}

void setPhase(Phase phase)
{
    const std::lock_guard lock(g_lock);
    g_phase = phase;
}

Phase phase()
{
    const std::lock_guard lock(g_lock);
    return g_phase;
}

void beginCommit()
{
    const std::lock_guard lock(g_lock);
    if (g_requested.load() != 0 || signalPending())
        throw EStopRequested(stopMessage(g_phase));
    g_phase = Phase::Committing;
}

void finish(int status, const QString &message)
{
    const std::lock_guard lock(g_lock);
    g_phase = Phase::Finished;
    g_finishStatus = status;
    g_finishMessage = encoded(QStringLiteral("\nnorvel-pad: ") + message + u'\n');
    // A stop that came while the commit was under way waited for it; from here it ends the command
    // as a later one would, even if the command can no longer write.
    if (g_requested.load() != 0 && !g_deadline)
        g_deadline = Clock::now() + Grace;
}

void setTerminal(const termios *saved)
{
    const std::lock_guard lock(g_lock);
    g_haveTerminal = saved != nullptr;
    if (saved)
        g_terminal = *saved;
}

QString stopMessage(Phase phase)
{
    if (phase == Phase::Idle)
        return QStringLiteral("已中断，没有做任何改动。");
    return QStringLiteral("已中断。改动没有提交，事务已回滚，数据库没有任何改动。");
}

void check()
{
    if (requested() != 0)
        throw EStopRequested(stopMessage(phase()));
}

void reset()
{
    const std::lock_guard lock(g_lock);
    g_requested.store(0);
    g_phase = Phase::Idle;
    g_deadline.reset();
    g_haveTerminal = false;
}

} // namespace Interrupts
