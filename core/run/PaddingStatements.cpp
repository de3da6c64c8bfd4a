#include "run/PaddingStatements.h"

PaddingStatements::Dialect PaddingStatements::dialectFor(const QString &dbmsName)
{
    if (dbmsName.startsWith(QStringLiteral("PostgreSQL"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (dbmsName.contains(QStringLiteral("SQLite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    return Dialect::SqlServer;
}

QString PaddingStatements::text(const QStringList &lines)
{
    QString text;
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const QString &line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

QString PaddingStatements::len(const QString &column) const
{
    const QString function = m_dialect == Dialect::SqlServer ? QStringLiteral("len") : QStringLiteral("length");
    return function + QStringLiteral("(rtrim(") + column + QStringLiteral("))");
}

QString PaddingStatements::compared(const QString &column) const
{
    const bool untrimmed = column.endsWith(QLatin1String("pe_passwd")) ? m_untrimmedPasswords : m_untrimmedCardNumbers;
    if (m_dialect == Dialect::SqlServer || !untrimmed)
        return column;
    return QStringLiteral("rtrim(") + column + u')';
}

QString PaddingStatements::concat(const QString &zeros, const QString &column) const
{
    const QString op = m_dialect == Dialect::SqlServer ? QStringLiteral("+") : QStringLiteral("||");
    return u'\'' + zeros + u'\'' + op + QStringLiteral("rtrim(") + column + u')';
}

QStringList PaddingStatements::transactionSettings() const
{
    if (m_dialect == Dialect::PostgreSQL)
        return {QStringLiteral("set local work_mem = '64MB'")};
    return {};
}

QStringList PaddingStatements::lockTables(Dialect server)
{
    switch (server) {
    case Dialect::PostgreSQL:
        return {QStringLiteral("lock table lib_people, lib_jieshu in exclusive mode")};
    case Dialect::SQLite:
        return {QStringLiteral("update lib_people set pe_id=pe_id where 0")};
    case Dialect::SqlServer:
        break;
    }
    return {QStringLiteral("select (select count(*) from lib_people with (tablockx, holdlock)),"),
            QStringLiteral("       (select count(*) from lib_jieshu with (tablockx, holdlock))")};
}

QStringList PaddingStatements::markPasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=''"),
            QStringLiteral("where ") + compared(QStringLiteral("pe_id")) + u'=' + compared(QStringLiteral("pe_passwd"))};
}

QStringList PaddingStatements::collisionScan(int n, const QString &zeros) const
{
    return {selectCardNumber() + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + len(QStringLiteral("pe_id")) + u'=' + QString::number(n),
            QStringLiteral("  and ") + concat(zeros, QStringLiteral("pe_id")) + QStringLiteral(" in ("),
            QStringLiteral("      select ") + compared(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people)")};
}

QStringList PaddingStatements::pad(const QString &table, const QString &column, int n, const QString &zeros) const
{
    const QString padded = concat(zeros, column);
    QStringList lines{QStringLiteral("update ") + table + QStringLiteral(" set"), QStringLiteral("  ") + column + u'=' + padded,
                      QStringLiteral("where ") + len(column) + u'=' + QString::number(n)};
    if (m_dialect == Dialect::PostgreSQL) {
        // The readers inside get a name of their own, so that the column on the right means the row
        // being updated also when the table updated is lib_people itself.
        lines << QStringLiteral("  and not exists (")
              << QStringLiteral("      select 1 from lib_people p where ") + compared(QStringLiteral("p.pe_id")) + u'='
                     + concat(zeros, table + u'.' + column) + u')';
    } else {
        lines << QStringLiteral("  and ") + padded + QStringLiteral(" not in (")
              << QStringLiteral("      select ") + compared(QStringLiteral("pe_id")) + QStringLiteral(" from lib_people)");
    }
    return lines;
}

QStringList PaddingStatements::padLoans(int n, const QString &zeros) const
{
    return pad(QStringLiteral("lib_jieshu"), QStringLiteral("js_libcard"), n, zeros);
}

QStringList PaddingStatements::padReaders(int n, const QString &zeros) const
{
    return pad(QStringLiteral("lib_people"), QStringLiteral("pe_id"), n, zeros);
}

QString PaddingStatements::passwordEmpty() const
{
    return compared(QStringLiteral("pe_passwd")) + QStringLiteral("=''");
}

QString PaddingStatements::selectCardNumber() const
{
    // SQLite's ODBC driver types a result column of no declared type by the first row's value: after
    // an integer it would read the text "07" as the number 7. The cast gives every row as text.
    return m_dialect == Dialect::SQLite ? QStringLiteral("select cast(pe_id as text)") : QStringLiteral("select pe_id");
}

QStringList PaddingStatements::restorePasswords() const
{
    return {QStringLiteral("update lib_people set pe_passwd=pe_id"), QStringLiteral("where ") + passwordEmpty()};
}

QStringList PaddingStatements::readersWithEmptyPassword() const
{
    return {selectCardNumber() + QStringLiteral(" from lib_people"), QStringLiteral("where ") + passwordEmpty()};
}

QStringList PaddingStatements::readersToPad(int n, const QString &zeros) const
{
    QStringList lines{selectCardNumber() + QStringLiteral(", case when ") + passwordEmpty()
                      + QStringLiteral(" then 1 else 0 end from lib_people")};
    lines << padReaders(n, zeros).mid(2);
    return lines;
}

QStringList PaddingStatements::shortLoanCards(int limit) const
{
    const QString length = len(QStringLiteral("js_libcard"));
    return {QStringLiteral("select rtrim(js_libcard), count(*) from lib_jieshu"),
            QStringLiteral("where ") + length + QStringLiteral(">=1 and ") + length + u'<' + QString::number(limit),
            QStringLiteral("group by rtrim(js_libcard)")};
}

QStringList PaddingStatements::readersAmong(const QStringList &numbers) const
{
    QStringList quoted;
    for (QString number : numbers)
        quoted << u'\'' + number.replace(u'\'', QStringLiteral("''")) + u'\'';
    return {selectCardNumber() + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + compared(QStringLiteral("pe_id")) + QStringLiteral(" in (") + quoted.join(u',') + u')'};
}

QStringList PaddingStatements::countReadersWithoutNumber() const
{
    return {QStringLiteral("select count(*) from lib_people"), QStringLiteral("where pe_id is null")};
}

QStringList PaddingStatements::cardLengths(int limit) const
{
    const QString people = len(QStringLiteral("pe_id"));
    const QString loans = len(QStringLiteral("js_libcard"));
    if (cardLengthsAsMasks()) {
        const QString mask = QStringLiteral("select bit_or(1::bigint << least(%1, %2))");
        const QString bit = QString::number(MaskOverflowBit);
        return {mask.arg(people, bit) + QStringLiteral(" from lib_people"), QStringLiteral("union all"),
                mask.arg(loans, bit) + QStringLiteral(" from lib_jieshu")};
    }
    return {QStringLiteral("select distinct ") + people + QStringLiteral(" from lib_people"),
            QStringLiteral("where ") + people + QStringLiteral("<") + QString::number(limit),
            QStringLiteral("union"),
            QStringLiteral("select distinct ") + loans + QStringLiteral(" from lib_jieshu"),
            QStringLiteral("where ") + loans + QStringLiteral("<") + QString::number(limit)};
}

QStringList PaddingStatements::anyCardToPad(const QString &table, const QString &column, int length) const
{
    return {QStringLiteral("select case when exists ("),
            QStringLiteral("  select 1 from ") + table + QStringLiteral(" where ") + len(column)
                + QStringLiteral(" between 1 and ") + QString::number(qint64(length) - 1) + u')',
            QStringLiteral("then 1 else 0 end")};
}

QStringList PaddingStatements::longestPasswordSet(int length) const
{
    const QString people = len(QStringLiteral("pe_id"));
    return {QStringLiteral("select max(case when ") + people + QStringLiteral(" between 1 and ")
                + QString::number(qint64(length) - 1) + QStringLiteral(" then ") + QString::number(length)
                + QStringLiteral(" else ") + people + QStringLiteral(" end) from lib_people"),
            QStringLiteral("where ") + compared(QStringLiteral("pe_passwd")) + QStringLiteral("='' or ")
                + compared(QStringLiteral("pe_id")) + u'=' + compared(QStringLiteral("pe_passwd"))};
}

QStringList PaddingStatements::untrimmedValues() const
{
    // On SQLite a number differs from its rtrim()med text too.
    return {QStringLiteral("select case when exists (select 1 from lib_people where pe_id<>rtrim(pe_id)) then 1 else 0 end,"),
            QStringLiteral("       case when exists (select 1 from lib_people where pe_passwd<>rtrim(pe_passwd)) then 1 else 0 end")};
}

QStringList PaddingStatements::declaredColumnTypes(const QString &table) const
{
    return {QStringLiteral("pragma table_info(") + table + u')'};
}

bool PaddingStatements::sqliteNumericAffinity(const QString &declaredType)
{
    // SQLite's rules, in their order: INT gives integer affinity; CHAR, CLOB or TEXT text; BLOB or
    // no type none; REAL, FLOA or DOUB real; anything else (numeric, decimal, date, string, ...)
    // numeric.
    const QString type = declaredType.toUpper();
    if (type.contains(QLatin1String("INT")))
        return true;
    for (const char *text : {"CHAR", "CLOB", "TEXT", "BLOB"}) {
        if (type.contains(QLatin1String(text)))
            return false;
    }
    return !type.trimmed().isEmpty();
}
