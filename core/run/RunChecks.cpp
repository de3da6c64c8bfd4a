#include "run/RunChecks.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "platform/Exceptions.h"
#include "run/SqliteSchema.h"

#include <QSqlDatabase>
#include <QSqlField>

#include <algorithm>
#include <tuple>

using Dialect = CardSql::Dialect;

namespace {

const QString People = QStringLiteral("lib_people");
const QString Loans = QStringLiteral("lib_jieshu");
const QString Card = QStringLiteral("pe_id");
const QString LoanCard = QStringLiteral("js_libcard");
const QString Password = QStringLiteral("pe_passwd");

bool same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// At most `count` of the values, for a message; "…" when there are more.
QString someOf(const QStringList &values, int count = 20)
{
    QStringList shown = values.mid(0, count);
    for (QString &value : shown)
        value = u'"' + value + u'"';
    return shown.join(QStringLiteral("、")) + (values.size() > count ? QStringLiteral("……") : QString());
}

} // namespace

void RunChecks::checkSchema()
{
    const QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    // One catalogue query per table.
    m_people = db.record(People);
    m_loans = db.record(Loans);
    checkColumns();
    checkAlsoColumns();
    readComparisons();
    checkForeignKeys();
}

void RunChecks::checkAlsoColumns()
{
    // Columns of other tables to pad with the loans: they must be there, hold text, and not be one
    // of the run's own columns.
    const QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    m_also.clear();
    for (const AlsoColumn &also : m_statements.alsoColumns()) {
        const QString table = also.schema.isEmpty() ? also.table : also.schema + u'.' + also.table;
        const bool own = (same(also.table, People) && (same(also.column, Card) || same(also.column, Password)))
            || (same(also.table, Loans) && same(also.column, LoanCard));
        if (own) {
            throw EAbort(QStringLiteral("字段%1是处理本来就改动的字段，不能再用--also给出，系统没有做任何改动").arg(also.name()));
        }
        const QSqlRecord record = db.record(table);
        const int at = record.indexOf(also.column);
        if (record.isEmpty() || at < 0 || record.fieldName(at) != also.column) {
            throw EAbort(QStringLiteral("数据库中没有字段%1（表名和字段名要与数据库中的完全一致），系统没有做任何改动").arg(also.name()));
        }
        bool numeric = false;
        if (m_statements.dialect() == Dialect::SQLite) {
            numeric = CheckStatements::sqliteNumericAffinity(
                m_sql.scalar(CheckStatements(m_statements.cards()).sqliteColumnType(), {also.table, also.column}));
        } else {
            numeric = odbcTypeIsNumeric(record.field(at).typeID());
        }
        if (numeric) {
            throw EAbort(QStringLiteral("字段%1是数值类型，存不下借书证号前面补的0，系统没有做任何改动").arg(also.name()));
        }
        m_also << record;
    }
}

void RunChecks::checkColumns()
{
    // The tables and columns the run reads and writes. A data source that points at another
    // database (an empty SQLite file, say) would otherwise end in the driver's "no such table".
    QStringList missing;
    for (const auto &[record, table, columns] :
         {std::tuple{&m_people, People, QStringList{Card, Password}}, std::tuple{&m_loans, Loans, QStringList{LoanCard}}}) {
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
    for (const auto &[record, table, column] : {std::tuple{&m_people, People, Card}, std::tuple{&m_loans, Loans, LoanCard}}) {
        bool isNumeric = false;
        if (m_statements.dialect() == Dialect::SQLite) {
            m_sql.select(CheckStatements(m_statements.cards()).sqliteDeclaredTypes(table), [&](const LibQuery &row) {
                if (same(row.value(1), column))
                    isNumeric = CheckStatements::sqliteNumericAffinity(row.value(2));
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

void RunChecks::readComparisons()
{
    const CheckStatements checks(m_statements.cards());
    m_columns = m_statements.cards().columns();
    if (m_statements.dialect() == Dialect::PostgreSQL) {
        // citext compares without case; a column's collation decides the rest. Two columns with
        // collations of their own that differ cannot be compared at all (PostgreSQL refuses the
        // statement), so the run says so first.
        struct Column
        {
            QString name;
            QString collation;
            QString collationName;
        };
        QList<Column> collated;
        m_sql.select(checks.postgresqlColumns(), [&](const LibQuery &row) {
            const QString name = row.value(0) + u'.' + row.value(1);
            const bool citext = row.intValue(2) != 0;
            if (same(row.value(1), Card)) {
                m_columns.citextCards = citext;
                m_columns.caseSensitiveCards = !citext && row.intValue(5) != 0;
            }
            else if (same(row.value(1), LoanCard)) {
                m_columns.citextLoans = citext;
                m_columns.exactLoans = !citext && row.intValue(5) != 0;
            }
            else
                m_columns.citextPasswords = citext;
            // 100 is the database's default collation, which gives way to any other.
            if (row.value(3) != QStringLiteral("100") && row.value(3) != QStringLiteral("0"))
                collated.append({name, row.value(3), row.value(4)});
        });
        for (qsizetype i = 1; i < collated.size(); ++i) {
            if (collated[i].collation != collated[0].collation) {
                throw EAbort(QStringLiteral("字段%1的排序规则(collation)是%2，字段%3的是%4，数据库无法比较两者中的借书证号，"
                                            "系统没有做任何改动。请让这些字段使用同一个排序规则")
                                 .arg(collated[0].name, collated[0].collationName, collated[i].name, collated[i].collationName));
            }
        }
    } else if (m_statements.dialect() == Dialect::SQLite) {
        const QString collation = SqliteSchema::declaredCollation(m_sql.scalar(checks.sqliteReaderTable()), Card);
        m_columns.caseSensitiveCards = collation != QStringLiteral("nocase");
        if (collation.isEmpty() || collation == QStringLiteral("binary"))
            m_columns.sqliteCollation = CardSql::Columns::Collation::Binary;
        else if (collation == QStringLiteral("nocase"))
            m_columns.sqliteCollation = CardSql::Columns::Collation::NoCase;
        else if (collation == QStringLiteral("rtrim"))
            m_columns.sqliteCollation = CardSql::Columns::Collation::RTrim;
        else
            throw EAbort(QStringLiteral("字段lib_people.pe_id使用排序规则%1，它不是SQLite自带的，这个连接无法按它比较借书证号，"
                                        "系统没有做任何改动")
                             .arg(collation));
    }
    m_statements.setColumns(m_columns);
}

void RunChecks::checkForeignKeys()
{
    const CheckStatements checks(m_statements.cards());
    const Dialect dialect = m_statements.dialect();
    if (dialect == Dialect::SQLite && m_sql.scalar(checks.sqliteForeignKeysEnforced()).toInt() == 0)
        return;   // not enforced on this connection: nothing cascades, nothing fails

    struct ForeignKey
    {
        QString name, table, columns, refTable, refColumns, updateRule;
        bool deferrable = false;
    };
    QList<ForeignKey> keys;
    m_sql.select(checks.foreignKeys(), [&](const LibQuery &row) {
        // INFORMATION_SCHEMA gives a key of several columns as several rows.
        for (ForeignKey &key : keys) {
            if (key.name == row.value(0) && same(key.table, row.value(1))) {
                key.columns += u',' + row.value(2);
                key.refColumns += u',' + row.value(4);
                return;
            }
        }
        keys.append({row.value(0), row.value(1), row.value(2), row.value(3), row.value(4), row.value(6).toUpper(),
                     row.intValue(5) != 0});
    });

    PaddingStatements::Constraints plan;
    QStringList cascading;
    for (const ForeignKey &key : std::as_const(keys)) {
        const bool fromCard = (same(key.table, People) && key.columns.split(u',').contains(Card, Qt::CaseInsensitive))
            || (same(key.table, Loans) && key.columns.split(u',').contains(LoanCard, Qt::CaseInsensitive));
        const bool toCard = same(key.refTable, People) && key.refColumns.split(u',').contains(Card, Qt::CaseInsensitive);
        if (!fromCard && !toCard)
            continue;
        const QString what = QStringLiteral("外键%1（%2.%3引用%4.%5）").arg(key.name, key.table, key.columns, key.refTable, key.refColumns);
        if (key.columns.contains(u',') || key.refColumns.contains(u',')) {
            throw EAbort(QStringLiteral("%1由多个字段组成，补0后无法保证它成立，系统没有做任何改动。请先去掉这个外键，处理后再加上").arg(what));
        }
        if (!toCard) {
            throw EAbort(QStringLiteral("%1要求借书证号在%2中存在，补0后的证号在那里没有，系统没有做任何改动。请先去掉这个外键，"
                                        "处理后把%2中的证号也补0再加上")
                             .arg(what, key.refTable));
        }
        // Deferred: SQLite defers any foreign key when asked; SQL Server none.
        const bool deferrable = dialect == Dialect::SQLite || (dialect == Dialect::PostgreSQL && key.deferrable);
        if (same(key.table, Loans) && same(key.columns, LoanCard)) {
            // The loans are padded before their readers: checked at the end of the transaction the
            // key holds again; cascading and not deferrable, the server moves the loans itself.
            if (deferrable)
                plan.defer = true;
            else if (key.updateRule == QStringLiteral("CASCADE"))
                plan.loansFollowReaders = true;
            else
                throw EAbort(QStringLiteral("%1不能延迟检查(DEFERRABLE)，也不随证号变更(ON UPDATE CASCADE)：借阅记录先于读者补0时它就不成立，"
                                            "系统没有做任何改动。请把它改成DEFERRABLE或ON UPDATE CASCADE，或者先去掉它，处理后再加上")
                                 .arg(what));
            continue;
        }
        // Another table (or another column) that holds readers' card numbers.
        if (key.updateRule == QStringLiteral("CASCADE")) {
            cascading << key.table + u'.' + key.columns;
            continue;
        }
        // Padded by the run with the loans: like them, it holds again at the end of the transaction.
        const bool padded = std::any_of(m_statements.alsoColumns().cbegin(), m_statements.alsoColumns().cend(),
                                        [&](const AlsoColumn &also) { return same(also.table, key.table) && same(also.column, key.columns); });
        if (padded && deferrable) {
            plan.defer = true;
            continue;
        }
        throw EAbort(QStringLiteral("%1在读者的借书证号改变时不随之变更（ON UPDATE %2）：补0后%3中的证号会对不上读者，"
                                    "系统没有做任何改动。请把它改成ON UPDATE CASCADE，或者先去掉它，处理后把%3中的证号也补0再加上")
                         .arg(what, key.updateRule, key.table));
    }
    m_statements.setConstraints(plan);
    if (m_report)
        m_report->cascadingColumns = cascading;
}

void RunChecks::readTrimming()
{
    if (m_statements.dialect() == Dialect::SqlServer)
        return;
    m_sql.select(CheckStatements(m_statements.cards()).untrimmedValues(), [&](const LibQuery &row) {
        m_columns.untrimmedCards = row.intValue(0) != 0;
        m_columns.untrimmedPasswords = row.intValue(1) != 0;
    });
    m_statements.setColumns(m_columns);
}

void RunChecks::checkData(int length)
{
    const CheckStatements checks(m_statements.cards());
    readTrimming();

    if (length > 1) {
        // A reader without a card number would make every "not in (select pe_id ...)" test unknown:
        // nothing would be padded, and the run would say it succeeded.
        const qint64 withoutNumber = m_sql.scalar(checks.countReadersWithoutNumber()).toLongLong();
        if (withoutNumber > 0) {
            throw EAbort(QStringLiteral("读者表中有%1条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录").arg(withoutNumber));
        }
        checkUniqueKeys(length);
    }

    checkColumnSizes(length);
}

void RunChecks::checkUniqueKeys(int length)
{
    // "7" and "7 " are one card to the run, and both are padded to "000000007"; so are "ab" and "AB"
    // under a collation that ignores case. A unique key that tells them apart now would refuse the
    // second in the middle of the run.
    // Two numbers that the run pads to one are equal but for trailing blanks (or, in SQLite, one is
    // an integer): where no reader's card number has them, there is nothing to look for in pe_id.
    const CheckStatements checks(m_statements.cards());
    const QStringList keysQuery = checks.uniqueKeys();
    if (keysQuery.isEmpty())
        return;
    QList<std::pair<QString, QString>> keys;   // table.column, key name
    m_sql.select(keysQuery, [&](const LibQuery &row) { keys.append({row.value(0) + u'.' + row.value(2), row.value(1)}); });
    for (const auto &[column, key] : std::as_const(keys)) {
        const QString table = column.section(u'.', 0, 0);
        if (same(table, People) && !m_columns.untrimmedCards)
            continue;
        QStringList twice;
        m_sql.select(checks.sameCardStoredTwice(table, column.section(u'.', 1), length),
                     [&](const LibQuery &row) { twice << row.value(0); });
        if (!twice.isEmpty()) {
            throw EAbort(QStringLiteral("字段%1上有唯一约束%2，而%3在比较时是同一个借书证号（尾部的空格不算%4）。补0后它们会完全相同，"
                                        "违反这个唯一约束，系统没有做任何改动。请先手工处理这些记录")
                             .arg(column, key, someOf(twice),
                                  m_columns.citextCards || m_statements.dialect() == Dialect::PostgreSQL ? QStringLiteral("，按字段的排序规则比较")
                                                                                                      : QString()));
        }
    }
}

void RunChecks::checkColumnSizes(int length)
{
    // What would fail on the server or be cut short: a card number padded beyond its column, or a
    // password that the last step sets to a number longer than the password column. A column of
    // unbounded text (or one of the limit's size or more) counts as holding the limit, so that a
    // typing slip such as 99999999 is refused too.
    const CheckStatements checks(m_statements.cards());
    const auto bounded = [](int size) { return size > 0 && size < UnboundedColumnLimit; };

    if (length > 1) {
        // Every number of trimmed length 1 .. L-1 is padded to L (unless its padded number is taken).
        // Only a column narrower than L needs a look at its numbers; the narrowest one that would
        // overflow is named.
        int narrowest = 0;
        QString narrowestName;
        for (const auto &[record, table, column] : {std::tuple{&m_people, People, Card}, std::tuple{&m_loans, Loans, LoanCard}}) {
            const int size = record->field(column).length();
            const int capacity = bounded(size) ? size : UnboundedColumnLimit;
            if (length <= capacity || (narrowest > 0 && capacity >= narrowest))
                continue;
            if (m_sql.scalar(checks.anyCardToPad(table, column, length)).toInt() != 0) {
                narrowest = capacity;
                narrowestName = bounded(size) ? table + u'.' + column : QString();
            }
        }
        for (qsizetype i = 0; i < m_also.size(); ++i) {
            const AlsoColumn &also = m_statements.alsoColumns()[i];
            const int size = m_also[i].field(also.column).length();
            const int capacity = bounded(size) ? size : UnboundedColumnLimit;
            if (length <= capacity || (narrowest > 0 && capacity >= narrowest))
                continue;
            const auto dialect = m_statements.dialect();
            if (m_sql.scalar(checks.anyValueToPad(also.tableIdentifier(dialect), also.columnIdentifier(dialect), length)).toInt() != 0) {
                narrowest = capacity;
                narrowestName = bounded(size) ? also.name() : QString();
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
    const int passwordSize = m_people.field(Password).length();
    const int idSize = m_people.field(Card).length();
    if (bounded(passwordSize) && (length > passwordSize || !bounded(idSize) || idSize > passwordSize)) {
        const int longest = m_sql.scalar(checks.longestPasswordSet(length)).toInt();
        if (longest > passwordSize) {
            throw EAbort(QStringLiteral("有读者的密码处理后会是%1位的借书证号，超过了字段lib_people.pe_passwd能存放的长度%2，系统没有做任何改动")
                             .arg(longest)
                             .arg(passwordSize));
        }
    }
}
