#pragma once

#include <QString>

#include <mutex>
#include <optional>

// Where norvel-pad talks to the person who runs it: standard output for the result, standard error
// for messages, questions and the progress line, standard input for answers. The program's own is
// TerminalConsole (Terminal.h); the tests give the command buffers instead.
//
// The progress line sits on standard error while it is a terminal, and is cleared before anything
// else is written to either stream (both usually show on the same screen, also when one of them
// goes through a pipe). A stream that fails (a closed pipe, a full disk) is noted once on standard
// error and then left alone: the command goes on, and its outcome does not change.
//
// Safe to use from two threads (the progress line is kept up to date while the main thread waits
// for the server).
class Console
{
public:
    virtual ~Console() = default;

    void out(const QString &text);
    void err(const QString &text);
    // Replaces the progress line; nothing where standard error is not a terminal.
    void progress(const QString &line);
    void clearProgress();
    // Asks on standard error and reads one line; hidden: without echoing it. Nothing at the end of
    // the input, or when a stop was asked for meanwhile (Interrupts).
    std::optional<QString> ask(const QString &prompt, bool hidden);

    // Standard input and standard error are terminals: a person can be asked.
    virtual bool canAsk() const = 0;
    // Standard error is a terminal: the progress line is shown.
    virtual bool showsProgress() const = 0;
    // The terminal's width in columns; 0 when not known.
    virtual int columns() const { return 0; }

    // Whether standard output failed, and why.
    bool outFailed() const;
    QString outFailure() const;

protected:
    // Writes all of the text; false with the reason when the stream fails.
    virtual bool writeOut(const QString &text, QString &why) = 0;
    virtual bool writeErr(const QString &text, QString &why) = 0;
    // Shows the prompt on standard error and reads one line; a hidden answer is not echoed, and
    // the echo is off before the prompt shows, so nothing typed after it is echoed or dropped.
    virtual std::optional<QString> readAnswer(const QString &prompt, bool hidden) = 0;

private:
    void clearLocked();
    void errLocked(const QString &text);

    mutable std::mutex m_lock;
    bool m_progressShown = false;
    bool m_outFailed = false;
    bool m_errFailed = false;
    QString m_outFailure;
};
