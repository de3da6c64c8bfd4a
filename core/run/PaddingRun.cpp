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
#include <tuple>

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

QString PaddingRun::statementText(const QStringList &lines)
{
    // Every statement, updates included, goes out on a forward-only cursor: Qt's ODBC driver then
    // asks for SQL_CURSOR_FORWARD_ONLY on the fresh statement handle it takes for each statement,
    // whose concurrency stays ODBC's default, read-only. A scrollable cursor would make FreeTDS
    // run every statement through a server cursor.
    qrTmp.setForwardOnly(true);
    QString text = PaddingStatements::text(lines);
    if (m_observer)
        m_observer(text);
    return text;
}

qint64 PaddingRun::execSQL(const QStringList &lines)
{
    const QString text = statementText(lines);
    ServerCall call(m_view);
    check(qrTmp.exec(text));
    const qint64 changed = qrTmp.numRowsAffected();
    qrTmp.finish();
    return changed;
}

template<typename RowHandler>
void PaddingRun::openSelect(const QStringList &lines, RowHandler &&onRow)
{
    const QString text = statementText(lines);
    ServerCall call(m_view);
    check(qrTmp.exec(text));
    while (qrTmp.next())
        onRow();
    // A fetch that ended in an error is not the end of the rows.
    check(!qrTmp.lastError().isValid());
    qrTmp.finish();
}

void PaddingRun::checkBeforeChanging(int length)
{
    const QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    // One catalogue query per table.
    const QSqlRecord people = db.record(QStringLiteral("lib_people"));
    const QSqlRecord loans = db.record(QStringLiteral("lib_jieshu"));
    checkColumns(people, loans);

    if (m_statements.dialect() != PaddingStatements::Dialect::SqlServer) {
        bool cardNumbers = true;
        bool passwords = true;
        openSelect(m_statements.untrimmedValues(), [&] {
            cardNumbers = qrTmp.value(0).toInt() != 0;
            passwords = qrTmp.value(1).toInt() != 0;
        });
        m_statements.setUntrimmedValues(cardNumbers, passwords);
    }

    if (length > 1) {
        // A reader without a card number would make every "not in (select pe_id ...)" test unknown:
        // nothing would be padded, and the run would say it succeeded.
        int withoutNumber = 0;
        openSelect(m_statements.countReadersWithoutNumber(), [&] { withoutNumber = qrTmp.value(0).toInt(); });
        if (withoutNumber > 0) {
            throw EAbort(QStringLiteral("读者表中有%1条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录").arg(withoutNumber));
        }
    }

    checkColumnSizes(length, people, loans);
}

void PaddingRun::checkColumns(const QSqlRecord &people, const QSqlRecord &loans)
{
    // The tables and columns the run reads and writes. A data source that points at another
    // database (an empty SQLite file, say) would otherwise end in the driver's "no such table".
    QStringList missing;
    for (const auto &[record, table, columns] :
         {std::tuple{&people, QStringLiteral("lib_people"), QStringList{QStringLiteral("pe_id"), QStringLiteral("pe_passwd")}},
          std::tuple{&loans, QStringLiteral("lib_jieshu"), QStringList{QStringLiteral("js_libcard")}}}) {
        if (record->isEmpty()) {
            missing << QStringLiteral("表") + table;
            continue;
        }
        for (const QString &column : columns) {
            if (!record->contains(column))
                missing << QStringLiteral("字段") + table + u'.' + column;
        }
    }
    if (!missing.isEmpty()) {
        throw EAbort(QStringLiteral("数据库中没有%1，系统没有做任何改动。请确认数据源指向的是图书馆的数据库")
                         .arg(missing.join(u'、')));
    }

    // A card-number column of a numeric type cannot keep leading zeros: 000000007 would go back to
    // 7, and every short reader would collide with itself. SQLite goes by the type the column was
    // declared with (a column declared "string" stores "0007" as 7).
    QStringList numeric;
    for (const auto &[record, table, column] : {std::tuple{&people, QStringLiteral("lib_people"), QStringLiteral("pe_id")},
                                                std::tuple{&loans, QStringLiteral("lib_jieshu"), QStringLiteral("js_libcard")}}) {
        bool isNumeric = false;
        if (m_statements.dialect() == PaddingStatements::Dialect::SQLite) {
            openSelect(m_statements.declaredColumnTypes(table), [&] {
                if (qrTmp.value(1).toString().compare(column, Qt::CaseInsensitive) == 0)
                    isNumeric = PaddingStatements::sqliteNumericAffinity(qrTmp.value(2).toString());
            });
        } else {
            isNumeric = odbcTypeIsNumeric(record->field(column).typeID());
        }
        if (isNumeric)
            numeric << table + u'.' + column;
    }
    if (!numeric.isEmpty()) {
        throw EAbort(QStringLiteral("字段%1是数值类型，存不下借书证号前面补的0，系统没有做任何改动。请先把它改成字符类型")
                         .arg(numeric.join(u'、')));
    }
}

void PaddingRun::checkColumnSizes(int length, const QSqlRecord &people, const QSqlRecord &loans)
{
    // What would fail on the server or be cut short: a card number padded beyond its column, or a
    // password that the last step sets to a number longer than the password column. A column of
    // unbounded text (or one of the limit's size or more) counts as holding the limit, so that a
    // typing slip such as 99999999 is refused too.
    const auto bounded = [](int size) { return size > 0 && size < UnboundedColumnLimit; };

    if (length > 1) {
        // Every number of trimmed length 1 .. L-1 is padded to L (unless its padded number is taken).
        // Only a column narrower than L needs a look at its numbers; the narrowest one that would
        // overflow is named.
        int narrowest = 0;
        QString narrowestName;
        for (const auto &[record, table, column] : {std::tuple{&people, QStringLiteral("lib_people"), QStringLiteral("pe_id")},
                                                    std::tuple{&loans, QStringLiteral("lib_jieshu"), QStringLiteral("js_libcard")}}) {
            const int size = record->field(column).length();
            const int capacity = bounded(size) ? size : UnboundedColumnLimit;
            if (length <= capacity || (narrowest > 0 && capacity >= narrowest))
                continue;
            bool padded = false;
            openSelect(m_statements.anyCardToPad(table, column, length), [&] { padded = qrTmp.value(0).toInt() != 0; });
            if (padded) {
                narrowest = capacity;
                narrowestName = bounded(size) ? table + u'.' + column : QString();
            }
        }
        if (narrowest > 0) {
            throw EAbort(narrowestName.isEmpty()
                             ? QStringLiteral("借书证长度%1超过了%2，系统没有做任何改动").arg(length).arg(narrowest)
                             : QStringLiteral("借书证长度%1超过了字段%2能存放的长度%3，系统没有做任何改动")
                                   .arg(length)
                                   .arg(narrowestName)
                                   .arg(narrowest));
        }
    }

    // The last step copies the card number into every empty password: the marked ones (padded by
    // then) and those empty before the run, long untouched numbers included. When the password
    // column is at least as wide as L and as the card-number column, nothing can overflow it.
    const int passwordSize = people.field(QStringLiteral("pe_passwd")).length();
    const int idSize = people.field(QStringLiteral("pe_id")).length();
    if (bounded(passwordSize) && (length > passwordSize || !bounded(idSize) || idSize > passwordSize)) {
        int longest = 0;
        openSelect(m_statements.longestPasswordSet(length), [&] { longest = qrTmp.value(0).toInt(); });
        if (longest > passwordSize) {
            throw EAbort(QStringLiteral("有读者的密码处理后会是%1位的借书证号，超过了字段lib_people.pe_passwd能存放的长度%2，系统没有做任何改动")
                             .arg(longest)
                             .arg(passwordSize));
        }
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
        for (qsizetype at = 0; at < loanOnly.size(); at += 1000) {
            QStringList padded;
            for (const QString &number : loanOnly.mid(at, 1000))
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
