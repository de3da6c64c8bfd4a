#include "platform/IntConversion.h"

#include "platform/Exceptions.h"

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

std::optional<std::int32_t> tryStrToInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    if (i == n)
        return std::nullopt;

    // Hexadecimal: "$", "x", "X", "0x" or "0X", no sign, 1 to 8 digits.
    qsizetype hexStart = -1;
    if (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')
        hexStart = i + 1;
    else if (text[i] == u'0' && i + 1 < n && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        hexStart = i + 2;
    if (hexStart >= 0) {
        const qsizetype digits = n - hexStart;
        if (digits < 1 || digits > 8)
            return std::nullopt;
        std::uint32_t value = 0;
        for (qsizetype k = hexStart; k < n; ++k) {
            const int d = hexDigit(text[k]);
            if (d < 0)
                return std::nullopt;
            value = (value << 4) | static_cast<std::uint32_t>(d);
        }
        return static_cast<std::int32_t>(value);
    }

    bool negative = false;
    if (text[i] == u'+' || text[i] == u'-') {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n)
        return std::nullopt;
    std::int64_t value = 0;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < u'0' || u > u'9')
            return std::nullopt;
        value = value * 10 + (u - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t StrToInt(const QString &text)
{
    if (const auto value = tryStrToInt(text))
        return *value;
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}
