#pragma once

#include "db/LibQuery.h"
#include "run/PaddingReport.h"
#include "run/PaddingRunView.h"
#include "run/PaddingStatements.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// One card of a committed run's record, as the undo takes it back: a reader whose card number (or
// only whose password) the run changed, or a number found only in loans.
struct UndoCard
{
    QString oldNumber;   // before the run (trailing blanks removed)
    QString newNumber;   // after it
    // A number found only in a column of another table that the run padded with the loans.
    enum class Kind { Reader, LoanOnly, AlsoOnly } kind = Kind::Reader;
    // What the run did to the password: followed the card number (F), gave the card number to an
    // empty one (E), emptied it (X, an undo did), or nothing (U).
    char password = 'U';
    qint64 loans = 0;
    // Loans that were under the new number before the run and joined this reader.
    qint64 joinedLoans = 0;
    // AlsoOnly: the column (TABLE.COLUMN).
    QString also;
};

// What the undo finds, card by card, against the database as it stands now.
struct UndoPlan
{
    // Cards taken back: their readers, and of them those whose password is still what the run made
    // it (the others keep theirs: changed since); the loans moving back, of which `loansSince` were
    // lent after the run.
    qint64 cardsBack = 0;
    qint64 readersBack = 0;
    qint64 passwordsBack = 0;
    qint64 passwordsChangedSince = 0;
    qint64 loansBack = 0;
    qint64 loansSince = 0;
    // Readers whose password alone goes back.
    qint64 passwordsOnly = 0;
    // Every card that goes back (its index in the record's cards), with its readers and loans.
    struct Back
    {
        int card = 0;
        qint64 readers = 0;
        qint64 loans = 0;
    };
    QList<Back> back;
    // Cards that need nothing: no reader under the new number (deleted, or renumbered by staff).
    QList<int> gone;
    // Conflicts: the card (its index in the record's cards) and why.
    enum class Conflict { OldNumberTaken, MoreReaders, NumberOnlyInLoansTaken, JoinedLoans };
    QList<std::pair<int, Conflict>> conflicts;
    // Nothing in the database is as the run left it: taken back already.
    bool nothingToUndo = false;
    // Refused (conflicts without --partial, or nothing to undo): nothing was changed.
    bool refused = false;
};

// Takes a committed run back from its record: in one transaction, under the run's locks, after the
// run's checks; every card checked against the database now (see UndoStatements for the rules).
// Without `partial` any conflict refuses the whole undo before any change; with it the rest goes
// back and the conflicting cards stay as they are.
class UndoRun
{
public:
    UndoRun(LibQuery &query, PaddingRunView &view, QList<UndoCard> cards);

    void setPartial(bool partial) { m_partial = partial; }
    // The columns of other tables the run padded with the loans: their values go back with the cards.
    void setAlsoColumns(const QList<AlsoColumn> &columns) { m_also = columns; }
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }
    void setStatementObserver(std::function<void(const QString &)> observer) { m_observer = std::move(observer); }
    void setBeforeCommit(std::function<void()> hook) { m_beforeCommit = std::move(hook); }
    void forceDialect(PaddingStatements::Dialect dialect) { m_forcedDialect = dialect; }
    // Receives the undo's own record: every card taken back, from the run's new number to its old.
    void setRecord(ChangeSink *sink) { m_record = sink; }

    enum class Ending { Commit, RollBack };
    // Raises NorvelError subclasses on failure (after rolling back). A refused undo returns with
    // plan().refused set and nothing changed.
    void execute(Ending ending);

    const UndoPlan &plan() const { return m_plan; }
    const QList<UndoCard> &cards() const { return m_cards; }

private:
    class Work;

    LibQuery &m_query;
    PaddingRunView &m_view;
    QList<UndoCard> m_cards;
    bool m_partial = false;
    int m_lockTimeout = 0;
    std::function<void(const QString &)> m_observer;
    std::function<void()> m_beforeCommit;
    std::optional<PaddingStatements::Dialect> m_forcedDialect;
    ChangeSink *m_record = nullptr;
    QList<AlsoColumn> m_also;
    UndoPlan m_plan;
};
