#include "run/RecordReader.h"

#include "run/ChangeRecord.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace RecordReader {

namespace {

// The rows of a CSV text: fields split at commas outside quotes, "" in quotes one quote, rows at
// line ends outside quotes.
QList<QStringList> csvRows(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == u'"') {
            quoted = true;
            any = true;
        } else if (c == u',') {
            row << field;
            field.clear();
            any = true;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            if (any || !field.isEmpty()) {
                row << field;
                rows << row;
            }
            row.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.isEmpty()) {
        row << field;
        rows << row;
    }
    return rows;
}

char passwordCode(const QString &text)
{
    if (text == ChangeRecord::passwordText(PasswordChange::FollowsCard, true))
        return 'F';
    if (text == ChangeRecord::passwordText(PasswordChange::WasEmpty, true))
        return 'E';
    if (text == ChangeRecord::passwordText(PasswordChange::Emptied, true))
        return 'X';
    return 'U';
}

} // namespace

std::optional<Result> parse(const QByteArray &content, QString *why)
{
    const auto refuse = [why](const QString &reason) -> std::optional<Result> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QStringList> rows = csvRows(QString::fromUtf8(bytes));
    if (rows.isEmpty() || rows.first() != ChangeRecord::Header)
        return refuse(QStringLiteral("第一行不是变更记录的标题行"));
    Result result;
    QHash<QString, qint64> joined;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QStringList &row = rows[i];
        if (row.size() != 5)
            return refuse(QStringLiteral("第%1行不是5列").arg(i + 1));
        bool ok = false;
        const qint64 loans = row[3].toLongLong(&ok);
        if (!ok || loans < 0)
            return refuse(QStringLiteral("第%1行的借阅记录数不是数字").arg(i + 1));
        ++result.rows;
        const QString oldNumber = ChangeRecord::cellValue(row[0]);
        const QString newNumber = ChangeRecord::cellValue(row[1]);
        const QString category = ChangeRecord::cellValue(row[4]);
        if (category == ChangeRecord::LeftAloneCategory) {
            ++result.leftAlone;
            continue;
        }
        if (category == ChangeRecord::JoinedCategory) {
            joined[newNumber] += loans;
            continue;
        }
        UndoCard card;
        card.oldNumber = oldNumber;
        card.newNumber = newNumber;
        card.password = passwordCode(ChangeRecord::cellValue(row[2]));
        card.loans = loans;
        if (category == ChangeRecord::LoanOnlyCategory) {
            card.kind = UndoCard::Kind::LoanOnly;
        } else if (category.startsWith(ChangeRecord::AlsoCategory) && category.size() > ChangeRecord::AlsoCategory.size()) {
            card.kind = UndoCard::Kind::AlsoOnly;
            card.also = category.mid(ChangeRecord::AlsoCategory.size());
            if (!result.alsoColumns.contains(card.also))
                result.alsoColumns << card.also;
        } else if (category != ChangeRecord::ReaderCategory) {
            return refuse(QStringLiteral("第%1行的类别“%2”不可读").arg(i + 1).arg(category));
        }
        result.cards << card;
    }
    // A column's values under a number that a reader or a loan card has go back with that card.
    QSet<QString> cardNumbers;
    for (const UndoCard &card : std::as_const(result.cards)) {
        if (card.kind != UndoCard::Kind::AlsoOnly)
            cardNumbers.insert(card.newNumber);
    }
    result.cards.removeIf([&](const UndoCard &card) { return card.kind == UndoCard::Kind::AlsoOnly && cardNumbers.contains(card.newNumber); });
    for (UndoCard &card : result.cards) {
        if (card.kind == UndoCard::Kind::Reader && card.oldNumber != card.newNumber)
            card.joinedLoans = joined.take(card.newNumber);
    }
    return result;
}

std::optional<Result> read(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (why)
            *why = file.errorString();
        return std::nullopt;
    }
    return parse(file.readAll(), why);
}

} // namespace RecordReader
