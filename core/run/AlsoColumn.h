#pragma once

#include "run/CardSql.h"

#include <QList>
#include <QString>

#include <optional>

// A column of another table that holds readers' card numbers and that the run pads with the loans
// (by the loans' rule: a number gets its zeros unless the padded number is another reader's),
// given as TABLE.COLUMN or SCHEMA.TABLE.COLUMN. The names go into statements only as quoted
// identifiers, and only once the catalogue has them (RunChecks).
struct AlsoColumn
{
    QString schema;
    QString table;
    QString column;

    QString name() const { return (schema.isEmpty() ? QString() : schema + u'.') + table + u'.' + column; }
    // The table and the column as the server names them in a statement.
    QString tableIdentifier(CardSql::Dialect dialect) const;
    QString columnIdentifier(CardSql::Dialect dialect) const;

    bool operator==(const AlsoColumn &other) const = default;

    // Reads "TABLE.COLUMN" or "SCHEMA.TABLE.COLUMN" (names of letters, digits, _ and $, or anything
    // but a dot in double quotes); nothing, with the reason, otherwise.
    static std::optional<AlsoColumn> parse(const QString &text, QString *why = nullptr);
    // A comma-separated list of such names (the settings' ALSO value).
    static std::optional<QList<AlsoColumn>> parseList(const QString &text, QString *why = nullptr);
};
