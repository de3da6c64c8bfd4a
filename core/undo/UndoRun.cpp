#include "undo/UndoRun.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "db/Transaction.h"
#include "platform/Exceptions.h"
#include "run/PaddingRun.h"
#include "run/RunChecks.h"
#include "run/StatementRunner.h"
#include "run/TableLocks.h"
#include "undo/UndoStatements.h"

#include <QSqlDatabase>

#include <algorithm>
#include <array>

namespace {

PasswordChange passwordChange(char code)
{
    switch (code) {
    case 'F':
        return PasswordChange::FollowsCard;
    case 'E':
        return PasswordChange::WasEmpty;
    case 'X':
        return PasswordChange::Emptied;
    default:
        break;
    }
    return PasswordChange::Unchanged;
}

} // namespace

class UndoRun::Work
{
public:
    Work(UndoRun &undo, PaddingStatements::Dialect dialect, PaddingStatements::Dialect server)
        : m_undo(undo), m_sql(undo.m_query, undo.m_view), m_statements(dialect), m_server(server)
    {
        m_sql.setObserver(undo.m_observer);
    }

    // Plans the undo; true when it may go on to change the tables.
    bool plan()
    {
        m_statements.setAlsoColumns(m_undo.m_also);
        if (const QStringList settings = m_statements.transactionSettings(); !settings.isEmpty())
            m_sql.exec(settings);
        RunChecks checks(m_sql, m_statements);
        checks.checkSchema();
        lockLibraryTables(m_sql, m_server, m_undo.m_lockTimeout);
        checks.readTrimming();
        if (const QStringList defer = m_statements.deferConstraints(); !defer.isEmpty())
            m_sql.exec(defer);

        const UndoStatements undo(m_statements.cards());
        m_sql.exec(undo.createTable());
        loadCards(undo);
        for (const QStringList &statement : undo.preparePlan())
            m_sql.exec(statement);
        m_sql.exec(undo.plan());
        if (const QStringList statistics = undo.planStatistics(); !statistics.isEmpty())
            m_sql.exec(statistics);

        UndoPlan &plan = m_undo.m_plan;
        plan = UndoPlan{};
        m_sql.select(undo.planFigures(), [&](const LibQuery &row) {
            const QString action = row.value(0);
            if (action == QStringLiteral("R")) {
                plan.cardsBack += row.int64Value(2);
                plan.readersBack += row.int64Value(3);
                plan.passwordsBack += row.int64Value(4);
                plan.loansBack += row.int64Value(5);
            } else if (action == QStringLiteral("P")) {
                plan.passwordsOnly += row.int64Value(2);
            }
        });
        m_sql.select(undo.conflicts(), [&](const LibQuery &row) {
            const QString reason = row.value(1);
            UndoPlan::Conflict why = UndoPlan::Conflict::OldNumberTaken;
            if (reason == QStringLiteral("M"))
                why = UndoPlan::Conflict::MoreReaders;
            else if (reason == QStringLiteral("L"))
                why = UndoPlan::Conflict::NumberOnlyInLoansTaken;
            else if (reason == QStringLiteral("J"))
                why = UndoPlan::Conflict::JoinedLoans;
            plan.conflicts.append({row.intValue(0), why});
        });
        m_sql.select(undo.leftAsTheyAre(), [&](const LibQuery &row) { plan.gone << row.intValue(0); });
        m_sql.select(undo.takenBack(), [&](const LibQuery &row) {
            const UndoCard &card = m_undo.m_cards.at(row.intValue(0));
            const TakenBack taken{row.intValue(0), row.int64Value(1), row.int64Value(2), row.int64Value(3), row.int64Value(4)};
            // Loans under the new number beyond those the run moved there were lent since.
            plan.loansSince += std::max<qint64>(taken.loans - card.loans, 0);
            m_taken << taken;
            plan.back.append({taken.card, taken.readers, taken.loans});
        });
        // Readers under the new number whose password is not what the run made it keep theirs.
        qint64 withRunsPassword = 0;
        for (const TakenBack &taken : std::as_const(m_taken)) {
            const UndoCard &card = m_undo.m_cards.at(taken.card);
            if (card.oldNumber == card.newNumber || card.kind != UndoCard::Kind::Reader)
                continue;
            if (card.password == 'F' || card.password == 'E')
                withRunsPassword += taken.readers;
        }
        plan.passwordsChangedSince = std::max<qint64>(withRunsPassword - plan.passwordsBack, 0);
        plan.nothingToUndo = plan.cardsBack == 0 && plan.passwordsOnly == 0;
        plan.refused = plan.nothingToUndo || (!plan.conflicts.isEmpty() && !m_undo.m_partial);
        return !plan.refused;
    }

    void apply()
    {
        const UndoStatements undo(m_statements.cards());
        const UndoPlan &plan = m_undo.m_plan;
        if (!m_statements.constraints().loansFollowReaders)
            check(QStringLiteral("移回的借阅记录"), m_sql.exec(undo.moveLoansBack()), plan.loansBack);
        for (const AlsoColumn &also : m_undo.m_also)
            m_sql.exec(undo.alsoBack(also));
        check(QStringLiteral("恢复原证号的读者"), m_sql.exec(undo.readersBack()), plan.readersBack);
        m_sql.exec(undo.passwordsBack());
        if (const QStringList check = m_statements.checkDeferredConstraints(); !check.isEmpty()) {
            if (m_statements.dialect() == PaddingStatements::Dialect::SQLite) {
                const qint64 violations = m_sql.scalar(check).toLongLong();
                if (violations > 0)
                    throw EAbort(QStringLiteral("撤销后有%1条记录违反外键约束，系统没有做任何改动").arg(violations));
            } else {
                m_sql.exec(check);
            }
        }
        record();
    }

    void finish()
    {
        for (const QString &drop : UndoStatements(m_statements.cards()).dropTable())
            m_sql.exec({drop});
    }

private:
    struct TakenBack
    {
        int card;
        qint64 readers;
        qint64 follows;
        qint64 loans;
        qint64 empties;
    };

    void check(const QString &what, qint64 changed, qint64 expected) const
    {
        if (changed >= 0 && changed != expected) {
            throw EAbort(QStringLiteral("%1：数据库改动了%2行，与统计的%3行不符，系统没有做任何改动").arg(what).arg(changed).arg(expected));
        }
    }

    void loadCards(const UndoStatements &undo)
    {
        const QList<UndoCard> &cards = m_undo.m_cards;
        const int perInsert = undo.rowsPerInsert();
        for (qsizetype at = 0; at < cards.size(); at += perInsert) {
            const int rows = int(std::min<qsizetype>(perInsert, cards.size() - at));
            // The values row by row, or column by column.
            std::array<QStringList, UndoStatements::ParametersPerRow> columns;
            for (QStringList &column : columns)
                column.reserve(rows);
            for (int i = 0; i < rows; ++i) {
                const UndoCard &card = cards[at + i];
                columns[0] << QString::number(at + i);
                columns[1] << card.oldNumber;
                columns[2] << card.newNumber;
                columns[3] << (card.kind == UndoCard::Kind::Reader     ? QStringLiteral("R")
                               : card.kind == UndoCard::Kind::LoanOnly ? QStringLiteral("L")
                                                                       : QStringLiteral("A"));
                columns[4] << QString(QChar::fromLatin1(card.password));
                columns[5] << QString::number(card.loans);
                columns[6] << QString::number(card.joinedLoans);
            }
            QStringList parameters;
            if (undo.parametersByColumn()) {
                for (const QStringList &column : columns)
                    parameters << UndoStatements::arrayOf(column);
            } else {
                parameters.reserve(rows * UndoStatements::ParametersPerRow);
                for (int i = 0; i < rows; ++i) {
                    for (const QStringList &column : columns)
                        parameters << column[i];
                }
            }
            m_sql.exec(undo.insertRows(rows), parameters);
        }
    }

    // The undo's own record: each card from the run's new number back to its old one. What the
    // undo did to a password is what a redo takes back.
    void record()
    {
        ChangeSink *sink = m_undo.m_record;
        if (!sink)
            return;
        for (const TakenBack &taken : std::as_const(m_taken)) {
            const UndoCard &card = m_undo.m_cards.at(taken.card);
            ChangedCard back{card.newNumber, card.oldNumber, card.kind == UndoCard::Kind::Reader, PasswordChange::Unchanged,
                             taken.loans, 0};
            back.also = card.also;
            if (card.kind == UndoCard::Kind::Reader) {
                const bool followed = taken.follows > 0;
                switch (card.password) {
                case 'F':
                    back.password = followed ? PasswordChange::FollowsCard : PasswordChange::Unchanged;
                    break;
                case 'E':
                    back.password = followed ? PasswordChange::Emptied : PasswordChange::Unchanged;
                    break;
                case 'X':
                    back.password = taken.empties > 0 ? PasswordChange::WasEmpty : PasswordChange::Unchanged;
                    break;
                default:
                    back.password = passwordChange(card.password);
                    break;
                }
            }
            sink->add(back);
        }
    }

    UndoRun &m_undo;
    StatementRunner m_sql;
    PaddingStatements m_statements;
    PaddingStatements::Dialect m_server;
    QList<TakenBack> m_taken;
};

UndoRun::UndoRun(LibQuery &query, PaddingRunView &view, QList<UndoCard> cards)
    : m_query(query), m_view(view), m_cards(std::move(cards))
{
}

void UndoRun::execute(Ending ending)
{
    QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    const auto server = PaddingStatements::dialectFor(odbcDbmsName(db));
    const auto dialect = m_forcedDialect.value_or(server);
    Transaction transaction(db);
    Work work(*this, dialect, server);
    if (!work.plan()) {
        transaction.rollBack();
        return;
    }
    work.apply();
    work.finish();
    if (m_beforeCommit)
        m_beforeCommit();
    if (ending == Ending::Commit) {
        try {
            transaction.commit();
        } catch (const ECommitUnknown &error) {
            throw ECommitUnknown(PaddingRun::CommitUnknownMessage.arg(error.message().trimmed()));
        }
    } else {
        transaction.rollBack();
    }
}
