#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The padding rules written down a second time, plainly, to predict what a run leaves in the two
// tables: mark passwords, passes n = 1 .. L-1 (every one of them), restore passwords.
// Card numbers and passwords compare and measure as SQL Server compares them, after removing
// trailing blanks (a blank-only password is empty), and as the server's collation folds them
// (Fold); a NULL is a null QString.
// A value written "#1234567" (see integer()) is put into the tables as the integer 1234567: SQLite
// keeps it an integer in a column without a declared type, other columns turn it into text. It is
// the card number or password "1234567" everywhere.
namespace model {

QString integer(qint64 value);
// The text a value shows: an integer's digits, any other value itself.
QString shown(const QString &value);

struct Reader
{
    QString id;
    QString password;
};

struct Library
{
    QList<Reader> readers;
    QStringList loans;
};

struct Outcome
{
    Library after;
    // The collisions (the numbers as they show, without trailing blanks), pass by pass (within a
    // pass in table order).
    QList<QStringList> collisionsByPass;
    QStringList collisions() const;
};

// How a server's comparison folds card numbers: not at all (binary), ASCII letters' case (SQLite's
// nocase), every letter's case (PostgreSQL's citext), or case and width, so that full-width digits
// and letters equal the ASCII ones (SQL Server's Chinese_PRC_CI_AS, a PostgreSQL ICU collation at
// level 2).
enum class Fold { Binary, AsciiCase, UnicodeCase, CaseAndWidth };
// A value as the server compares it: trailing blanks removed, folded.
QString key(const QString &value, Fold fold);

Outcome run(const Library &before, int length, Fold fold = Fold::Binary);

// The declared types of the columns the run uses; an empty type declares none (SQLite).
struct Columns
{
    QString readerCard = QStringLiteral("varchar(20)");
    QString loanCard = QStringLiteral("varchar(20)");
    QString password = QStringLiteral("varchar(20)");
};

// The statements that make the two tables afresh and fill them with `lib` (loans numbered from 1).
QStringList tableStatements(const Library &lib, const Columns &columns = {});

// Canonical forms for comparing with what a database returns: the text a value shows, trailing
// blanks removed, sorted.
QStringList canonicalReaders(const QList<Reader> &readers);
QStringList canonicalLoans(const QStringList &loans);

} // namespace model
