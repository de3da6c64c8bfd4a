#pragma once

#include "Console.h"

// The console of the process: file descriptors 0, 1 and 2, text in the locale's encoding (GBK
// under zh_CN.GBK, UTF-8 under the usual locales), questions on the terminal, without echo for a
// password.
class TerminalConsole : public Console
{
public:
    TerminalConsole();

    bool canAsk() const override;
    bool showsProgress() const override;
    int columns() const override;

protected:
    bool writeOut(const QString &text, QString &why) override;
    bool writeErr(const QString &text, QString &why) override;
    std::optional<QString> readAnswer(const QString &prompt, bool hidden) override;

private:
    bool m_inputTerminal;
    bool m_errorTerminal;
};
