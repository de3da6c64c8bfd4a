#pragma once

#include <QSqlDatabase>

// One transaction on the library connection, from begin to commit or rollback.
//
// Begun when made (autocommit off). Left without a commit, it rolls back. A rollback that fails
// leaves the connection in a state nobody knows (the driver may still think a transaction is open,
// and later statements would each commit on their own), so the connection is closed and nothing
// more runs on it. A commit that fails is an unknown outcome: the server may have committed before
// the answer was lost. The connection is closed then too, and ECommitUnknown says so.
class Transaction
{
public:
    // Raises EDatabaseError when the transaction cannot begin.
    explicit Transaction(QSqlDatabase db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Raises ECommitUnknown when the commit does not come back as done.
    void commit();
    // Raises EDatabaseError when the rollback fails (the connection is closed then).
    void rollBack();

    bool isOpen() const { return m_open; }

private:
    QSqlDatabase m_db;
    bool m_open = false;
};
