#include "ConsoleView.h"

#include "Interrupts.h"

namespace {

// The width a text takes on a terminal (a Chinese character takes two columns).
int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

// Cut to fit the terminal: a progress line that wraps cannot be cleared.
QString fitted(const QString &line, int columns)
{
    if (columns <= 0 || displayWidth(line) < columns)
        return line;
    QString cut;
    int width = 0;
    for (const QChar c : line) {
        const int w = c.unicode() >= 0x1100 ? 2 : 1;
        if (width + w >= columns - 1)
            break;
        cut += c;
        width += w;
    }
    return cut;
}

} // namespace

ConsoleView::ConsoleView(Console &console, const QString &lengthText, bool showStatements,
                         std::chrono::milliseconds waitingAfter)
    : m_console(console), m_length(lengthText), m_statements(showStatements), m_waitingAfter(waitingAfter),
      m_stage(QStringLiteral("检查"))
{
    m_clock.start();
    if (m_console.showsProgress())
        m_ticker = std::thread([this] { tick(); });
}

ConsoleView::~ConsoleView()
{
    {
        const std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_ticker.joinable())
        m_ticker.join();
    m_console.clearProgress();
}

void ConsoleView::attach(PaddingRun &run)
{
    run.setStatementObserver([this](const QString &text) { statement(text); });
}

void ConsoleView::passStarted(int n, int index, int count)
{
    const std::lock_guard lock(m_lock);
    m_stage = QStringLiteral("第%1/%2遍：长度%3").arg(index + 1).arg(count).arg(n);
}

void ConsoleView::serverCallStarted()
{
    Interrupts::check();
    const std::lock_guard lock(m_lock);
    m_call.start();
    showProgressLocked();
}

void ConsoleView::serverCallEnded()
{
    const std::lock_guard lock(m_lock);
    m_call.invalidate();
}

void ConsoleView::statement(const QString &text)
{
    if (!m_statements)
        return;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_console.err(shown + u'\n');
}

void ConsoleView::showProgressLocked()
{
    QString line = QStringLiteral("%1，已用%2秒").arg(m_stage).arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1);
    if (m_call.isValid() && m_call.elapsed() >= m_waitingAfter.count()) {
        line += QStringLiteral("；服务器仍在执行这条语句（%1秒），也许另一个会话锁住了表，正在等它")
                    .arg(m_call.elapsed() / 1000);
    }
    m_console.progress(fitted(line, m_console.columns()));
}

void ConsoleView::tick()
{
    std::unique_lock lock(m_lock);
    while (!m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stop; })) {
        if (m_call.isValid())
            showProgressLocked();
    }
}
