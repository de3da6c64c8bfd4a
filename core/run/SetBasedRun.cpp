#include "run/SetBasedRun.h"

#include "platform/Exceptions.h"
#include "run/ReportStatements.h"
#include "run/SetStatements.h"

#include <QMap>

#include <algorithm>

namespace {

// The passes in which a card's numbers are padded: twelve zeros at a time from its length n, then
// the last step; `zeros` of them in all.
QList<int> stepPasses(int n, int zeros, int length)
{
    QList<int> passes;
    int at = n;
    int done = 0;
    while (done < zeros) {
        passes << at;
        const int step = std::min(length - at, 12);
        at += step;
        done += step;
    }
    return passes;
}

} // namespace

void SetBasedRun::check(const QString &what, qint64 changed, qint64 expected) const
{
    // The fates were read with the updates' own conditions; should a trigger of the library's own
    // make an update touch other rows, nothing of it is kept.
    if (changed >= 0 && changed != expected) {
        throw EAbort(QStringLiteral("%1：数据库改动了%2行，与统计的%3行不符，系统没有做任何改动").arg(what).arg(changed).arg(expected));
    }
}

void SetBasedRun::run(int length, QList<int> &passes, QString &collisionList)
{
    const bool recording = m_report != nullptr;
    const bool listing = recording && m_report->changes();
    const SetStatements set(m_statements.cards(), length, m_statements.alsoColumns());
    QList<Fate> fates;

    if (length > 1) {
        // Each working table, with its statistics where the next statements need them.
        const auto create = [&](const QStringList &creation) {
            m_sql.exec(creation);
            if (const QStringList statistics = set.statisticsFor(creation); !statistics.isEmpty())
                m_sql.exec(statistics);
        };
        for (const QStringList &statement : set.workingTables())
            create(statement);

        QList<int> present;
        m_sql.select(set.presentLengths(), [&](const LibQuery &row) { present << row.intValue(0); });
        passes = PaddingStatements::passesFor(length, present);

        // The readers left alone, pass by pass, with the progress the passes show.
        QMap<int, QStringList> leftAlone;
        m_sql.select(set.collisions(), [&](const LibQuery &row) { leftAlone[row.intValue(1)] << row.value(0); });
        for (qsizetype i = 0; i < passes.size(); ++i) {
            const int n = passes[i];
            m_view.passStarted(n, int(i), int(passes.size()));
            int position = n * 8;
            m_view.setProgressPosition(position);
            m_view.showProgressNow();
            for (const QString &number : leftAlone.value(n)) {
                collisionList += u' ';
                collisionList += number;
                if (listing) {
                    const QString trimmed = withoutTrailingBlanks(number);
                    ChangedCard card{trimmed, PaddingStatements::padZeros(length, n) + trimmed};
                    card.leftAlone = true;
                    m_report->changes()->add(card);
                }
                position = position < 100 ? position + 1 : 0;
                m_view.setProgressPosition(position);
            }
            m_view.showProgressNow();
        }

        if (recording)
            create(set.joinedLoans());
        m_sql.select(set.figures(recording), [&](const LibQuery &row) {
            Fate fate;
            fate.n = row.intValue(0);
            fate.q = row.intValue(1);
            fate.collisionPass = row.isNull(2) ? 0 : row.intValue(2);
            fate.readerZeros = row.intValue(3);
            fate.loanZeros = row.intValue(4);
            fate.readers = row.int64Value(5);
            fate.loans = row.int64Value(6);
            fate.follows = row.int64Value(7);
            fate.also = row.int64Value(8);
            fate.joined = recording ? row.int64Value(9) : 0;
            fates << fate;
        });
        if (recording)
            report(length, passes, fates);
        if (listing)
            record(length);
    } else if (recording) {
        m_report->passes.clear();
        m_report->emptyPasswordsFilled = m_sql.scalar(set.emptyPasswordsFilled()).toLongLong();
        if (listing)
            record(length);
    }

    // What marking the passwords and restoring them leaves, then the loans, then the readers. With
    // a report, every change is checked against what was read.
    if (recording) {
        const qint64 settle = m_sql.scalar(set.passwordsToSettle(true)).toLongLong();
        check(QStringLiteral("密码等于借书证号或为空的读者"), m_sql.exec(set.passwordsToSettle(false)), settle);
    } else {
        m_sql.exec(set.passwordsToSettle(false));
    }
    if (length > 1) {
        qint64 loans = 0;
        qint64 readers = 0;
        qint64 also = 0;
        for (const Fate &fate : std::as_const(fates)) {
            if (fate.loanZeros > 0) {
                loans += fate.loans;
                also += fate.also;
            }
            if (fate.readerZeros > 0)
                readers += fate.readers;
        }
        if (!m_statements.constraints().loansFollowReaders)
            check(QStringLiteral("补0的借阅记录"), m_sql.exec(set.padLoans()), loans);
        qint64 alsoChanged = 0;
        for (const AlsoColumn &column : m_statements.alsoColumns())
            alsoChanged += m_sql.exec(set.padAlso(column));
        if (!m_statements.alsoColumns().isEmpty())
            check(QStringLiteral("其他表中补0的借书证号"), alsoChanged, also);
        check(QStringLiteral("补0的读者"), m_sql.exec(set.padReaders()), readers);
    }
    for (const QString &drop : set.dropWorkingTables())
        m_sql.exec({drop});
}

void SetBasedRun::report(int length, const QList<int> &passes, const QList<Fate> &fates)
{
    const SetStatements set(m_statements.cards(), length, m_statements.alsoColumns());
    QMap<int, PassFigures> byPass;
    for (const int n : passes) {
        byPass[n].length = n;
    }
    PassFigures again;
    for (const Fate &fate : fates) {
        const QList<int> readerSteps = stepPasses(fate.n, fate.readerZeros, length);
        if (fate.readers > 0) {
            for (const int pass : readerSteps) {
                byPass[pass].readersPadded += fate.readers;
                byPass[pass].passwordsFollowing += fate.follows;
            }
            if (readerSteps.size() > 1) {
                again.readersPadded += fate.readers * (readerSteps.size() - 1);
                again.passwordsFollowing += fate.follows * (readerSteps.size() - 1);
            }
            if (fate.collisionPass > 0)
                byPass[fate.collisionPass].readersLeftAlone += fate.readers;
            if (!readerSteps.isEmpty() && fate.readerZeros == length - fate.n)
                byPass[readerSteps.last()].loansJoined += fate.joined;
        }
        const QList<int> loanSteps = stepPasses(fate.n, fate.loanZeros, length);
        for (const int pass : loanSteps) {
            byPass[pass].loansPadded += fate.loans;
            byPass[pass].alsoPadded += fate.also;
        }
        if (loanSteps.size() > 1) {
            again.loansPadded += fate.loans * (loanSteps.size() - 1);
            again.alsoPadded += fate.also * (loanSteps.size() - 1);
        }
    }
    m_report->passes.clear();
    for (const int n : passes)
        m_report->passes.append(byPass.value(n));
    m_report->countedAgain = again;
    m_report->emptyPasswordsFilled = m_sql.scalar(set.emptyPasswordsFilled()).toLongLong();
}

void SetBasedRun::record(int length)
{
    ChangeSink &sink = *m_report->changes();
    const SetStatements set(m_statements.cards(), length, m_statements.alsoColumns());
    const QString zeros = PaddingStatements::ZeroLiteral.leftJustified(std::max(length, 12), u'0');
    if (length > 1) {
        m_sql.select(set.recordReaders(), [&](const LibQuery &row) {
            const QString number = withoutTrailingBlanks(row.value(0));
            const QString password = row.value(2);
            ChangedCard card{number, zeros.left(row.intValue(1)) + number, true, PasswordChange::Unchanged,
                             row.int64Value(3), row.int64Value(4)};
            if (password == QStringLiteral("E"))
                card.password = PasswordChange::WasEmpty;
            else if (password == QStringLiteral("F"))
                card.password = PasswordChange::FollowsCard;
            sink.add(card);
        });
        if (!m_statements.constraints().loansFollowReaders) {
            m_sql.select(set.recordLoanOnly(), [&](const LibQuery &row) {
                const QString number = withoutTrailingBlanks(row.value(0));
                sink.add({number, zeros.left(row.intValue(1)) + number, false, PasswordChange::Unchanged, row.int64Value(2), 0});
            });
        }
        for (const AlsoColumn &also : m_statements.alsoColumns()) {
            m_sql.select(set.recordAlso(also), [&](const LibQuery &row) {
                const QString number = withoutTrailingBlanks(row.value(0));
                ChangedCard card{number, zeros.left(row.intValue(1)) + number, false, PasswordChange::Unchanged, row.int64Value(2), 0};
                card.also = also.name();
                sink.add(card);
            });
        }
    }
    m_sql.select(set.recordEmptyPasswords(length > 1), [&](const LibQuery &row) {
        const QString number = withoutTrailingBlanks(row.value(0));
        sink.add({number, number, true, PasswordChange::WasEmpty, 0, 0});
    });
}
