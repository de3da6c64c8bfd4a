#include "run/PaddingRun.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "db/Transaction.h"
#include "platform/Exceptions.h"
#include "platform/IntConversion.h"
#include "run/RunChecks.h"
#include "run/RunRecorder.h"
#include "run/SetBasedRun.h"
#include "run/TableLocks.h"
#include "run/StatementRunner.h"

#include <QSqlDatabase>

#include <algorithm>
#include <memory>

// One run's statements and state, from the checks to the last pass.
class PaddingRun::Work
{
public:
    Work(PaddingRun &run, PaddingStatements::Dialect dialect, PaddingStatements::Dialect server)
        : m_run(run), m_sql(run.qrTmp, run.m_view), m_statements(dialect), m_server(server)
    {
        m_sql.setObserver(run.m_observer);
        if (run.m_report)
            m_recorder = std::make_unique<RunRecorder>(m_sql, m_statements, *run.m_report);
    }

    void run(int length)
    {
        m_statements.setAlsoColumns(m_run.m_also);
        if (const QStringList settings = m_statements.transactionSettings(); !settings.isEmpty())
            m_sql.exec(settings);
        RunChecks checks(m_sql, m_statements, m_run.m_report);
        checks.checkSchema();
        lockTables();
        checks.checkData(length);
        if (const QStringList defer = m_statements.deferConstraints(); !defer.isEmpty())
            m_sql.exec(defer);
        if (m_recorder)
            m_recorder->beforeChanges(length);
        if (setBased())
            SetBasedRun(m_sql, m_statements, m_run.m_view, m_run.m_report).run(length, m_run.m_passes, m_run.m_collisionList);
        else
            runPasses(length);
        if (const QStringList check = m_statements.checkDeferredConstraints(); !check.isEmpty()) {
            if (m_statements.dialect() == PaddingStatements::Dialect::SQLite) {
                const qint64 violations = m_sql.scalar(check).toLongLong();
                if (violations > 0) {
                    throw EAbort(QStringLiteral("处理后有%1条记录违反外键约束，系统没有做任何改动").arg(violations));
                }
            } else {
                m_sql.exec(check);
            }
        }
    }

private:
    bool setBased() const
    {
        return m_run.m_method == Method::AsAWhole && m_statements.dialect() != PaddingStatements::Dialect::SqlServer;
    }

    void runPasses(int length)
    {
        if (m_recorder)
            m_recorder->beforeMarking();
        const qint64 marked = m_sql.exec(m_statements.markPasswords());
        if (m_recorder)
            m_recorder->afterMarking(marked);
        if (length > 1)
            m_run.m_passes = passesFor(length);
        const QList<int> passes = m_run.m_passes;
        for (qsizetype i = 0; i < passes.size(); ++i) {
            m_run.m_view.passStarted(passes[i], int(i), int(passes.size()));
            runPass(length, passes[i]);
        }
        const qint64 restored = m_sql.exec(m_statements.restorePasswords());
        if (m_recorder)
            m_recorder->afterRestore(restored);
    }

    void lockTables()
    {
        // Everything in both tables at the commit has been through the run: a lending desk that
        // writes meanwhile waits for the commit.
        lockLibraryTables(m_sql, m_server, m_run.m_lockTimeout);
    }

    QList<int> passesFor(int length)
    {
        // The lengths that occur, and those the passes make (above 13).
        QList<int> present;
        if (m_statements.cardLengthsAsMasks()) {
            quint64 mask = 0;
            m_sql.select(m_statements.cardLengths(length),
                         [&](const LibQuery &row) { mask |= static_cast<quint64>(row.int64Value(0)); });
            for (int n = 1; n < length; ++n) {
                const int bit = std::min(n, int(PaddingStatements::MaskOverflowBit));
                if (mask & (quint64(1) << bit))
                    present << n;
            }
        } else {
            m_sql.select(m_statements.cardLengths(length), [&](const LibQuery &row) { present << row.intValue(0); });
        }
        return PaddingStatements::passesFor(length, present);
    }

    void runPass(int length, int n)
    {
        m_position = n * 8;
        m_run.m_view.setProgressPosition(m_position);
        const QString zeros = padZeros(length, n);
        m_sql.select(m_statements.collisionScan(n, zeros), [&](const LibQuery &row) {
            const QString number = row.value(0);
            m_run.m_collisionList += u' ';
            m_run.m_collisionList += number;
            if (m_recorder)
                m_recorder->collision(length, n, number);
            m_position = m_position < 100 ? m_position + 1 : 0;
            m_run.m_view.setProgressPosition(m_position);
        });
        if (m_recorder)
            m_recorder->beforePassUpdates(length, n);
        qint64 loansChanged = -1;
        if (const QStringList padLoans = m_statements.padLoans(n, zeros); !padLoans.isEmpty())
            loansChanged = m_sql.exec(padLoans);
        QList<qint64> alsoChanged;
        for (const AlsoColumn &also : m_statements.alsoColumns())
            alsoChanged << m_sql.exec(m_statements.padAlso(also, n, zeros));
        const qint64 readersChanged = m_sql.exec(m_statements.padReaders(n, zeros));
        if (m_recorder)
            m_recorder->afterPass(n, loansChanged, readersChanged, alsoChanged);
    }

    PaddingRun &m_run;
    StatementRunner m_sql;
    PaddingStatements m_statements;
    PaddingStatements::Dialect m_server;
    std::unique_ptr<RunRecorder> m_recorder;
    int m_position = 0;
};

PaddingRun::PaddingRun(LibQuery &query, PaddingRunView &view) : qrTmp(query), m_view(view) {}

QString PaddingRun::padZeros(int length, int n)
{
    return PaddingStatements::padZeros(length, n);
}

void PaddingRun::execute(Ending ending)
{
    m_view.setProgressVisible(true);
    // The length first: an invalid one stops the run before anything is changed.
    const int length = StrToInt(m_view.lengthText());

    QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    const auto server = PaddingStatements::dialectFor(odbcDbmsName(db));
    const auto dialect = m_forcedDialect.value_or(server);
    m_passes.clear();
    m_collisionList.clear();
    if (m_report)
        m_report->clear();

    {
        Transaction transaction(db);
        Work(*this, dialect, server).run(length);
        if (m_beforeCommit)
            m_beforeCommit();
        if (ending == Ending::Commit) {
            try {
                transaction.commit();
            } catch (const ECommitUnknown &error) {
                throw ECommitUnknown(CommitUnknownMessage.arg(error.message().trimmed()));
            }
            if (m_afterCommit)
                m_afterCommit();
        } else {
            transaction.rollBack();
        }
    }

    if (m_collisionList.isEmpty()) {
        m_view.addResultLine(NoCollisionLine);
    } else {
        m_view.addResultLine(CollisionHeading);
        m_view.addResultLine(m_collisionList);
    }
    m_view.setDone();
    m_view.showFinished();
}
