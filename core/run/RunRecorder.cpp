#include "run/RunRecorder.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <utility>

namespace {

bool take(QHash<QString, qint64> &counts, const QString &key)
{
    const auto it = counts.find(key);
    if (it == counts.end())
        return false;
    if (--it.value() == 0)
        counts.erase(it);
    return true;
}

} // namespace

void RunRecorder::disagree(const QString &what, qint64 changed, qint64 read) const
{
    throw EAbort(QStringLiteral("%1：数据库改动了%2行，与统计的%3行不符，系统没有做任何改动").arg(what).arg(changed).arg(read));
}

void RunRecorder::beforeChanges(int length)
{
    m_report.caseTwins.clear();
    if (!m_report.findCaseTwins || length < 2 || !m_statements.cards().columns().caseSensitiveCards)
        return;
    const ReportStatements report(m_statements.cards());
    bool unicode = false;
    if (m_statements.dialect() == CardSql::Dialect::PostgreSQL)
        unicode = m_sql.scalar(report.databaseEncoding()) == QStringLiteral("UTF8");
    else if (m_statements.dialect() != CardSql::Dialect::SQLite)
        return;
    m_sql.select(report.caseTwins(length, unicode), [&](const LibQuery &row) {
        m_report.caseTwins.append({withoutTrailingBlanks(row.value(0)), row.value(1), withoutTrailingBlanks(row.value(2))});
    });
}

void RunRecorder::beforeMarking()
{
    m_report.passes.clear();
    m_emptyPasswords.clear();
    m_emptyPasswordsPadded.clear();
    const ReportStatements report(m_statements.cards());
    m_sql.select(report.passwordFigures(), [&](const LibQuery &row) {
        m_marking = row.int64Value(0);
        m_restoring = row.int64Value(1);
        m_report.emptyPasswordsFilled = row.int64Value(2);
    });
    m_sql.select(report.readersWithEmptyPassword(),
                 [&](const LibQuery &row) { ++m_emptyPasswords[withoutTrailingBlanks(row.value(0))]; });
}

void RunRecorder::afterMarking(qint64 marked)
{
    if (marked >= 0 && marked != m_marking)
        disagree(QStringLiteral("标记密码等于借书证号的读者"), marked, m_marking);
}

void RunRecorder::collision(int length, int n, const QString &number)
{
    ++m_pass.readersLeftAlone;
    if (ChangeSink *sink = m_report.changes()) {
        const QString trimmed = withoutTrailingBlanks(number);
        ChangedCard card{trimmed, PaddingStatements::padZeros(length, n) + trimmed};
        card.leftAlone = true;
        sink->add(card);
    }
}

void RunRecorder::beforePassUpdates(int length, int n)
{
    m_length = length;
    const QString zeros = PaddingStatements::padZeros(length, n);
    const ReportStatements report(m_statements.cards());
    m_loansMoved = 0;
    m_passRows.clear();
    m_sql.select(report.readersToPad(n, zeros), [&](const LibQuery &row) {
        const QString number = withoutTrailingBlanks(row.value(0));
        ChangedCard card{number, zeros + number, true, PasswordChange::Unchanged, row.int64Value(2), row.int64Value(3)};
        if (row.intValue(1) == 1) {
            // Empty now: it was empty before the run, or it was the card number (marked).
            if (take(m_emptyPasswords, number) || take(m_emptyPasswordsPadded, number)) {
                card.password = PasswordChange::WasEmpty;
                ++m_emptyPasswordsPadded[card.newNumber];
            } else {
                card.password = PasswordChange::FollowsCard;
                ++m_pass.passwordsFollowing;
            }
        }
        ++m_pass.readersPadded;
        m_loansMoved += card.loans;
        m_pass.loansJoined += card.joinedLoans;
        m_passRows.append(card);
    });
    if (!m_statements.constraints().loansFollowReaders) {
        m_sql.select(report.loanOnlyCards(n, zeros), [&](const LibQuery &row) {
            const QString number = withoutTrailingBlanks(row.value(0));
            m_passRows.append({number, zeros + number, false, PasswordChange::Unchanged, row.int64Value(1), 0});
            m_loansMoved += row.int64Value(1);
        });
    }
    m_alsoMoved.clear();
    for (const AlsoColumn &also : m_statements.alsoColumns()) {
        qint64 moved = 0;
        m_sql.select(report.alsoValues(also, n, zeros), [&](const LibQuery &row) {
            const QString number = withoutTrailingBlanks(row.value(0));
            ChangedCard card{number, zeros + number, false, PasswordChange::Unchanged, row.int64Value(1), 0};
            card.also = also.name();
            m_passRows.append(card);
            moved += card.loans;
        });
        m_alsoMoved << moved;
    }
}

void RunRecorder::afterPass(int n, qint64 loansChanged, qint64 readersChanged, const QList<qint64> &alsoChanged)
{
    PassFigures figures = m_pass;
    m_pass = PassFigures{};
    figures.length = n;
    // The readers and loans were read before the updates with the updates' own conditions.
    if (readersChanged >= 0 && readersChanged != figures.readersPadded)
        disagree(QStringLiteral("长度为%1的借书证的读者").arg(n), readersChanged, figures.readersPadded);
    if (loansChanged >= 0 && loansChanged != m_loansMoved)
        disagree(QStringLiteral("长度为%1的借书证的借阅记录").arg(n), loansChanged, m_loansMoved);
    // Moved by the run, or by the server with their readers.
    figures.loansPadded = m_loansMoved;
    for (qsizetype i = 0; i < m_alsoMoved.size(); ++i) {
        if (i < alsoChanged.size() && alsoChanged[i] >= 0 && alsoChanged[i] != m_alsoMoved[i]) {
            disagree(QStringLiteral("长度为%1的%2").arg(n).arg(m_statements.alsoColumns()[i].name()), alsoChanged[i],
                     m_alsoMoved[i]);
        }
        figures.alsoPadded += m_alsoMoved[i];
    }
    const QList<ChangedCard> rows = std::exchange(m_passRows, {});
    for (const ChangedCard &card : rows)
        settle(card);
    m_report.passes.append(figures);
}

void RunRecorder::settle(ChangedCard card)
{
    const auto it = m_pending.find(card.also + u'\n' + card.oldNumber);
    if (it == m_pending.end()) {
        emitRow(card);
        return;
    }
    // A number an earlier pass made: the card goes on from the number it had before the run. The
    // loans at this number are those that moved here with the reader then, those that numbers found
    // only in loans brought here, and those that were here before the run.
    QList<ChangedCard> &earlier = it.value();
    qint64 remaining = card.loans;
    const auto carry = [&](ChangedCard &from) {
        const qint64 carried = std::min(remaining, from.loans);
        remaining -= carried;
        (card.also.isEmpty() ? m_report.countedAgain.loansPadded : m_report.countedAgain.alsoPadded) += carried;
        from.newNumber = card.newNumber;
    };
    bool readerGoesOn = false;
    if (card.reader) {
        const auto reader = std::find_if(earlier.begin(), earlier.end(), [](const ChangedCard &c) { return c.reader; });
        if (reader != earlier.end()) {
            ChangedCard first = *reader;
            earlier.erase(reader);
            ++m_report.countedAgain.readersPadded;
            if (card.password == PasswordChange::FollowsCard)
                ++m_report.countedAgain.passwordsFollowing;
            carry(first);
            first.joinedLoans = card.joinedLoans;
            emitRow(first);
            readerGoesOn = true;
        }
    }
    for (qsizetype i = earlier.size() - 1; i >= 0 && remaining > 0; --i) {
        if (earlier[i].reader)
            continue;
        ChangedCard loanOnly = earlier.takeAt(i);
        carry(loanOnly);
        emitRow(loanOnly);
    }
    if (earlier.isEmpty())
        m_pending.erase(it);
    if (card.reader && !readerGoesOn) {
        card.loans = remaining;
        emitRow(card);
    } else if (remaining > 0) {
        // Loans (or a column's values) that were under this number before the run.
        ChangedCard before{card.oldNumber, card.newNumber, false, PasswordChange::Unchanged, remaining, 0};
        before.also = card.also;
        emitRow(before);
    }
}

void RunRecorder::emitRow(const ChangedCard &card)
{
    if (card.newNumber.size() < m_length && card.newNumber != card.oldNumber) {
        m_pending[card.also + u'\n' + card.newNumber].append(card);
        return;
    }
    if (ChangeSink *sink = m_report.changes())
        sink->add(card);
}

void RunRecorder::afterRestore(qint64 restored)
{
    if (restored >= 0 && restored != m_restoring)
        disagree(QStringLiteral("恢复密码"), restored, m_restoring);
    // Numbers padded to a length below L that no later pass padded again (their number was taken).
    if (ChangeSink *sink = m_report.changes()) {
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            for (const ChangedCard &card : it.value())
                sink->add(card);
        }
    }
    m_pending.clear();
    if (ChangeSink *sink = m_report.changes()) {
        // Readers left with their number whose empty password became that number.
        QStringList numbers = m_emptyPasswords.keys();
        std::sort(numbers.begin(), numbers.end());
        for (const QString &number : std::as_const(numbers)) {
            for (qint64 k = m_emptyPasswords.value(number); k > 0; --k)
                sink->add({number, number, true, PasswordChange::WasEmpty, 0, 0});
        }
    }
    m_emptyPasswords.clear();
    m_emptyPasswordsPadded.clear();
}
