#include "run/RunRecorder.h"

#include "platform/Exceptions.h"

#include <algorithm>

namespace {

// Trailing blanks never count: a number is recorded without them.
QString withoutTrailingBlanks(QString number)
{
    qsizetype end = number.size();
    while (end > 0 && number.at(end - 1) == u' ')
        --end;
    number.truncate(end);
    return number;
}

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

void RunRecorder::collision(const QString &number)
{
    ++m_pass.readersLeftAlone;
    (void)number;
}

void RunRecorder::beforePassUpdates(int length, int n)
{
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
        if (listing())
            m_passRows.append(card);
    });
    if (listing() && !m_statements.constraints().loansFollowReaders) {
        m_sql.select(report.loanOnlyCards(n, zeros), [&](const LibQuery &row) {
            const QString number = withoutTrailingBlanks(row.value(0));
            m_passRows.append({number, zeros + number, false, PasswordChange::Unchanged, row.int64Value(1), 0});
            m_loansMoved += row.int64Value(1);
        });
    }
}

void RunRecorder::afterPass(int n, qint64 loansChanged, qint64 readersChanged)
{
    PassFigures figures = m_pass;
    m_pass = PassFigures{};
    figures.length = n;
    // The readers were read before the update with the update's own condition.
    if (readersChanged >= 0 && readersChanged != figures.readersPadded)
        disagree(QStringLiteral("长度为%1的借书证的读者").arg(n), readersChanged, figures.readersPadded);
    if (loansChanged < 0) {
        // Moved by the server with their readers: the loans of the padded readers.
        figures.loansPadded = m_loansMoved;
    } else {
        figures.loansPadded = loansChanged;
        if (listing() && loansChanged != m_loansMoved)
            disagree(QStringLiteral("长度为%1的借书证的借阅记录").arg(n), loansChanged, m_loansMoved);
    }
    if (ChangeSink *sink = m_report.changes()) {
        for (const ChangedCard &card : std::as_const(m_passRows))
            sink->add(card);
    }
    m_passRows.clear();
    m_report.passes.append(figures);
}

void RunRecorder::afterRestore(qint64 restored)
{
    if (restored >= 0 && restored != m_restoring)
        disagree(QStringLiteral("恢复密码"), restored, m_restoring);
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
