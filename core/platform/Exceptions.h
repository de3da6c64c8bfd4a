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

// Anything the database or its driver refused; the message is the driver's own text.
class EDatabaseError : public NorvelError
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
