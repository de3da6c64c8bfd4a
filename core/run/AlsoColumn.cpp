#include "run/AlsoColumn.h"

#include "run/ReferenceScan.h"

QString AlsoColumn::tableIdentifier(CardSql::Dialect dialect) const
{
    const QString name = ReferenceScan::quoted(table, dialect);
    return schema.isEmpty() ? name : ReferenceScan::quoted(schema, dialect) + u'.' + name;
}

QString AlsoColumn::columnIdentifier(CardSql::Dialect dialect) const
{
    return ReferenceScan::quoted(column, dialect);
}

std::optional<AlsoColumn> AlsoColumn::parse(const QString &text, QString *why)
{
    const auto refuse = [&](const QString &reason) -> std::optional<AlsoColumn> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    QStringList parts;
    QString part;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    part += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                part += c;
            }
        } else if (c == u'"' && part.isEmpty() && !wasQuoted) {
            quoted = true;
            wasQuoted = true;
        } else if (c == u'.') {
            parts << part;
            part.clear();
            wasQuoted = false;
        } else if (!wasQuoted && (c.isLetterOrNumber() || c == u'_' || c == u'$')) {
            part += c;
        } else {
            return refuse(QStringLiteral("“%1”不是“表.字段”形式的名称").arg(text));
        }
    }
    if (quoted)
        return refuse(QStringLiteral("“%1”中的引号没有配对").arg(text));
    parts << part;
    if (parts.size() < 2 || parts.size() > 3 || parts.contains(QString()))
        return refuse(QStringLiteral("“%1”不是“表.字段”形式的名称").arg(text));
    AlsoColumn also;
    if (parts.size() == 3)
        also.schema = parts.takeFirst();
    also.table = parts[0];
    also.column = parts[1];
    return also;
}

std::optional<QList<AlsoColumn>> AlsoColumn::parseList(const QString &text, QString *why)
{
    QList<AlsoColumn> columns;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts)) {
        const std::optional<AlsoColumn> column = parse(item.trimmed(), why);
        if (!column)
            return std::nullopt;
        if (!columns.contains(*column))
            columns << *column;
    }
    return columns;
}
