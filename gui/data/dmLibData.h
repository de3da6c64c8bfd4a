#pragma once

#include "connection/LibConnection.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>

class TFlash;

// The data module: owns the program's one database connection, LibDB.
//
// The connection opens while the module is created. Just before, LibDBBeforeConnect reads the
// stored settings (data source name, login in digit form) from the per-machine store, sets the
// connecting status text and puts up the splash; just after a successful open, LibDBAfterConnect
// removes the splash and sets the status to "OK". A failed open raises EDatabaseError and leaves
// nothing behind (the splash goes with the module).
class TLibDM : public QObject
{
    Q_OBJECT

public:
    // The parameter list of the design (the connection's name, the settings key and the design
    // data source are LibConnection's).
    static inline const QStringList DesignParams = {QStringLiteral("USER NAME=") + LibConnection::DesignUser,
                                                    QStringLiteral("PASSWORD=")};

    enum class Open { Now, Later };

    // Creates the module and, unless told otherwise, opens the connection (raises on failure).
    explicit TLibDM(QObject *parent = nullptr);
    TLibDM(Open when, QObject *parent = nullptr);
    ~TLibDM() override;

    // Opens the connection: before-connect, the open itself, after-connect.
    void open();

    QSqlDatabase LibDB() const;
    const QString &aliasName() const { return m_aliasName; }
    const QStringList &params() const { return m_params; }
    // The value of a "NAME=value" line of the parameter list.
    QString param(const QString &name) const;
    // The server behind the open connection, as its ODBC driver names it.
    QString dbmsName() const;
    bool splashShown() const { return m_flash != nullptr; }

    void LibDBBeforeConnect();
    void LibDBAfterConnect();

    // The first step of LibDBBeforeConnect: the stored data source name and login, when the
    // settings key exists, replace the design values.
    void readStoredSettings();

private:
    // The named connection exists exactly as long as the module, even when creating it fails.
    LibConnection m_connection;
    QString m_aliasName = LibConnection::DesignAlias;
    QStringList m_params = DesignParams;
    std::unique_ptr<TFlash> m_flash;
};
