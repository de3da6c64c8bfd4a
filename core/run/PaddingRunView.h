#pragma once

#include <QString>

// What the padding run needs of the window (or terminal) that starts it and shows its progress.
class PaddingRunView
{
public:
    virtual ~PaddingRunView() = default;

    // The text of the length field.
    virtual QString lengthText() const = 0;
    virtual void setProgressVisible(bool visible) = 0;
    // The run's progress position; the window shows it on its bar (range 0..100).
    virtual void setProgressPosition(int position) = 0;
    // Appends one line after whatever the result memo holds.
    virtual void addResultLine(const QString &line) = 0;
    // The run is over: progress bar hidden, start button and backup check box disabled.
    virtual void setDone() = 0;
    // The final message "处理完成！".
    virtual void showFinished() = 0;
    // Pass `index` (0-based) of `count` starts: the card numbers of length n.
    virtual void passStarted(int n, int index, int count)
    {
        (void)n;
        (void)index;
        (void)count;
    }
    // The progress position reached is worth showing now (the window repaints its bar at once, as it
    // does before every statement).
    virtual void showProgressNow() {}
    // The server starts and ends working on one statement (the window shows its wait pointer).
    virtual void serverCallStarted() {}
    virtual void serverCallEnded() {}
};
