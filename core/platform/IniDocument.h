#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A settings file in the INI form of Qt's native settings format on Linux, read and changed line by
// line, so that what a person wrote into it stays as it was when the program changes a value.
//
// Reading follows Qt's rules for everything Qt writes: a value may be quoted ("...") and carry
// backslash escapes, a leading "@@" stands for "@", text is UTF-8, an unquoted comma makes a list,
// and "@ByteArray(...)", "@Variant(...)" and the like stand for values of other types. Keys of the
// General section are the lines before the first section header and those under [General] (in
// any case, with blanks around the name); a later line for the same key wins over an earlier one.
// Unlike Qt, a value never goes on beyond its line (an open quote or a backslash at the end of a
// line ends with the line). A UTF-8 byte-order mark, blank lines, comment lines starting with ";"
// or "#", lines without "=" and the rest of a line after an unquoted ";" are ignored. A section
// header without its "]" names the section all the same.
//
// Changing a value rewrites only the value's own line (what stands around the value on it stays);
// a value the General section does not have yet is added after its last value (or its header),
// and a file without a General section gets one at its end. New lines take the file's line ends.
// Section headers missing their "]" get it, so that Qt reads the file without a format error.
class IniDocument
{
public:
    enum class Type {
        Missing,   // no such key in the General section
        String,    // a plain text value
        Other,     // a list, a byte array or another kind of value
    };
    struct Value
    {
        Type type = Type::Missing;
        QString text;   // the text of a String value
    };

    IniDocument() = default;
    explicit IniDocument(const QByteArray &content);

    // A value of the General section.
    Value value(const QString &key) const;
    // Sets a value of the General section to a text, written as Qt writes it.
    void setString(const QString &key, const QString &text);

    // The whole file.
    QByteArray content() const;

private:
    struct Line
    {
        QByteArray text;   // without its line end
        QByteArray end;    // "\n", "\r\n", "\r", or empty for a last line without one
    };

    QByteArray m_bom;
    QList<Line> m_lines;
    QByteArray m_newline = "\n";
};
