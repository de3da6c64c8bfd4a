#pragma once

#include "undo/UndoRun.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A run's record read back (the CSV that ChangeRecord writes), for the undo: every card the run
// changed, with what happened to its password, its loans and the loans that were under its new
// number before the run; readers left alone are read and need nothing.
namespace RecordReader {

struct Result
{
    QList<UndoCard> cards;
    qint64 rows = 0;         // data rows (the header not counted)
    qint64 leftAlone = 0;
    QStringList alsoColumns; // columns of other tables in the record's rows
};

// Reads the file; nothing, with the reason, when it is not a record this program wrote as it stands
// (the header, five columns, the kinds of rows it knows).
std::optional<Result> read(const QString &path, QString *why = nullptr);
// The same from the file's bytes.
std::optional<Result> parse(const QByteArray &content, QString *why = nullptr);

} // namespace RecordReader
