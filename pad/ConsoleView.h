#pragma once

#include "Console.h"

#include "run/PaddingRun.h"

#include <QElapsedTimer>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// What the padding run shows on a console: its result lines are collected for the summary; its
// progress (which length, the time so far) goes to the progress line, kept up to date every second
// while the server works; every statement goes to standard error when asked to. A statement that
// has kept the server busy for a while gets a word on the progress line: the server is still
// working, and another session may hold a lock the run waits for. A stop asked for by a signal is
// noticed at the next statement, which then raises so that the run rolls back.
class ConsoleView : public PaddingRunView
{
public:
    // After `waitingAfter` of one statement the progress line says that the server is still at it.
    ConsoleView(Console &console, const QString &lengthText, bool showStatements,
                std::chrono::milliseconds waitingAfter = std::chrono::seconds(3));
    ~ConsoleView() override;
    ConsoleView(const ConsoleView &) = delete;
    ConsoleView &operator=(const ConsoleView &) = delete;

    // Hands the run the statement observer.
    void attach(PaddingRun &run);
    // The same observer for another kind of run (the undo).
    std::function<void(const QString &)> observer()
    {
        return [this](const QString &text) { statement(text); };
    }
    const QStringList &resultLines() const { return m_lines; }

    QString lengthText() const override { return m_length; }
    void setProgressVisible(bool) override {}
    void setProgressPosition(int) override {}
    void addResultLine(const QString &line) override { m_lines << line; }
    void setDone() override {}
    void showFinished() override {}
    void passStarted(int n, int index, int count) override;
    void serverCallStarted() override;
    void serverCallEnded() override;

private:
    void statement(const QString &text);
    void showProgressLocked();
    void tick();

    Console &m_console;
    QString m_length;
    bool m_statements;
    std::chrono::milliseconds m_waitingAfter;
    QStringList m_lines;

    std::mutex m_lock;   // what the ticking thread reads
    std::condition_variable m_wake;
    bool m_stop = false;
    QElapsedTimer m_clock;
    QString m_stage;
    QElapsedTimer m_call;   // valid while the server works on a statement
    std::thread m_ticker;
};
