#include "connection/OdbcConnection.h"

#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <sql.h>
#include <sqlext.h>

void *odbcConnectionHandle(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || handle.typeId() != QMetaType::VoidStar)
        return nullptr;
    return *static_cast<void *const *>(handle.constData());
}

namespace {

QString odbcInfo(const QSqlDatabase &db, SQLUSMALLINT infoType)
{
    SQLHANDLE hdbc = odbcConnectionHandle(db);
    if (!hdbc)
        return {};
    SQLWCHAR text[256] = {};
    SQLSMALLINT bytes = 0;
    const SQLRETURN r = SQLGetInfoW(static_cast<SQLHDBC>(hdbc), infoType, text, sizeof text, &bytes);
    if (!SQL_SUCCEEDED(r))
        return {};
    // unixODBC's SQLWCHAR is UTF-16.
    const qsizetype units = std::min<qsizetype>(bytes / static_cast<qsizetype>(sizeof(SQLWCHAR)), 255);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), units);
}

} // namespace

QString odbcDbmsName(const QSqlDatabase &db)
{
    return odbcInfo(db, SQL_DBMS_NAME);
}

QString odbcDbmsVersion(const QSqlDatabase &db)
{
    return odbcInfo(db, SQL_DBMS_VER);
}

QString odbcDatabaseName(const QSqlDatabase &db)
{
    return odbcInfo(db, SQL_DATABASE_NAME);
}

bool odbcTypeIsNumeric(int sqlType)
{
    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
        return true;
    default:
        return false;
    }
}
