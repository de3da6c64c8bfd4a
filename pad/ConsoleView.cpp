#include "ConsoleView.h"

#include "Interrupts.h"
#include "Terminal.h"

#include "platform/Exceptions.h"

ConsoleView::ConsoleView(const QString &lengthText, bool showProgress, bool showStatements)
    : m_length(lengthText), m_progress(showProgress), m_statements(showStatements),
      m_stage(QStringLiteral("检查"))
{
    m_clock.start();
}

void ConsoleView::attach(PaddingRun &run)
{
    run.setStatementObserver([this](const QString &text) { statement(text); });
}

void ConsoleView::checkInterrupt()
{
    if (Interrupts::requested())
        throw EAbort(QStringLiteral("已中断。改动没有提交，事务已回滚，数据库没有任何改动。"));
}

void ConsoleView::passStarted(int n, int index, int count)
{
    m_stage = QStringLiteral("第%1/%2遍：长度%3").arg(index + 1).arg(count).arg(n);
}

void ConsoleView::serverCallStarted()
{
    checkInterrupt();
    showProgress();
    Interrupts::setServerCall(true);
}

void ConsoleView::serverCallEnded()
{
    Interrupts::setServerCall(false);
}

void ConsoleView::statement(const QString &text)
{
    if (!m_statements)
        return;
    endProgress();
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Terminal::err(shown + u'\n');
}

void ConsoleView::showProgress()
{
    if (!m_progress)
        return;
    Terminal::err(QStringLiteral("\r\033[K%1，已用%2秒").arg(m_stage).arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1));
    m_progressShown = true;
}

void ConsoleView::endProgress()
{
    if (m_progressShown)
        Terminal::err(QStringLiteral("\r\033[K"));
    m_progressShown = false;
}
