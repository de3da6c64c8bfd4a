#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a padding run changed, for the front ends that show it before and after (the terminal
// command): figures per card-number length, and, when asked for, one entry per changed card.

// What happened to a reader's password.
enum class PasswordChange {
    FollowsCard,    // it was the card number and is the new card number
    WasEmpty,       // it was empty and is now the card number
    Emptied,        // it was the card number and is now empty (an undo gives it back)
    Unchanged,
};

// Trailing blanks never count: a number is recorded without them.
inline QString withoutTrailingBlanks(QString number)
{
    qsizetype end = number.size();
    while (end > 0 && number.at(end - 1) == u' ')
        --end;
    number.truncate(end);
    return number;
}

// One changed card number: a reader (whose number or password changes), or a number found only
// in loans; or, so that the record answers which readers need work by hand, a reader left alone
// (its number with the zeros would be another card's: newNumber is that number).
struct ChangedCard
{
    ChangedCard() = default;
    ChangedCard(QString oldNumber_, QString newNumber_, bool reader_ = true, PasswordChange password_ = PasswordChange::Unchanged,
                qint64 loans_ = 0, qint64 joinedLoans_ = 0)
        : oldNumber(std::move(oldNumber_)), newNumber(std::move(newNumber_)), reader(reader_), password(password_), loans(loans_),
          joinedLoans(joinedLoans_)
    {
    }

    QString oldNumber;   // trailing blanks removed
    QString newNumber;   // equal to oldNumber when only the password changes
    bool reader = true;
    PasswordChange password = PasswordChange::Unchanged;
    qint64 loans = 0;    // loans that moved to the new number
    // Loans that were under the new number already (no reader had it) and now belong to this reader.
    qint64 joinedLoans = 0;
    bool leftAlone = false;
    // A column of another table padded with the loans (TABLE.COLUMN): the number's values there
    // (`loans` counts them); empty for loans.
    QString also;
};

// Receives the changed cards as the run finds them, before its commit.
class ChangeSink
{
public:
    virtual ~ChangeSink() = default;
    virtual void add(const ChangedCard &card) = 0;
};

// The figures of one pass: the card numbers of one length.
struct PassFigures
{
    int length = 0;
    qint64 readersPadded = 0;
    qint64 loansPadded = 0;
    qint64 readersLeftAlone = 0;
    qint64 passwordsFollowing = 0;
    // Loans already under a padded reader's new number before the pass, which now belong to it.
    qint64 loansJoined = 0;
    // Values of the columns of other tables padded with the loans.
    qint64 alsoPadded = 0;
};

// A short card number whose padded form differs from another reader's number only in case or
// width (on a server that tells them apart, the run makes both).
struct CaseTwin
{
    QString number;
    QString padded;
    QString other;
};

class PaddingReport
{
public:
    // With a sink, the run also lists every changed card; without, it only counts.
    explicit PaddingReport(ChangeSink *changes = nullptr) : m_changes(changes) {}

    ChangeSink *changes() const { return m_changes; }

    // Asks the run to look for case and width twins first (see CaseTwin).
    bool findCaseTwins = false;

    QList<PassFigures> passes;
    // Readers whose password was empty and is now their card number.
    qint64 emptyPasswordsFilled = 0;
    // Columns of other tables that follow the readers' card numbers by a cascading foreign key.
    QStringList cascadingColumns;
    QList<CaseTwin> caseTwins;
    // Above length 13 a number can be padded in two passes (twelve zeros, then the rest): what a
    // later pass counted again, which the totals count once.
    PassFigures countedAgain;

    PassFigures totals() const
    {
        PassFigures sum;
        sum.readersPadded = -countedAgain.readersPadded;
        sum.loansPadded = -countedAgain.loansPadded;
        sum.passwordsFollowing = -countedAgain.passwordsFollowing;
        sum.alsoPadded = -countedAgain.alsoPadded;
        for (const PassFigures &pass : passes) {
            sum.readersPadded += pass.readersPadded;
            sum.loansPadded += pass.loansPadded;
            sum.readersLeftAlone += pass.readersLeftAlone;
            sum.passwordsFollowing += pass.passwordsFollowing;
            sum.loansJoined += pass.loansJoined;
            sum.alsoPadded += pass.alsoPadded;
        }
        return sum;
    }

    void clear()
    {
        passes.clear();
        emptyPasswordsFilled = 0;
        cascadingColumns.clear();
        caseTwins.clear();
        countedAgain = PassFigures{};
    }

private:
    ChangeSink *m_changes;
};
