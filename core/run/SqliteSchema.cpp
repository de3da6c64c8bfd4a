#include "run/SqliteSchema.h"

#include <QList>

namespace SqliteSchema {

namespace {

struct Token
{
    enum Kind { Word, Quoted, Punct } kind;
    QString text;
};

// SQLite's tokens as far as a CREATE TABLE needs them: words and numbers, quoted identifiers,
// string literals, punctuation; comments and blanks dropped.
QList<Token> tokens(const QString &sql)
{
    QList<Token> out;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u'"' || c == u'`' || c == u'[' || c == u'\'') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            QString text;
            ++i;
            while (i < n) {
                if (sql[i] == close) {
                    // A doubled quote stands for itself (not inside [...]).
                    if (close != u']' && i + 1 < n && sql[i + 1] == close) {
                        text += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += sql[i++];
            }
            out.append({c == u'\'' ? Token::Punct : Token::Quoted, text});
            if (c == u'\'')
                out.last().text = QStringLiteral("'");   // a literal: only its place matters here
        } else if (c.isLetterOrNumber() || c == u'_' || c.unicode() > 127) {
            QString text;
            while (i < n && (sql[i].isLetterOrNumber() || sql[i] == u'_' || sql[i] == u'$' || sql[i].unicode() > 127))
                text += sql[i++];
            out.append({Token::Word, text});
        } else {
            out.append({Token::Punct, QString(c)});
            ++i;
        }
    }
    return out;
}

bool isName(const Token &token)
{
    return token.kind == Token::Word || token.kind == Token::Quoted;
}

} // namespace

QString declaredCollation(const QString &createTable, const QString &column)
{
    const QList<Token> all = tokens(createTable);
    // The column definitions: the comma-separated parts of the outermost parentheses.
    qsizetype i = 0;
    while (i < all.size() && !(all[i].kind == Token::Punct && all[i].text == QStringLiteral("(")))
        ++i;
    ++i;
    int depth = 0;
    bool atStart = true;
    bool inColumn = false;
    for (; i < all.size(); ++i) {
        const Token &t = all[i];
        if (t.kind == Token::Punct && t.text == QStringLiteral("(")) {
            ++depth;
            continue;
        }
        if (t.kind == Token::Punct && t.text == QStringLiteral(")")) {
            if (depth == 0)
                break;
            --depth;
            continue;
        }
        if (depth == 0 && t.kind == Token::Punct && t.text == QStringLiteral(",")) {
            if (inColumn)
                return {};
            atStart = true;
            continue;
        }
        if (atStart) {
            atStart = false;
            inColumn = isName(t) && t.text.compare(column, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inColumn && depth == 0 && t.kind == Token::Word && t.text.compare(QStringLiteral("collate"), Qt::CaseInsensitive) == 0
            && i + 1 < all.size() && isName(all[i + 1])) {
            return all[i + 1].text.toLower();
        }
    }
    return {};
}

} // namespace SqliteSchema
