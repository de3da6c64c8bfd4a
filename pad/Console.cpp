#include "Console.h"

void Console::out(const QString &text)
{
    const std::lock_guard lock(m_lock);
    clearLocked();
    if (m_outFailed)
        return;
    QString why;
    if (!writeOut(text, why)) {
        m_outFailed = true;
        m_outFailure = why;
        errLocked(QStringLiteral("norvel-pad: 无法写入标准输出（%1），之后的结果不再输出到那里。\n").arg(why));
    }
}

void Console::err(const QString &text)
{
    const std::lock_guard lock(m_lock);
    clearLocked();
    errLocked(text);
}

void Console::errLocked(const QString &text)
{
    if (m_errFailed)
        return;
    QString why;
    if (!writeErr(text, why))
        m_errFailed = true;
}

void Console::progress(const QString &line)
{
    if (!showsProgress())
        return;
    const std::lock_guard lock(m_lock);
    errLocked(QStringLiteral("\r\033[K") + line);
    m_progressShown = true;
}

void Console::clearProgress()
{
    const std::lock_guard lock(m_lock);
    clearLocked();
}

void Console::clearLocked()
{
    if (!m_progressShown)
        return;
    m_progressShown = false;
    errLocked(QStringLiteral("\r\033[K"));
}

std::optional<QString> Console::ask(const QString &prompt, bool hidden)
{
    return readAnswer(prompt, hidden);
}

bool Console::outFailed() const
{
    const std::lock_guard lock(m_lock);
    return m_outFailed;
}

QString Console::outFailure() const
{
    const std::lock_guard lock(m_lock);
    return m_outFailure;
}
