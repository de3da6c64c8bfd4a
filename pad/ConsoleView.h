#pragma once

#include "run/PaddingRun.h"

#include <QElapsedTimer>
#include <QStringList>

// What the padding run shows on a terminal: its result lines are collected for the summary, its
// progress (which length, how far, the time so far) goes to standard error while that is a
// terminal, and every statement goes there too when asked to. A stop asked for by a signal is
// noticed at the next statement, which then raises so that the run rolls back.
class ConsoleView : public PaddingRunView
{
public:
    ConsoleView(const QString &lengthText, bool showProgress, bool showStatements);

    // Hands the run the statement observer.
    void attach(PaddingRun &run);
    const QStringList &resultLines() const { return m_lines; }
    // Clears the progress line.
    void endProgress();
    // Raises when a signal asked the command to stop.
    static void checkInterrupt();

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
    void showProgress();

    QString m_length;
    bool m_progress;
    bool m_statements;
    QStringList m_lines;
    QElapsedTimer m_clock;
    QString m_stage;
    bool m_progressShown = false;
};
