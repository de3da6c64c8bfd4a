#include "common/unGlobal.h"

#include "platform/IntConversion.h"

QByteArray EncodeParam(const QByteArray &text)
{
    static constexpr char digitFor[4] = {'0', '3', '4', '7'};
    QByteArray out;
    out.reserve(text.size() * 4);
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(digitFor[b / 64]);
        out.append(digitFor[(b % 64) / 16]);
        out.append(digitFor[(b % 16) / 4]);
        out.append(digitFor[b % 4]);
    }
    return out;
}

QByteArray DecodeParam(const QByteArray &digits)
{
    if (digits.size() % 4 != 0)
        return {};
    QByteArray out;
    out.reserve(digits.size() / 4);
    for (qsizetype k = 0; k < digits.size(); k += 4) {
        int accumulator = 0;
        for (qsizetype j = k; j < k + 4; ++j) {
            const char ch = digits[j];
            int d;
            if (ch >= '0' && ch <= '9')
                d = ch - '0';
            else   // not a digit: the conversion raises its error for this one character
                d = StrToInt(QString::fromLatin1(&ch, 1));
            accumulator = accumulator * 4 + d / 2;
        }
        out.append(static_cast<char>(accumulator & 0xFF));
    }
    return out;
}

QString TrimSetting(const QString &text)
{
    // Blanks and control characters are all at or below U+0020.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}
