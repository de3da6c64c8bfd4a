#pragma once

#include "run/PaddingReport.h"
#include "run/PaddingStatements.h"
#include "run/StatementRunner.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The run's bookkeeping for a report (and, with a sink, the record of every changed card). The run
// calls it around its statements; it reads what each change will touch with the change's own
// conditions just before the change, and stops the run when a change touched another number of
// rows than was read.
class RunRecorder
{
public:
    RunRecorder(StatementRunner &sql, const PaddingStatements &statements, PaddingReport &report)
        : m_sql(sql), m_statements(statements), m_report(report)
    {
    }

    // Before the passwords are marked.
    void beforeMarking();
    // Before the first pass, with the passes that will run.
    void beforePasses(int length, const QList<int> &passes);
    // A reader the collision scan of pass n found (its number as the server gave it).
    void collision(const QString &number);
    // Before the two updates of pass n.
    void beforePassUpdates(int length, int n);
    // After them, with the rows each changed.
    void afterPass(int length, int n, qint64 loansChanged, qint64 readersChanged);
    // After the passwords are restored.
    void afterRestore();

private:
    void listPass(int length, int n, PassFigures &figures, qint64 loansChanged);
    bool listing() const { return m_report.changes() != nullptr; }

    StatementRunner &m_sql;
    const PaddingStatements &m_statements;
    PaddingReport &m_report;

    // Readers whose password was empty before the run, by card number, with how many of them are
    // still to be listed.
    QHash<QString, qint64> m_emptyPasswords;
    // The current pass.
    struct PaddedReader
    {
        QString number;
        PasswordChange password;
    };
    PassFigures m_pass;
    QList<PaddedReader> m_passReaders;
    QStringList m_passCollisions;
    // While listing: the loans' card numbers shorter than L, by length, with their numbers of loans.
    QHash<int, QHash<QString, qint64>> m_loanCards;
};
