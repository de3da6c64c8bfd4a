#include "platform/IniDocument.h"

#include <QByteArrayView>
#include <QDataStream>
#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVariant>

#include <algorithm>

namespace {

const QByteArray ByteOrderMark = "\xef\xbb\xbf";

bool isBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

int octalDigit(char ch)
{
    return ch >= '0' && ch <= '7' ? ch - '0' : -1;
}

// One line of the file as the reader sees it.
struct ParsedLine
{
    enum Kind { Ignored, Header, Entry } kind = Ignored;
    // Header: whether it opens the General section, and where its missing "]" belongs.
    bool general = false;
    qsizetype missingBracket = -1;
    // Entry: the key, the value's text as written (from after the "=" to the end of the line or
    // an unquoted ";"), and the part of it that a new value replaces (without the blanks around).
    QString key;
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0;
    qsizetype replaceStart = 0;
    qsizetype replaceEnd = 0;
};

// Keys are UTF-8; "\" stands for "/", "%XX" and "%UXXXX" for the character with that code.
QString unescapedKey(QByteArrayView raw)
{
    const QString decoded = QString::fromUtf8(raw);
    QString key;
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar ch = decoded.at(i);
        if (ch == u'\\') {
            key += u'/';
            ++i;
            continue;
        }
        if (ch == u'%' && i + 1 < decoded.size()) {
            const bool wide = decoded.at(i + 1) == u'U';
            const qsizetype first = i + (wide ? 2 : 1);
            const qsizetype digits = wide ? 4 : 2;
            char16_t code = 0;
            bool ok = first + digits <= decoded.size();
            for (qsizetype d = first; ok && d < first + digits; ++d) {
                const QChar digit = decoded.at(d);
                const int value = digit.unicode() < 0x80 ? hexDigit(char(digit.unicode())) : -1;
                ok = value >= 0;
                code = char16_t(code * 16 + value);
            }
            if (ok) {
                key += QChar(code);
                i = first + digits;
                continue;
            }
        }
        key += ch;
        ++i;
    }
    return key;
}

QByteArray escapedKey(const QString &key)
{
    QByteArray out;
    for (const QChar qch : key) {
        const char16_t ch = qch.unicode();
        if (ch == u'/') {
            out += '\\';
        } else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'_'
                   || ch == u'-' || ch == u'.') {
            out += char(ch);
        } else if (ch <= 0xff) {
            out += '%' + QByteArray::number(ch, 16).toUpper().rightJustified(2, '0');
        } else {
            out += "%U" + QByteArray::number(ch, 16).toUpper().rightJustified(4, '0');
        }
    }
    return out;
}

ParsedLine parseLine(const QByteArray &text)
{
    ParsedLine parsed;
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size && isBlank(text[start]))
        ++start;
    if (start == size || text[start] == ';' || text[start] == '#')
        return parsed;

    // The line's content ends at a ";" outside quotes; the first "=" outside quotes divides key
    // and value; a backslash takes the next character along.
    qsizetype end = size;
    qsizetype equals = -1;
    bool inQuotes = false;
    for (qsizetype i = start; i < size; ++i) {
        const char ch = text[i];
        if (ch == '\\') {
            ++i;
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == '=' && !inQuotes) {
            if (equals < 0)
                equals = i;
        } else if (ch == ';' && !inQuotes) {
            end = i;
            break;
        }
    }
    const QByteArrayView content = QByteArrayView(text).sliced(start, end - start);

    if (content.startsWith('[')) {
        parsed.kind = ParsedLine::Header;
        qsizetype close = content.indexOf(']');
        if (close < 0) {
            close = content.size();
            qsizetype at = end;
            while (at > start && QChar::isSpace(uchar(text[at - 1])))
                --at;
            parsed.missingBracket = at;
        }
        parsed.general = content.sliced(1, close - 1).trimmed().compare("general", Qt::CaseInsensitive) == 0;
        return parsed;
    }
    if (equals < 0)
        return parsed;   // no "=": nothing to read

    parsed.kind = ParsedLine::Entry;
    parsed.key = unescapedKey(QByteArrayView(text).sliced(start, equals - start).trimmed());
    parsed.valueStart = equals + 1;
    parsed.valueEnd = end;
    parsed.replaceStart = parsed.valueStart;
    while (parsed.replaceStart < end && isBlank(text[parsed.replaceStart]))
        ++parsed.replaceStart;
    parsed.replaceEnd = end;
    while (parsed.replaceEnd > parsed.replaceStart && isBlank(text[parsed.replaceEnd - 1]))
        --parsed.replaceEnd;
    return parsed;
}

void chopTrailingBlanks(QString &text, qsizetype limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
}

// The text of a value as written: quotes group (and keep blanks and commas), backslash escapes as
// in C ("\x41", "\101", "\n", ...; an unknown one is dropped), blanks around an unquoted part are
// dropped, and an unquoted comma divides a list. Returns whether it was a list.
bool unescapedValue(QByteArrayView raw, QString &text, QStringList &list)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    bool isList = false;
    bool inQuotes = false;
    bool partQuoted = false;   // the current list item (or the whole value) had quotes
    bool chop = true;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < raw.size() && isBlank(raw[i]))
            ++i;
    };

    skipBlanks();
    qsizetype chopLimit = 0;   // blanks before here came from quotes or escapes and stay
    while (i < raw.size()) {
        const char ch = raw[i];
        if (ch == '\\') {
            if (++i == raw.size()) {
                chop = false;
                break;
            }
            const char code = raw[i++];
            static const char simple[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'},  {'t', '\t'},
                                             {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool done = false;
            for (const auto &pair : simple) {
                if (code == pair[0]) {
                    text += QLatin1Char(pair[1]);
                    done = true;
                    break;
                }
            }
            if (!done && code == 'x') {
                if (i == raw.size()) {
                    chop = false;
                    break;
                }
                if (hexDigit(raw[i]) >= 0) {
                    char16_t value = 0;
                    while (i < raw.size() && hexDigit(raw[i]) >= 0)
                        value = char16_t((value << 4) + hexDigit(raw[i++]));
                    text += QChar(value);
                }
            } else if (!done && octalDigit(code) >= 0) {
                char16_t value = char16_t(octalDigit(code));
                while (i < raw.size() && octalDigit(raw[i]) >= 0)
                    value = char16_t((value << 3) + octalDigit(raw[i++]));
                text += QChar(value);
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            partQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = text.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!partQuoted)
                chopTrailingBlanks(text, chopLimit);
            isList = true;
            list.append(text);
            text.clear();
            partQuoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',')
                ++j;
            text += utf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (chop && !partQuoted)
        chopTrailingBlanks(text, chopLimit);
    if (isList)
        list.append(text);
    return isList;
}

// "@Rect(1 2 3 4)" and its kind hold so many arguments.
qsizetype argumentCount(const QString &text, qsizetype open)
{
    qsizetype count = 0;
    for (qsizetype i = open + 1; i < text.size(); ++i)
        count += text.at(i) == u' ' || text.at(i) == u')';
    return count;
}

// The kind of value a text starting with "@" stands for, as Qt reads it.
IniDocument::Value typedValue(const QString &text)
{
    using Type = IniDocument::Type;
    if (text.startsWith(u'@')) {
        if (text.endsWith(u')')) {
            if (text.startsWith(QLatin1String("@ByteArray(")) || text == QLatin1String("@Invalid()"))
                return {Type::Other, {}};
            if (text.startsWith(QLatin1String("@String(")))
                return {Type::String, text.sliced(8).chopped(1)};
            const bool variant = text.startsWith(QLatin1String("@Variant("));
            if (variant || text.startsWith(QLatin1String("@DateTime("))) {
                // A serialised value of any type; only a text is a string.
                QByteArray bytes = text.sliced(variant ? 9 : 10).toLatin1();
                QDataStream stream(&bytes, QIODevice::ReadOnly);
                stream.setVersion(variant ? QDataStream::Qt_4_0 : QDataStream::Qt_5_6);
                QVariant decoded;
                stream >> decoded;
                if (decoded.typeId() == QMetaType::QString)
                    return {Type::String, decoded.toString()};
                return {Type::Other, {}};
            }
            if ((text.startsWith(QLatin1String("@Rect(")) && argumentCount(text, 5) == 4)
                || (text.startsWith(QLatin1String("@Size(")) && argumentCount(text, 5) == 2)
                || (text.startsWith(QLatin1String("@Point(")) && argumentCount(text, 6) == 2))
                return {Type::Other, {}};
        }
        if (text.startsWith(QLatin1String("@@")))
            return {Type::String, text.sliced(1)};
    }
    return {Type::String, text};
}

IniDocument::Value readValue(QByteArrayView raw)
{
    QString text;
    QStringList list;
    if (unescapedValue(raw, text, list))
        return {IniDocument::Type::Other, {}};
    return typedValue(text);
}

// A text as Qt writes a string value: "@" doubled at the start ("@String(...)" around a text with
// a NUL character), control characters, quotes and backslashes escaped, the rest in UTF-8, and
// quotes around it when it holds ";", "," or "=" or starts or ends with a blank.
QByteArray escapedValue(const QString &value)
{
    QString text = value;
    if (text.contains(QChar(u'\0')))
        text = QStringLiteral("@String(") + text + u')';
    else if (text.startsWith(u'@'))
        text.prepend(u'@');

    QStringEncoder utf8(QStringEncoder::Utf8);
    QByteArray out;
    bool needsQuotes = false;
    bool afterNumericEscape = false;   // a hex digit now would run on into the escape before it
    for (const QChar qch : std::as_const(text)) {
        const char16_t ch = qch.unicode();
        if (ch == u';' || ch == u',' || ch == u'=')
            needsQuotes = true;
        if (afterNumericEscape && ch < 0x80 && hexDigit(char(ch)) >= 0) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        afterNumericEscape = false;
        switch (ch) {
        case u'\0':
            out += "\\0";
            afterNumericEscape = true;
            break;
        case u'\a': out += "\\a"; break;
        case u'\b': out += "\\b"; break;
        case u'\f': out += "\\f"; break;
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case u'\t': out += "\\t"; break;
        case u'\v': out += "\\v"; break;
        case u'"':
        case u'\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1f) {
                out += "\\x" + QByteArray::number(ch, 16);
                afterNumericEscape = true;
            } else {
                out += utf8(QStringView(&qch, 1));
            }
        }
    }
    if (needsQuotes || (!out.isEmpty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

bool isBlankLine(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), isBlank);
}

} // namespace

IniDocument::IniDocument(const QByteArray &content)
{
    QByteArrayView rest(content);
    if (rest.startsWith(ByteOrderMark)) {
        m_bom = ByteOrderMark;
        rest = rest.sliced(ByteOrderMark.size());
    }
    bool sawLineEnd = false;
    qsizetype i = 0;
    while (i < rest.size()) {
        qsizetype j = i;
        while (j < rest.size() && rest[j] != '\n' && rest[j] != '\r')
            ++j;
        Line line{rest.sliced(i, j - i).toByteArray(), {}};
        if (j < rest.size()) {
            const qsizetype endSize = rest[j] == '\r' && j + 1 < rest.size() && rest[j + 1] == '\n' ? 2 : 1;
            line.end = rest.sliced(j, endSize).toByteArray();
            if (!sawLineEnd)
                m_newline = line.end;
            sawLineEnd = true;
            j += endSize;
        }
        m_lines.append(line);
        i = j;
    }
}

IniDocument::Value IniDocument::value(const QString &key) const
{
    Value found;
    bool general = true;   // the lines before the first header belong to the General section
    for (const Line &line : m_lines) {
        const ParsedLine parsed = parseLine(line.text);
        if (parsed.kind == ParsedLine::Header)
            general = parsed.general;
        else if (parsed.kind == ParsedLine::Entry && general && parsed.key == key)
            found = readValue(QByteArrayView(line.text).sliced(parsed.valueStart, parsed.valueEnd - parsed.valueStart));
    }
    return found;
}

void IniDocument::setString(const QString &key, const QString &text)
{
    const QByteArray written = escapedValue(text);
    qsizetype own = -1;     // the line that holds the value now
    qsizetype after = -1;   // the General section's last value, or its header
    ParsedLine ownParsed;
    bool general = true;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const ParsedLine parsed = parseLine(m_lines[i].text);
        if (parsed.kind == ParsedLine::Header) {
            general = parsed.general;
            if (parsed.missingBracket >= 0)
                m_lines[i].text.insert(parsed.missingBracket, ']');
            if (general)
                after = i;
        } else if (parsed.kind == ParsedLine::Entry && general) {
            after = i;
            if (parsed.key == key) {
                own = i;
                ownParsed = parsed;
            }
        }
    }

    if (own >= 0) {
        QByteArray &line = m_lines[own].text;
        line.replace(ownParsed.replaceStart, ownParsed.replaceEnd - ownParsed.replaceStart, written);
        // Qt 6.4 takes blanks between a byte-order mark and the first key as part of the key.
        if (own == 0 && !m_bom.isEmpty())
            line.remove(0, qsizetype(std::find_if_not(line.cbegin(), line.cend(), isBlank) - line.cbegin()));
        return;
    }
    const auto insertLine = [this](qsizetype at, const QByteArray &lineText) {
        if (at > 0 && m_lines[at - 1].end.isEmpty())
            m_lines[at - 1].end = m_newline;
        m_lines.insert(at, Line{lineText, m_newline});
    };
    const QByteArray line = escapedKey(key) + '=' + written;
    if (after >= 0) {
        insertLine(after + 1, line);
        return;
    }
    if (!m_lines.isEmpty() && !isBlankLine(m_lines.back().text))
        insertLine(m_lines.size(), {});
    insertLine(m_lines.size(), "[General]");
    insertLine(m_lines.size(), line);
}

QByteArray IniDocument::content() const
{
    QByteArray out = m_bom;
    for (const Line &line : m_lines)
        out += line.text + line.end;
    return out;
}
