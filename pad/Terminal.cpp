#include "Terminal.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace Terminal {

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

bool canAsk()
{
    return isTerminal(STDIN_FILENO) && isTerminal(STDERR_FILENO);
}

namespace {

std::optional<QString> readStdinLine()
{
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line.push_back(char(c));
    if (c == EOF && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

} // namespace

std::optional<QString> readHidden(const QString &prompt)
{
    err(prompt);
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<QString> line = readStdinLine();
    if (terminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return line;
}

std::optional<QString> readLine(const QString &prompt)
{
    err(prompt);
    return readStdinLine();
}

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void err(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace Terminal
