#include "run/RunChecks.h"

#include "connection/LibConnection.h"
#include "connection/OdbcConnection.h"
#include "platform/Exceptions.h"

#include <QSqlDatabase>
#include <QSqlField>

#include <tuple>

void RunChecks::checkSchema()
{
    const QSqlDatabase db = QSqlDatabase::database(LibConnection::DatabaseName, false);
    // One catalogue query per table.
    m_people = db.record(QStringLiteral("lib_people"));
    m_loans = db.record(QStringLiteral("lib_jieshu"));
    checkColumns(m_people, m_loans);
}

void RunChecks::checkData(int length)
{
    if (m_statements.dialect() != PaddingStatements::Dialect::SqlServer) {
        bool cardNumbers = true;
        bool passwords = true;
        m_sql.select(m_statements.untrimmedValues(), [&](const LibQuery &row) {
            cardNumbers = row.intValue(0) != 0;
            passwords = row.intValue(1) != 0;
        });
        m_statements.setUntrimmedValues(cardNumbers, passwords);
    }

    if (length > 1) {
        // A reader without a card number would make every "not in (select pe_id ...)" test unknown:
        // nothing would be padded, and the run would say it succeeded.
        const qint64 withoutNumber = m_sql.scalar(m_statements.countReadersWithoutNumber()).toLongLong();
        if (withoutNumber > 0) {
            throw EAbort(QStringLiteral("读者表中有%1条记录的借书证号为空(NULL)，系统没有做任何改动。请先处理这些记录").arg(withoutNumber));
        }
    }

    checkColumnSizes(length, m_people, m_loans);
}

void RunChecks::checkColumns(const QSqlRecord &people, const QSqlRecord &loans)
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
            m_sql.select(m_statements.declaredColumnTypes(table), [&](const LibQuery &row) {
                if (row.value(1).compare(column, Qt::CaseInsensitive) == 0)
                    isNumeric = PaddingStatements::sqliteNumericAffinity(row.value(2));
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

void RunChecks::checkColumnSizes(int length, const QSqlRecord &people, const QSqlRecord &loans)
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
            if (m_sql.scalar(m_statements.anyCardToPad(table, column, length)).toInt() != 0) {
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
        const int longest = m_sql.scalar(m_statements.longestPasswordSet(length)).toInt();
        if (longest > passwordSize) {
            throw EAbort(QStringLiteral("有读者的密码处理后会是%1位的借书证号，超过了字段lib_people.pe_passwd能存放的长度%2，系统没有做任何改动")
                             .arg(longest)
                             .arg(passwordSize));
        }
    }
}
