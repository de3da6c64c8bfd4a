#pragma once

#include <QString>
#include <stdexcept>

// The program reports every failure as an exception carrying the text the user reads.
// Handlers do not catch them: they travel to the application's error box (NorvelApplication).
class NorvelError : public std::runtime_error
{
public:
    explicit NorvelError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

// A text that is not an integer ("'%s' is not a valid integer value").
class EConvertError : public NorvelError
{
public:
    using NorvelError::NorvelError;
};

// The per-machine settings store ("Failed to create key %s", "Failed to set data for '%s'", ...).
class ERegistryException : public NorvelError
{
public:
    using NorvelError::NorvelError;
};

// Anything the database or its driver refused; the message is the driver's own text, and the
// SQLSTATE of its first diagnostic where the driver gave one.
class EDatabaseError : public NorvelError
{
public:
    explicit EDatabaseError(const QString &message, const QString &sqlState = {})
        : NorvelError(message), m_sqlState(sqlState) {}
    const QString &sqlState() const noexcept { return m_sqlState; }

private:
    QString m_sqlState;
};

// A statement that was cancelled on request (an interrupt of the terminal command): it did not
// complete, and the transaction it belonged to is rolled back.
class EInterrupted : public EDatabaseError
{
public:
    using EDatabaseError::EDatabaseError;
};

// The commit was sent but did not come back as done: the connection broke, the server stopped.
// Whether the changes were committed is not known; the message says how to find out.
class ECommitUnknown : public NorvelError
{
public:
    using NorvelError::NorvelError;
};

// Connection settings the program will not use, because they could make it do something else than
// open a data source with a login: a data source name that the ODBC layer would read as a driver, a
// file or more settings; a login that cannot reach the server exactly as it is; a settings file
// that others than root may change, read by root. The message says which value or file and why.
class EUnsafeSettings : public NorvelError
{
public:
    using NorvelError::NorvelError;
};

// A check of the program's own that stops an operation before it changes anything.
class EAbort : public NorvelError
{
public:
    using NorvelError::NorvelError;
};
