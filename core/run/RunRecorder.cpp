#include "run/RunRecorder.h"

#include "platform/Exceptions.h"
#include "run/PaddingRun.h"

#include <QSet>

#include <algorithm>

namespace {

// Card numbers are compared without their trailing blanks.
QString withoutTrailingBlanks(QString number)
{
    qsizetype end = number.size();
    while (end > 0 && number.at(end - 1) == u' ')
        --end;
    number.truncate(end);
    return number;
}

} // namespace

void RunRecorder::beforeMarking()
{
    m_report.clear();
    m_emptyPasswords.clear();
    // Step "restore" gives these readers their card number; the marked ones look the same then.
    m_sql.select(m_statements.readersWithEmptyPassword(), [&](const LibQuery &row) {
        const QString number = withoutTrailingBlanks(row.value(0));
        if (!number.isEmpty()) {
            ++m_emptyPasswords[number];
            ++m_report.emptyPasswordsFilled;
        }
    });
}

void RunRecorder::beforePasses(int length, const QList<int> &passes)
{
    m_loanCards.clear();
    if (!listing() || passes.isEmpty())
        return;
    // One scan for the loans of every pass: the card numbers shorter than L and their loans.
    m_sql.select(m_statements.shortLoanCards(length), [&](const LibQuery &row) {
        const QString number = withoutTrailingBlanks(row.value(0));
        m_loanCards[int(number.size())][number] += row.int64Value(1);
    });
}

void RunRecorder::collision(const QString &number)
{
    ++m_pass.readersLeftAlone;
    if (listing())
        m_passCollisions << withoutTrailingBlanks(number);
}

void RunRecorder::beforePassUpdates(int length, int n)
{
    // Exactly the readers the update pads (it tests the same condition on the same table).
    const QString zeros = PaddingRun::padZeros(length, n);
    m_sql.select(m_statements.readersToPad(n, zeros), [&](const LibQuery &row) {
        const QString number = withoutTrailingBlanks(row.value(0));
        const bool emptyPassword = row.intValue(1) == 1;
        ++m_pass.readersPadded;
        PasswordChange password = PasswordChange::Unchanged;
        if (emptyPassword) {
            const auto it = m_emptyPasswords.find(number);
            if (it != m_emptyPasswords.end()) {
                password = PasswordChange::WasEmpty;
                if (--it.value() == 0)
                    m_emptyPasswords.erase(it);
            } else {
                password = PasswordChange::FollowsCard;
                ++m_pass.passwordsFollowing;
            }
        }
        if (listing())
            m_passReaders.append({number, password});
    });
}

void RunRecorder::afterPass(int length, int n, qint64 loansChanged, qint64 readersChanged)
{
    PassFigures figures = m_pass;
    m_pass = PassFigures{};
    figures.length = n;
    figures.loansPadded = std::max<qint64>(loansChanged, 0);
    // The readers were read before the update with the update's own condition; should a driver or
    // a trigger make the two disagree, the report would not say what happened: stop instead.
    if (readersChanged >= 0 && readersChanged != figures.readersPadded) {
        throw EAbort(QStringLiteral("长度为%1的借书证：数据库改动了%2位读者，与统计的%3位读者不符，系统没有做任何改动")
                         .arg(n)
                         .arg(readersChanged)
                         .arg(figures.readersPadded));
    }
    if (listing())
        listPass(length, n, figures, loansChanged);
    m_report.passes.append(figures);
    m_passReaders.clear();
    m_passCollisions.clear();
}

void RunRecorder::listPass(int length, int n, PassFigures &figures, qint64 loansChanged)
{
    ChangeSink &sink = *m_report.changes();
    const QString zeros = PaddingRun::padZeros(length, n);
    // The loans of this length, by card number, as they were before the passes. A loan is padded
    // exactly when a reader with its number is (the two updates test the same condition on the same
    // readers); a number no reader has was padded unless its padded form is a reader's.
    QHash<QString, qint64> loans = m_loanCards.take(n);
    qint64 moved = 0;
    for (const auto &[number, password] : std::as_const(m_passReaders)) {
        const qint64 count = loans.take(number);
        moved += count;
        sink.add({number, zeros + number, true, password, count});
    }
    for (const QString &number : std::as_const(m_passCollisions))
        loans.remove(number);
    QStringList loanOnly = loans.keys();
    std::sort(loanOnly.begin(), loanOnly.end());
    qint64 loanOnlyCount = 0;
    for (const QString &number : std::as_const(loanOnly))
        loanOnlyCount += loans.value(number);
    if (!loanOnly.isEmpty() && loansChanged != moved + loanOnlyCount) {
        // Some of them were left alone: ask which padded forms are readers' numbers. (No reader
        // padded in this pass can have one of them: its number differs from each of these.)
        QSet<QString> taken;
        for (qsizetype at = 0; at < loanOnly.size(); at += 1000) {
            QStringList padded;
            for (const QString &number : loanOnly.mid(at, 1000))
                padded << zeros + number;
            m_sql.select(m_statements.readersAmong(padded),
                         [&](const LibQuery &row) { taken.insert(withoutTrailingBlanks(row.value(0))); });
        }
        loanOnly.removeIf([&](const QString &number) { return taken.contains(zeros + number); });
        loanOnlyCount = 0;
        for (const QString &number : std::as_const(loanOnly))
            loanOnlyCount += loans.value(number);
    }
    if (loansChanged >= 0 && loansChanged != moved + loanOnlyCount) {
        throw EAbort(QStringLiteral("长度为%1的借书证：数据库改动了%2条借阅记录，与统计的%3条借阅记录不符，系统没有做任何改动")
                         .arg(n)
                         .arg(loansChanged)
                         .arg(moved + loanOnlyCount));
    }
    figures.loansPadded = moved + loanOnlyCount;
    for (const QString &number : std::as_const(loanOnly))
        sink.add({number, zeros + number, false, PasswordChange::Unchanged, loans.value(number)});
}

void RunRecorder::afterRestore()
{
    if (ChangeSink *sink = m_report.changes()) {
        // Readers left with their number whose empty password became that number.
        QStringList numbers = m_emptyPasswords.keys();
        std::sort(numbers.begin(), numbers.end());
        for (const QString &number : std::as_const(numbers)) {
            for (qint64 k = m_emptyPasswords.value(number); k > 0; --k)
                sink->add({number, number, true, PasswordChange::WasEmpty, 0});
        }
    }
    m_emptyPasswords.clear();
}
