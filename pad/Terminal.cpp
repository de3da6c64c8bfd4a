#include "Terminal.h"

#include "Interrupts.h"

#include "platform/AnsiCodec.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QString &text, QString &why)
{
    const QByteArray bytes = AnsiCodec::system().fromUnicode(text);
    const char *data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // A stream another program made non-blocking: wait until it takes more.
                pollfd ready{fd, POLLOUT, 0};
                ::poll(&ready, 1, -1);
                continue;
            }
            why = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        data += n;
        left -= size_t(n);
    }
    return true;
}

// One line from standard input, byte by byte (nothing is read beyond it); nothing at the end of
// the input or when a stop is asked for.
std::optional<QByteArray> readLine()
{
    QByteArray line;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {Interrupts::wakeDescriptor(), POLLIN, 0}};
        const int ready = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (Interrupts::requested() != 0)
            return std::nullopt;
        if (ready < 0)
            return std::nullopt;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            break;
        line += c;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

TerminalConsole::TerminalConsole()
    : m_inputTerminal(::isatty(STDIN_FILENO) == 1), m_errorTerminal(::isatty(STDERR_FILENO) == 1)
{
}

bool TerminalConsole::canAsk() const
{
    return m_inputTerminal && m_errorTerminal;
}

bool TerminalConsole::showsProgress() const
{
    return m_errorTerminal;
}

int TerminalConsole::columns() const
{
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool TerminalConsole::writeOut(const QString &text, QString &why)
{
    return writeAll(STDOUT_FILENO, text, why);
}

bool TerminalConsole::writeErr(const QString &text, QString &why)
{
    return writeAll(STDERR_FILENO, text, why);
}

std::optional<QString> TerminalConsole::readAnswer(const QString &prompt, bool hidden)
{
    termios saved{};
    const bool quiet = hidden && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        // Put back also when the process is ended from the signal thread.
        Interrupts::setTerminal(&saved);
        termios noEcho = saved;
        noEcho.c_lflag &= ~tcflag_t(ECHO);
        noEcho.c_lflag |= ECHONL;
        // Drops what was typed before the question; what comes after the prompt is kept.
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho);
    }
    err(prompt);
    const std::optional<QByteArray> line = readLine();
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSADRAIN, &saved);
        Interrupts::setTerminal(nullptr);
    }
    if (!line)
        return std::nullopt;
    return AnsiCodec::system().toUnicode(*line);
}
