#pragma once

#include <QString>

// What SQLite's catalogue does not answer by query: the collation a column was declared with.
// SQLite keeps the CREATE TABLE text as it was written; this reads a column's definition in it.
namespace SqliteSchema {

// The collation named in the definition of `column` (COLLATE <name>), lower case, or an empty text
// when the definition names none (SQLite then compares binary). Identifiers compare without regard
// to case, quoted ones ("…", […], `…`) included; comments are skipped.
QString declaredCollation(const QString &createTable, const QString &column);

} // namespace SqliteSchema
