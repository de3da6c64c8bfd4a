#include "run/PaddingRun.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "platform/Exceptions.h"
#include "platform/IntConversion.h"

#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>

#include <algorithm>

namespace {

// Puts the transaction back unless the run got to its commit. A rollback that fails leaves the
// connection in a state nobody knows (the driver may still think a transaction is open, and the next
// run's statements would then commit one by one): the connection is closed, so that nothing more
// runs on it.
class RollbackGuard
{
public:
    explicit RollbackGuard(QSqlDatabase db) : m_db(std::move(db)) {}
    ~RollbackGuard()
    {
        if (m_active && !m_db.rollback())
            m_db.close();
    }
    RollbackGuard(const RollbackGuard &) = delete;
    RollbackGuard &operator=(const RollbackGuard &) = delete;
    void release() { m_active = false; }

private:
    QSqlDatabase m_db;
    bool m_active = true;
};

// Tells the view while the server works on a statement.
class ServerCall
{
public:
    explicit ServerCall(PaddingRunView &view) : m_view(view) { m_view.serverCallStarted(); }
    ~ServerCall() { m_view.serverCallEnded(); }
    ServerCall(const ServerCall &) = delete;
    ServerCall &operator=(const ServerCall &) = delete;

private:
    PaddingRunView &m_view;
};

QString errorText(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("Database error") : text;
}

} // namespace

PaddingRun::PaddingRun(QSqlQuery &query, PaddingRunView &view) : qrTmp(query), m_view(view) {}

QString PaddingRun::padZeros(int length, int n)
{
    return QString(std::max(length - n, 0), u'0');
}

void PaddingRun::check(bool ok)
{
    if (!ok) {
        const QString message = errorText(qrTmp.lastError());
        qrTmp.finish();
        throw EDatabaseError(message);
    }
}

qint64 PaddingRun::execSQL(const QStringList &lines)
{
    const QString text = PaddingStatements::text(lines);
    if (m_observer)
        m_observer(text);
    ServerCall call(m_view);
    check(qrTmp.exec(text));
    const qint64 changed = qrTmp.numRowsAffected();
    qrTmp.finish();
    return changed;
}

template<typename RowHandler>
void PaddingRun::openSelect(const QStringList &lines, RowHandler &&onRow)
{
    const QString text = PaddingStatements::text(lines);
    if (m_observer)
        m_observer(text);
    ServerCall call(m_view);
    qrTmp.setForwardOnly(true);
    check(qrTmp.exec(text));
    while (qrTmp.next())
        onRow();
    // A fetch that ended in an error is not the end of the rows.
    check(!qrTmp.lastError().isValid());
    qrTmp.finish();
}

void PaddingRun::checkBeforeChanging(int length)
{
    // A reader without a card number would make every "not in (select pe_id ...)" test unknown:
    // nothing would be padded, and the run would say it succeeded.
    int withoutNumber = 0;
    openSelect(m_statements.countReadersWithoutNumber(), [&] { withoutNumber = qrTmp.value(0).toInt(); });
    if (withoutNumber > 0) {
        throw EAbort(QStringLiteral("读者表中有%1条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录").arg(withoutNumber));
    }

    // Padding beyond what the columns hold would fail on the server or cut numbers short: the card
    // numbers, and the passwords that become card numbers at the end of the run. A typing slip such
    // as 99999999 is refused here instead.
    const QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    QString narrowest;
    int capacity = UnboundedColumnLimit;
    // One catalogue query per table.
    const QSqlRecord people = db.record(QStringLiteral("lib_people"));
    const QSqlRecord loans = db.record(QStringLiteral("lib_jieshu"));
    for (const auto &[record, name] : {std::pair{&people, QStringLiteral("lib_people.pe_id")},
                                       std::pair{&loans, QStringLiteral("lib_jieshu.js_libcard")},
                                       std::pair{&people, QStringLiteral("lib_people.pe_passwd")}}) {
        const int size = record->field(name.section(u'.', 1)).length();
        if (size > 0 && size < capacity) {
            capacity = size;
            narrowest = name;
        }
    }
    if (length > capacity) {
        throw EAbort(narrowest.isEmpty()
                         ? QStringLiteral("借书证长度%1超过了%2，系统没有做任何改动").arg(length).arg(capacity)
                         : QStringLiteral("借书证长度%1超过了字段%2能存放的长度%3，系统没有做任何改动")
                               .arg(length)
                               .arg(narrowest)
                               .arg(capacity));
    }
}

QList<int> PaddingRun::passesFor(int length)
{
    // Padding turns a number of length n < L into one of length L, never into another length below
    // L; so a length that no card number has before the run has none in any later pass, and its pass
    // could change nothing. Only the lengths that occur are run, in ascending order.
    QList<int> passes;
    if (m_statements.cardLengthsAsMasks()) {
        quint64 mask = 0;
        openSelect(m_statements.cardLengths(length),
                   [&] { mask |= static_cast<quint64>(qrTmp.value(0).toLongLong()); });
        for (int n = 1; n < length; ++n) {
            const int bit = std::min(n, int(PaddingStatements::MaskOverflowBit));
            if (mask & (quint64(1) << bit))
                passes << n;
        }
        return passes;
    }
    openSelect(m_statements.cardLengths(length), [&] {
        const int n = qrTmp.value(0).toInt();
        if (n >= 1 && n < length)
            passes << n;
    });
    std::sort(passes.begin(), passes.end());
    passes.erase(std::unique(passes.begin(), passes.end()), passes.end());
    return passes;
}

void PaddingRun::execute(Ending ending)
{
    m_view.setProgressVisible(true);
    // The length first: an invalid one stops the run before anything is changed.
    const int length = StrToInt(m_view.lengthText());

    QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    m_statements = PaddingStatements(m_forcedDialect.value_or(PaddingStatements::dialectFor(odbcDbmsName(db))));
    m_passes.clear();
    m_collisionList.clear();
    if (m_report)
        m_report->clear();

    if (!db.transaction())
        throw EDatabaseError(errorText(db.lastError()));
    RollbackGuard guard(db);
    run(length);
    if (m_beforeCommit)
        m_beforeCommit();
    if (ending == Ending::Commit) {
        if (!db.commit())
            throw EDatabaseError(errorText(db.lastError()));
        guard.release();
    } else {
        guard.release();
        if (!db.rollback()) {
            const QString message = errorText(db.lastError());
            db.close();
            throw EDatabaseError(message);
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

void PaddingRun::run(int length)
{
    if (const QStringList settings = m_statements.transactionSettings(); !settings.isEmpty())
        execSQL(settings);
    if (length > 1)
        checkBeforeChanging(length);
    m_emptyPasswords.clear();
    if (m_report) {
        // Step "restore" gives these readers their card number; the marked ones look the same then.
        openSelect(m_statements.readersWithEmptyPassword(), [&] {
            const QString number = withoutTrailingBlanks(qrTmp.value(0).toString());
            if (!number.isEmpty()) {
                ++m_emptyPasswords[number];
                ++m_report->emptyPasswordsFilled;
            }
        });
    }
    execSQL(m_statements.markPasswords());
    if (length > 1)
        m_passes = passesFor(length);
    m_loanCards.clear();
    if (m_report && m_report->changes() && !m_passes.isEmpty()) {
        // One scan for the loans of every pass: the card numbers shorter than L and their loans.
        openSelect(m_statements.shortLoanCards(length), [&] {
            const QString number = withoutTrailingBlanks(qrTmp.value(0).toString());
            m_loanCards[int(number.size())][number] += qrTmp.value(1).toLongLong();
        });
    }
    for (qsizetype i = 0; i < m_passes.size(); ++i) {
        m_view.passStarted(m_passes[i], int(i), int(m_passes.size()));
        runPass(length, m_passes[i]);
    }
    execSQL(m_statements.restorePasswords());

    if (m_report) {
        if (ChangeSink *sink = m_report->changes()) {
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
}

void PaddingRun::runPass(int length, int n)
{
    m_position = n * 8;
    m_view.setProgressPosition(m_position);
    const QString zeros = padZeros(length, n);
    PassFigures figures;
    figures.length = n;
    const bool listing = m_report && m_report->changes();
    m_passReaders.clear();
    m_passCollisions.clear();
    openSelect(m_statements.collisionScan(n, zeros), [&] {
        const QString number = qrTmp.value(0).toString();
        m_collisionList += u' ';
        m_collisionList += number;
        ++figures.readersLeftAlone;
        if (listing)
            m_passCollisions << withoutTrailingBlanks(number);
        m_position = m_position < 100 ? m_position + 1 : 0;
        m_view.setProgressPosition(m_position);
    });
    if (m_report) {
        // Exactly the readers the update below pads (it tests the same condition on the same table).
        openSelect(m_statements.readersToPad(n, zeros), [&] {
            const QString number = withoutTrailingBlanks(qrTmp.value(0).toString());
            const bool emptyPassword = qrTmp.value(1).toInt() == 1;
            ++figures.readersPadded;
            PasswordChange password = PasswordChange::Unchanged;
            if (emptyPassword) {
                const auto it = m_emptyPasswords.find(number);
                if (it != m_emptyPasswords.end()) {
                    password = PasswordChange::WasEmpty;
                    if (--it.value() == 0)
                        m_emptyPasswords.erase(it);
                } else {
                    password = PasswordChange::FollowsCard;
                    ++figures.passwordsFollowing;
                }
            }
            if (listing)
                m_passReaders.append({number, password});
        });
    }
    const qint64 loansChanged = execSQL(m_statements.padLoans(n, zeros));
    const qint64 readersChanged = execSQL(m_statements.padReaders(n, zeros));
    if (m_report)
        reportPass(length, n, figures, loansChanged, readersChanged);
}

void PaddingRun::reportPass(int length, int n, PassFigures &figures, qint64 loansChanged, qint64 readersChanged)
{
    figures.loansPadded = std::max<qint64>(loansChanged, 0);
    // The readers were read before the update with the update's own condition; should a driver or
    // a trigger make the two disagree, the report would not say what happened: stop instead.
    if (readersChanged >= 0 && readersChanged != figures.readersPadded) {
        throw EAbort(QStringLiteral("长度为%1的借书证：数据库改动了%2位读者，与统计的%3位读者不符，系统没有做任何改动")
                         .arg(n)
                         .arg(readersChanged)
                         .arg(figures.readersPadded));
    }
    if (m_report->changes())
        listPass(length, n, figures, loansChanged);
    m_report->passes.append(figures);
}

void PaddingRun::listPass(int length, int n, PassFigures &figures, qint64 loansChanged)
{
    ChangeSink &sink = *m_report->changes();
    const QString zeros = padZeros(length, n);
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
        for (qsizetype at = 0; at < loanOnly.size(); at += 500) {
            QStringList padded;
            for (const QString &number : loanOnly.mid(at, 500))
                padded << zeros + number;
            openSelect(m_statements.readersAmong(padded),
                       [&] { taken.insert(withoutTrailingBlanks(qrTmp.value(0).toString())); });
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
    m_passReaders.clear();
    m_passCollisions.clear();
}
