#include "run/TableLocks.h"

#include "db/CancelTimer.h"
#include "platform/Exceptions.h"

namespace {

[[noreturn]] void lockTimedOut(const QString &how)
{
    throw EAbort(QStringLiteral("%1也没能锁定表lib_people和lib_jieshu：另一个会话（借还台或另一次处理）"
                                "正在改动它们，系统没有做任何改动。请稍后再试")
                     .arg(how));
}

} // namespace

void lockLibraryTables(StatementRunner &sql, PaddingStatements::Dialect server, int timeoutSeconds)
{
    const CancelTimer timer(timeoutSeconds);
    try {
        sql.exec(PaddingStatements::lockTables(server));
    } catch (const EInterrupted &) {
        if (!timer.fired())
            throw;
        lockTimedOut(QStringLiteral("等了%1秒").arg(timeoutSeconds));
    } catch (const EDatabaseError &error) {
        if (server != PaddingStatements::Dialect::SQLite || !PaddingStatements::isSqliteBusy(error.message()))
            throw;
        lockTimedOut(QStringLiteral("等到了数据源设置的等待时间(Timeout)"));
    }
}
