#pragma once

#include <QByteArray>
#include <QString>

// The system's 8-bit text encoding: the code set of the user's locale (GBK on a Chinese
// GBK locale, UTF-8 on the usual Linux locale). Where a text becomes bytes that are stored or
// handed on (the stored login, the connection), it goes through this encoding, as the program
// has always worked on the system code page.
class AnsiCodec
{
public:
    // The locale's code set; a plain C/POSIX locale (ASCII) counts as UTF-8, as it does for Qt.
    static const AnsiCodec &system();

    explicit AnsiCodec(QByteArray codeset);

    bool isUtf8() const { return m_utf8; }

    // Characters the code set cannot hold become "?"; bytes it cannot read become U+FFFD.
    QByteArray fromUnicode(const QString &text) const;
    QString toUnicode(const QByteArray &bytes) const;

private:
    QByteArray m_codeset;
    bool m_utf8 = true;
};

inline QByteArray toAnsi(const QString &text) { return AnsiCodec::system().fromUnicode(text); }
inline QString fromAnsi(const QByteArray &bytes) { return AnsiCodec::system().toUnicode(bytes); }
