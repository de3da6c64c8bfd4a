#include "db/Transaction.h"

#include "platform/Exceptions.h"

#include <QSqlError>

namespace {

QString errorText(const QSqlError &error, const QString &fallback)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? fallback : text;
}

} // namespace

Transaction::Transaction(QSqlDatabase db) : m_db(std::move(db))
{
    if (!m_db.transaction())
        throw EDatabaseError(errorText(m_db.lastError(), QStringLiteral("Unable to begin a transaction")));
    m_open = true;
}

Transaction::~Transaction()
{
    if (m_open) {
        m_open = false;
        if (!m_db.rollback())
            m_db.close();
    }
}

void Transaction::commit()
{
    m_open = false;
    if (m_db.commit())
        return;
    const QString why = errorText(m_db.lastError(), QStringLiteral("Unable to commit transaction"));
    m_db.close();
    throw ECommitUnknown(why);
}

void Transaction::rollBack()
{
    m_open = false;
    if (m_db.rollback())
        return;
    const QString why = errorText(m_db.lastError(), QStringLiteral("Unable to roll back transaction"));
    m_db.close();
    throw EDatabaseError(why);
}
