#pragma once

#include "db/LibQuery.h"
#include "run/PaddingReport.h"
#include "run/PaddingRunView.h"
#include "run/PaddingStatements.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The card-number padding run.
//
// Every reader card number shorter than the length L, and every borrowing record with such a number,
// gets leading zeros up to L characters, pass by pass from the shortest numbers up (above 13, in
// more than one pass: each adds at most 12 zeros). A reader whose
// padded number already belongs to another card keeps the number and is listed; borrowing records
// follow their readers. Readers whose password was their card number keep it that way.
//
// The run is all or nothing: the length is converted and checked before anything is changed, and
// every statement from marking the passwords to restoring them runs in one transaction, committed
// after the last one. Any error rolls the transaction back and is raised to the caller; the window
// then stays as it was when the error arose.
//
// The work is shared out: RunChecks checks the database before any change, the run itself sends the
// passes (the statements of PaddingStatements, through StatementRunner), and RunRecorder keeps the
// report when one is asked for.
class PaddingRun
{
public:
    static inline const QString NoCollisionLine = QStringLiteral("处理成功完成!");
    static inline const QString CollisionHeading =
        QStringLiteral("以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:");
    static inline const QString FinishedMessage = QStringLiteral("处理完成！");
    // A commit that did not come back: the changes may or may not be in the database.
    static inline const QString CommitUnknownMessage = QStringLiteral(
        "提交改动时与数据库的连接出错（%1）。改动可能已经提交，也可能没有：请先查看数据库，例如找一位借书证号"
        "较短的读者，看他的证号是否已经补了0，确认之前不要再次处理");

    // The query carries every statement; it must be on the library connection "LibDB".
    PaddingRun(LibQuery &query, PaddingRunView &view);

    // How the run's transaction ends: committed, or rolled back after the last statement (a preview:
    // everything is done and counted, nothing stays).
    enum class Ending { Commit, RollBack };

    // Runs it; raises NorvelError subclasses on any failure (after rolling back).
    void execute(Ending ending = Ending::Commit);

    // Counts (and, with a sink, lists) what the run changes; see PaddingReport.
    void setReport(PaddingReport *report) { m_report = report; }
    // Columns of other tables that hold readers' card numbers and that the run pads with the loans,
    // by the loans' rule (checked against the catalogue first).
    void setAlsoColumns(const QList<AlsoColumn> &columns) { m_also = columns; }

    // How long the run waits for its locks (seconds) when another session holds them; 0, the
    // default, waits as long as it takes. When the time is up the run stops, nothing changed.
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }
    // Called after the last statement, just before the commit (or the preview's rollback); raising
    // there rolls the run back.
    void setBeforeCommit(std::function<void()> hook) { m_beforeCommit = std::move(hook); }
    // Called as soon as the commit has come back, before the run shows anything (a hook that throws
    // does not undo the commit: keep it from throwing).
    void setAfterCommit(std::function<void()> hook) { m_afterCommit = std::move(hook); }

    // The zeros that pass n puts in front of a number for the length L (see PaddingStatements).
    static QString padZeros(int length, int n);

    // Called with every statement text just before it goes to the server: the window brings its
    // progress bar up to date there (a statement may keep the server busy a long time); the tests
    // and the benchmark record the texts.
    void setStatementObserver(std::function<void(const QString &)> observer) { m_observer = std::move(observer); }
    // How the run is computed: on PostgreSQL and SQLite as a whole (SetBasedRun) unless told to go
    // pass by pass as on SQL Server (the tests compare the two; SQL Server always goes pass by pass).
    enum class Method { AsAWhole, PassByPass };
    void setMethod(Method method) { m_method = method; }

    // Speaks the given dialect whatever the server says it is (the tests run the SQL Server texts
    // on a PostgreSQL database that understands them).
    void forceDialect(PaddingStatements::Dialect dialect) { m_forcedDialect = dialect; }
    // The passes the last run made, in order.
    const QList<int> &passesRun() const { return m_passes; }
    const QString &collisionList() const { return m_collisionList; }

private:
    class Work;

    LibQuery &qrTmp;
    PaddingRunView &m_view;
    std::function<void(const QString &)> m_observer;
    std::optional<PaddingStatements::Dialect> m_forcedDialect;
    QString m_collisionList;
    QList<int> m_passes;
    PaddingReport *m_report = nullptr;
    std::function<void()> m_beforeCommit;
    std::function<void()> m_afterCommit;
    int m_lockTimeout = 0;
    Method m_method = Method::AsAWhole;
    QList<AlsoColumn> m_also;
};
