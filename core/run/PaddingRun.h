#pragma once

#include "run/PaddingReport.h"
#include "run/PaddingStatements.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the padding run needs of the window that starts it.
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
        Q_UNUSED(n)
        Q_UNUSED(index)
        Q_UNUSED(count)
    }
    // The server starts and ends working on one statement (the window shows its wait pointer).
    virtual void serverCallStarted() {}
    virtual void serverCallEnded() {}
};

// The card-number padding run.
//
// Every reader card number shorter than the length L, and every borrowing record with such a number,
// gets leading zeros up to exactly L characters, pass by pass from the shortest numbers up. A reader
// whose padded number already belongs to another card keeps the number and is listed; borrowing
// records follow their readers. Readers whose password was their card number keep it that way.
//
// The run is all or nothing: the length is converted and checked before anything is changed, and
// every statement from marking the passwords to restoring them runs in one transaction, committed
// after the last one. Any error rolls the transaction back and is raised to the caller; the window
// then stays as it was when the error arose.
class PaddingRun
{
public:
    static inline const QString NoCollisionLine = QStringLiteral("处理成功完成!");
    static inline const QString CollisionHeading =
        QStringLiteral("以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:");
    static inline const QString FinishedMessage = QStringLiteral("处理完成！");
    // The first pass's prefix of zeros for a length up to 13 comes from this literal, as it always has.
    static inline const QString ZeroLiteral = QStringLiteral("000000000000");

    // The query carries every statement; it must be on the library connection "LibDB".
    PaddingRun(QSqlQuery &query, PaddingRunView &view);

    // How the run's transaction ends: committed, or rolled back after the last statement (a preview:
    // everything is done and counted, nothing stays).
    enum class Ending { Commit, RollBack };

    // Runs it; raises NorvelError subclasses on any failure (after rolling back).
    void execute(Ending ending = Ending::Commit);

    // Counts (and, with a sink, lists) what the run changes; see PaddingReport.
    void setReport(PaddingReport *report) { m_report = report; }
    // Called after the last statement, just before the commit (or the preview's rollback); raising
    // there rolls the run back.
    void setBeforeCommit(std::function<void()> hook) { m_beforeCommit = std::move(hook); }

    // The zeros that pass n puts in front of a number for the length L: exactly L - n of them.
    static QString padZeros(int length, int n);

    // Called with every statement text just before it goes to the server (the query is already set
    // forward-only then): the window brings its progress bar up to date there (a statement may keep
    // the server busy a long time); the tests and the benchmark record the texts.
    void setStatementObserver(std::function<void(const QString &)> observer) { m_observer = std::move(observer); }
    // Speaks the given dialect whatever the server says it is (the tests run the SQL Server texts
    // on a PostgreSQL database that understands them).
    void forceDialect(PaddingStatements::Dialect dialect) { m_forcedDialect = dialect; }
    // The passes the last run made, in order.
    const QList<int> &passesRun() const { return m_passes; }
    const QString &collisionList() const { return m_collisionList; }

    // Refused before anything changes: a database without the tables and columns the run uses, a
    // card-number column of a numeric type, a card number padded beyond its column, and a password
    // set to a number longer than its column. A column of unbounded text counts as holding this
    // many characters (no bar code is that long, and such a column would otherwise take a typing
    // slip such as 99999999 literally).
    static constexpr int UnboundedColumnLimit = 255;

private:
    QString statementText(const QStringList &lines);
    // Executes an update; the number of rows it changed (-1 where the driver cannot tell).
    qint64 execSQL(const QStringList &lines);
    template<typename RowHandler>
    void openSelect(const QStringList &lines, RowHandler &&onRow);
    void check(bool ok);
    void checkBeforeChanging(int length);
    void checkColumns(const QSqlRecord &people, const QSqlRecord &loans);
    void checkColumnSizes(int length, const QSqlRecord &people, const QSqlRecord &loans);
    QList<int> passesFor(int length);
    void run(int length);
    void runPass(int length, int n);
    void reportPass(int length, int n, PassFigures &figures, qint64 loansChanged, qint64 readersChanged);
    void listPass(int length, int n, PassFigures &figures, qint64 loansChanged);

    QSqlQuery &qrTmp;
    PaddingRunView &m_view;
    PaddingStatements m_statements{PaddingStatements::Dialect::SqlServer};
    std::function<void(const QString &)> m_observer;
    std::optional<PaddingStatements::Dialect> m_forcedDialect;
    QString m_collisionList;
    int m_position = 0;
    QList<int> m_passes;
    PaddingReport *m_report = nullptr;
    std::function<void()> m_beforeCommit;
    // While reporting: readers whose password was empty before the run, by card number, with how
    // many of them are still to be listed.
    QHash<QString, qint64> m_emptyPasswords;
    // While listing: the readers and loans the current pass changes.
    struct PaddedReader
    {
        QString number;
        PasswordChange password;
    };
    QList<PaddedReader> m_passReaders;
    QStringList m_passCollisions;
    // While listing: the loans' card numbers shorter than L, by length, with their numbers of loans.
    QHash<int, QHash<QString, qint64>> m_loanCards;
};
