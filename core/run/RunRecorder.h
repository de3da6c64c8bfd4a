#pragma once

#include "run/PaddingReport.h"
#include "run/PaddingStatements.h"
#include "run/ReportStatements.h"
#include "run/StatementRunner.h"

#include <QHash>
#include <QString>

// The run's bookkeeping for a report (and, with a sink, the record of every changed card). The run
// calls it around its statements. It reads what each change will touch just before the change, with
// the change's own comparisons (ReportStatements), and stops the run when a change touched another
// number of rows than was read: a trigger of the library's own, or another session, would otherwise
// leave a report that does not say what happened.
class RunRecorder
{
public:
    RunRecorder(StatementRunner &sql, const PaddingStatements &statements, PaddingReport &report)
        : m_sql(sql), m_statements(statements), m_report(report)
    {
    }

    // After the checks, before anything changes.
    void beforeChanges(int length);
    // Before the passwords are marked, and after, with the rows the marking changed.
    void beforeMarking();
    void afterMarking(qint64 marked);
    // A reader the collision scan of pass n found (its number as the server gave it).
    void collision(int length, int n, const QString &number);
    // Before the two updates of pass n, and after them with the rows each changed (-1: the loans'
    // update was not sent, the server moves the loans with their readers).
    void beforePassUpdates(int length, int n);
    void afterPass(int n, qint64 loansChanged, qint64 readersChanged, const QList<qint64> &alsoChanged = {});
    // After the passwords are restored, with the rows the restoring changed.
    void afterRestore(qint64 restored);

private:
    bool listing() const { return m_report.changes() != nullptr; }
    [[noreturn]] void disagree(const QString &what, qint64 changed, qint64 read) const;
    // A changed card of the current pass: to the record, or, where its new number is shorter than L
    // (above 13: a later pass pads it again), kept until that pass, so that the record says what
    // changed from the number before the run to the number after it.
    void settle(ChangedCard card);
    void emitRow(const ChangedCard &card);

    StatementRunner &m_sql;
    const PaddingStatements &m_statements;
    PaddingReport &m_report;

    qint64 m_marking = 0;
    qint64 m_restoring = 0;
    // Readers whose password was empty before the run, by number (trailing blanks removed), still
    // to be listed; and the new numbers of those the passes padded (a number padded twice, above
    // length 13, keeps its kind of password).
    QHash<QString, qint64> m_emptyPasswords;
    QHash<QString, qint64> m_emptyPasswordsPadded;
    // The current pass.
    int m_length = 0;
    PassFigures m_pass;
    qint64 m_loansMoved = 0;
    QList<qint64> m_alsoMoved;
    QList<ChangedCard> m_passRows;
    // Cards padded to a length below L, by their new number, until a later pass pads them again.
    QHash<QString, QList<ChangedCard>> m_pending;
};
