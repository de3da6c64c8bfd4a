#include "support/PaddingModel.h"

#include <QSet>

#include <algorithm>

namespace model {

constexpr QChar IntegerMark = u'#';

QString shown(const QString &value)
{
    return value.startsWith(IntegerMark) ? value.mid(1) : value;
}

namespace {

QString rtrim(const QString &value)
{
    if (value.isNull())
        return value;
    const QString s = shown(value);
    qsizetype end = s.size();
    while (end > 0 && s[end - 1] == u' ')
        --end;
    return s.left(end);
}

qsizetype len(const QString &s)
{
    return rtrim(s).size();
}

QSet<QString> idSet(const QList<Reader> &readers, Fold fold)
{
    QSet<QString> ids;
    for (const Reader &r : readers) {
        if (!r.id.isNull())
            ids.insert(key(r.id, fold));
    }
    return ids;
}

} // namespace

QString key(const QString &value, Fold fold)
{
    if (value.isNull())
        return value;
    QString s = rtrim(value);
    switch (fold) {
    case Fold::Binary:
        break;
    case Fold::AsciiCase:
        for (QChar &c : s) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + 32);
        }
        break;
    case Fold::CaseAndWidth:
        // The full-width forms of ASCII (U+FF01 .. U+FF5E) are the ASCII characters.
        for (QChar &c : s) {
            if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
                c = QChar(c.unicode() - 0xFF01 + 0x21);
        }
        s = s.toLower();
        break;
    case Fold::UnicodeCase:
        s = s.toLower();
        break;
    }
    return s;
}

QString integer(qint64 value)
{
    return IntegerMark + QString::number(value);
}

QStringList Outcome::collisions() const
{
    QStringList all;
    for (const QStringList &pass : collisionsByPass)
        all += pass;
    return all;
}

Outcome run(const Library &before, int length, Fold fold)
{
    Outcome out;
    Library lib = before;
    for (Reader &r : lib.readers) {
        if (!r.id.isNull() && !r.password.isNull() && key(r.id, fold) == key(r.password, fold))
            r.password = QStringLiteral("");
    }
    for (int n = 1; n < length; ++n) {
        // The first L - n characters of the program's literal of 12 zeros.
        const QString zeros = QStringLiteral("000000000000").left(length - n);
        const QSet<QString> ids = idSet(lib.readers, fold);
        QStringList collisions;
        for (const Reader &r : lib.readers) {
            if (!r.id.isNull() && len(r.id) == n && ids.contains(key(zeros + rtrim(r.id), fold)))
                collisions << rtrim(r.id);
        }
        out.collisionsByPass << collisions;
        for (QString &card : lib.loans) {
            if (!card.isNull() && len(card) == n && !ids.contains(key(zeros + rtrim(card), fold)))
                card = zeros + rtrim(card);
        }
        for (Reader &r : lib.readers) {
            if (!r.id.isNull() && len(r.id) == n && !ids.contains(key(zeros + rtrim(r.id), fold)))
                r.id = zeros + rtrim(r.id);
        }
    }
    for (Reader &r : lib.readers) {
        if (!r.password.isNull() && rtrim(r.password).isEmpty())
            r.password = r.id;
    }
    out.after = lib;
    return out;
}

namespace {

QString sqlLiteral(const QString &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.startsWith(IntegerMark))
        return value.mid(1);
    QString escaped = value;
    escaped.replace(u'\'', QStringLiteral("''"));
    return u'\'' + escaped + u'\'';
}

} // namespace

QStringList tableStatements(const Library &lib, const Columns &columns)
{
    QStringList sql{QStringLiteral("drop table if exists lib_people"), QStringLiteral("drop table if exists lib_jieshu"),
                    QStringLiteral("create table lib_people (pe_id %1, pe_passwd %2, pe_name varchar(20))")
                        .arg(columns.readerCard, columns.password),
                    QStringLiteral("create table lib_jieshu (js_id integer, js_libcard %1, js_book varchar(20))")
                        .arg(columns.loanCard)};
    for (const Reader &r : lib.readers)
        sql << QStringLiteral("insert into lib_people values (%1, %2, 'x')").arg(sqlLiteral(r.id), sqlLiteral(r.password));
    int loanId = 0;
    for (const QString &card : lib.loans)
        sql << QStringLiteral("insert into lib_jieshu values (%1, %2, 'b')").arg(++loanId).arg(sqlLiteral(card));
    return sql;
}

QStringList canonicalReaders(const QList<Reader> &readers)
{
    QStringList rows;
    for (const Reader &r : readers) {
        rows << (r.id.isNull() ? QStringLiteral("<null>") : rtrim(r.id)) + u'|'
                    + (r.password.isNull() ? QStringLiteral("<null>") : rtrim(r.password));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList canonicalLoans(const QStringList &loans)
{
    QStringList rows;
    for (const QString &card : loans)
        rows << (card.isNull() ? QStringLiteral("<null>") : rtrim(card));
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace model
