#include "connection/OdbcLogin.h"

#include "platform/Exceptions.h"

#include <QByteArray>
#include <QFileInfo>

#include <odbcinst.h>

#include <utility>

namespace {

QString profileString(const QString &section, const char *key, const char *file)
{
    char value[1024] = {};
    const QByteArray name = section.toUtf8();
    const int length = SQLGetPrivateProfileString(name.constData(), key, "", value, sizeof value, file);
    if (length <= 0)
        return {};
    return QString::fromUtf8(value, qstrnlen(value, sizeof value));
}

// A value as a message shows it: characters that do not print are written as their code.
QString shown(const QString &value)
{
    QString text;
    for (const QChar ch : value) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            text += QStringLiteral("\\x%1").arg(static_cast<uint>(ch.unicode()), 2, 16, QChar(u'0'));
        else
            text += ch;
    }
    return text;
}

// ODBC's quoting: in braces, every "}" doubled.
QString braced(const QString &value)
{
    QString inner = value;
    inner.replace(u'}', QStringLiteral("}}"));
    return u'{' + inner + u'}';
}

// A value of libpq's connection parameters: in single quotes, "'" and "\" escaped by "\".
QString libpqQuoted(const QString &value)
{
    QString inner = value;
    inner.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + inner + u'\'';
}

enum class Part { User, Password };

QString partName(Part part)
{
    return part == Part::User ? QStringLiteral("登录名") : QStringLiteral("密码");
}

void refuse(const QString &dataSource, Part part, const QString &why)
{
    throw EUnsafeSettings(QStringLiteral("数据源%1的%2%3，无法原样传给数据库服务器；程序不用它登录，以免用另一个登录名或密码登录")
                              .arg(dataSource, partName(part), why));
}

void refuseZero(const QString &value, const QString &dataSource, Part part)
{
    if (value.contains(QChar(0)))
        refuse(dataSource, part, QStringLiteral("含有空字符（U+0000）"));
}

} // namespace

QString odbcDataSourceSetting(const QString &dataSource, const QString &key)
{
    return profileString(dataSource, key.toUtf8().constData(), "odbc.ini");
}

QString odbcDriverLibrary(const QString &dataSource)
{
    const QString driver = odbcDataSourceSetting(dataSource, QStringLiteral("Driver"));
    if (driver.isEmpty() || driver.startsWith(u'/'))
        return driver;
    // The name of a driver entry; unixODBC prefers its 64-bit library where one is given.
    QString library = profileString(driver, "Driver64", "odbcinst.ini");
    if (library.isEmpty())
        library = profileString(driver, "Driver", "odbcinst.ini");
    return library.isEmpty() ? driver : library;
}

OdbcDriverKind odbcDriverKind(const QString &driverLibrary)
{
    // By the name it is installed under and, for a link, by the file it leads to.
    QStringList names{QFileInfo(driverLibrary).fileName()};
    const QFileInfo file(driverLibrary);
    if (file.isAbsolute() && file.isSymLink())
        names << QFileInfo(file.canonicalFilePath()).fileName();
    for (const QString &name : names) {
        if (name.startsWith(QStringLiteral("psqlodbc")))
            return OdbcDriverKind::PostgreSQL;
        if (name.startsWith(QStringLiteral("libtdsodbc")))
            return OdbcDriverKind::FreeTds;
        if (name.startsWith(QStringLiteral("libsqliteodbc")) || name.startsWith(QStringLiteral("libsqlite3odbc")))
            return OdbcDriverKind::SQLite;
    }
    return OdbcDriverKind::Other;
}

void checkDataSourceName(const QString &name)
{
    const auto refuseName = [&name](const QString &why) {
        throw EUnsafeSettings(QStringLiteral("数据源名称“%1”%2，不是单纯的ODBC数据源名称；程序不用它连接。"
                                             "请在设置中只写/etc/odbc.ini中描述的数据源的名称")
                                  .arg(shown(name), why));
    };
    static const QString forbidden = QStringLiteral("[]{}(),;?*=!@\\");
    for (const QChar ch : name) {
        if (forbidden.contains(ch))
            refuseName(QStringLiteral("含有字符“%1”（数据源名称中不能有%2）").arg(ch).arg(forbidden));
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            refuseName(QStringLiteral("含有控制字符"));
    }
    // Qt's ODBC driver reads such a name as a file data source, which may name any driver.
    if (name.contains(QStringLiteral(".dsn"), Qt::CaseInsensitive))
        refuseName(QStringLiteral("含有“.dsn”（会被当作文件数据源）"));
}

OdbcLoginText odbcLoginText(OdbcDriverKind kind, const QString &user, const QString &password,
                            const QString &dataSource, const QString &dataSourcePqopt)
{
    OdbcLoginText text;
    switch (kind) {
    case OdbcDriverKind::SQLite:
        // No login at all: the driver has no use for one, and any value could end up read as
        // another of its settings.
        return text;

    case OdbcDriverKind::PostgreSQL:
        refuseZero(user, dataSource, Part::User);
        refuseZero(password, dataSource, Part::Password);
        if (user.contains(u';') || user.startsWith(u'{')) {
            // UID would keep its braces: the name goes to libpq through "pqopt" (after the data
            // source's own, which it replaces), and UID is sent empty so that a user name in the
            // data source does not conflict with it. Qt writes ";UID=" before what is given here.
            QString options = dataSourcePqopt.trimmed();
            if (!options.isEmpty())
                options += u' ';
            options += QStringLiteral("user=") + libpqQuoted(user);
            text.user = QStringLiteral(";pqopt=") + braced(options);
        } else {
            text.user = user;
        }
        if (!password.isEmpty())
            text.password = braced(password);
        return text;

    case OdbcDriverKind::FreeTds:
        for (const auto &[value, part] : {std::pair{user, Part::User}, std::pair{password, Part::Password}}) {
            refuseZero(value, dataSource, part);
            if (value.contains(u'}'))
                refuse(dataSource, part, QStringLiteral("含有“}”（FreeTDS 1.3和驱动程序管理器读这个字符的方式不同）"));
        }
        text.user = user.isEmpty() ? QString() : u'{' + user + u'}';
        text.password = password.isEmpty() ? QString() : u'{' + password + u'}';
        break;

    case OdbcDriverKind::Other:
        refuseZero(user, dataSource, Part::User);
        refuseZero(password, dataSource, Part::Password);
        text.user = user.isEmpty() ? QString() : braced(user);
        text.password = password.isEmpty() ? QString() : braced(password);
        break;
    }
    // The last value of the string ends with ";", not with the string's closing zero.
    if (!text.password.isEmpty())
        text.password += u';';
    else if (!text.user.isEmpty())
        text.user += u';';
    return text;
}
