#pragma once

#include "run/PaddingReport.h"
#include "run/PaddingRunView.h"
#include "run/PaddingStatements.h"
#include "run/StatementRunner.h"

#include <QList>
#include <QString>

// The padding run on PostgreSQL and SQLite, computed as a whole (SetStatements): the cards' fates
// in a few statements over the numbers shorter than L, then one update of the passwords that marking
// and restoring would change, one of the loans and one of the readers. It leaves exactly the tables,
// the list of numbers left alone and the record that the pass-by-pass run leaves; the window sees
// the passes' progress and the collision list as that run shows them.
//
// The checks, the locks and the deferred constraints are the run's own (PaddingRun), before and
// after it.
class SetBasedRun
{
public:
    SetBasedRun(StatementRunner &sql, const PaddingStatements &statements, PaddingRunView &view, PaddingReport *report)
        : m_sql(sql), m_statements(statements), m_view(view), m_report(report)
    {
    }

    // Runs it for the length; `passes` gets the passes the pass-by-pass run makes, `collisionList`
    // the readers left alone as its memo line lists them.
    void run(int length, QList<int> &passes, QString &collisionList);

private:
    struct Fate
    {
        int n = 0;
        int q = 0;
        int collisionPass = 0;   // 0: its readers are not left alone
        int readerZeros = 0;
        int loanZeros = 0;
        qint64 readers = 0;
        qint64 loans = 0;
        qint64 follows = 0;
        qint64 also = 0;
        qint64 joined = 0;
    };
    void report(int length, const QList<int> &passes, const QList<Fate> &fates);
    void record(int length);
    void check(const QString &what, qint64 changed, qint64 expected) const;

    StatementRunner &m_sql;
    const PaddingStatements &m_statements;
    PaddingRunView &m_view;
    PaddingReport *m_report;
};
