#pragma once

#include <QSqlDatabase>
#include <QString>

#include <optional>

// The program's one connection to the library database, "LibDB", and the stored settings that say
// where it goes. Both front ends use it: the window program through its data module (which adds the
// splash and the status text), norvel-pad directly.
//
// An object registers the named connection for as long as it lives, even when opening fails.
class LibConnection
{
public:
    // The name by which queries reach the connection.
    static inline const QString DatabaseName = QStringLiteral("LibDB");
    // Where the connection settings are stored, and the name the settings dialog shows.
    static inline const QString VendorKey = QStringLiteral("SOFTWARE\\Kestavo");
    static inline const QString SettingsName = QStringLiteral("Lib");
    static inline const QString SettingsKey = VendorKey + u'\\' + SettingsName;
    // The design values, used when no settings are stored.
    static inline const QString DesignAlias = QStringLiteral("LibODBC");
    static inline const QString DesignUser = QStringLiteral("sa");
    // The wait for a server that does not answer is bounded (seconds; ODBC's usual login timeout).
    static constexpr int LoginTimeoutSeconds = 15;
    // Why a login without a data source name connects to nothing.
    static inline const QString NoDataSourceMessage = QStringLiteral("没有指定ODBC数据源：设置中的数据源名称为空");

    struct Login
    {
        QString alias = DesignAlias;
        QString user = DesignUser;
        QString password;
    };

    // The stored data source name and login (trimmed, the login decoded from its digit form), or
    // nothing when the settings key does not exist or cannot be read. Raises ERegistryException for a
    // value of the wrong type and EConvertError for a login that is not in digit form.
    static std::optional<Login> storedLogin();

    LibConnection();
    ~LibConnection();
    LibConnection(const LibConnection &) = delete;
    LibConnection &operator=(const LibConnection &) = delete;

    QSqlDatabase database() const;
    // Opens the data source with the login, waiting at most LoginTimeoutSeconds for the server.
    // Raises EUnsafeSettings before connecting for a data source name that could be more than a
    // name, or a login the data source's driver cannot be given exactly (OdbcLogin.h), and
    // EDatabaseError with the driver's text when the open fails.
    void open(const Login &login);
    // The server behind the open connection, as its ODBC driver names it.
    QString dbmsName() const;
};
