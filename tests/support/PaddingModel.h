#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The padding rules written down a second time, plainly, to predict what a run leaves in the two
// tables: mark passwords, passes n = 1 .. L-1 (every one of them), restore passwords.
// Card numbers compare and measure after removing trailing blanks; a NULL is a null QString.
namespace model {

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
    // The collisions, pass by pass (within a pass in table order).
    QList<QStringList> collisionsByPass;
    QStringList collisions() const;
};

Outcome run(const Library &before, int length);

// The statements that make the two tables afresh and fill them with `lib` (the card-number
// columns of the given types; loans numbered from 1).
QStringList tableStatements(const Library &lib, const QString &readerCardType = QStringLiteral("varchar(20)"),
                            const QString &loanCardType = QStringLiteral("varchar(20)"));

// Canonical forms for comparing with what a database returns: trailing blanks removed, sorted.
QStringList canonicalReaders(const QList<Reader> &readers);
QStringList canonicalLoans(const QStringList &loans);

} // namespace model
