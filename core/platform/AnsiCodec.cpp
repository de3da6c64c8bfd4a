#include "platform/AnsiCodec.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>

namespace {

bool namesUtf8(const QByteArray &codeset)
{
    const QByteArray c = codeset.toUpper();
    return c.isEmpty() || c == "UTF-8" || c == "UTF8" || c == "ANSI_X3.4-1968" || c == "ASCII"
        || c == "US-ASCII";
}

class Iconv
{
public:
    Iconv(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`; an input sequence the conversion refuses is replaced by `bad`
    // (written in the target encoding) and skipped by `skip` bytes.
    QByteArray convert(const QByteArray &in, const QByteArray &bad, size_t skip)
    {
        QByteArray out;
        out.reserve(in.size() * 2 + 8);
        char *src = const_cast<char *>(in.constData());
        size_t srcLeft = static_cast<size_t>(in.size());
        char buffer[4096];
        while (srcLeft > 0) {
            char *dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<qsizetype>(dst - buffer));
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                // EILSEQ or EINVAL: an unconvertible or truncated sequence.
                out.append(bad);
                const size_t n = std::min(skip, srcLeft);
                src += n;
                srcLeft -= n;
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, static_cast<qsizetype>(dst - buffer));
        return out;
    }

private:
    iconv_t m_cd;
};

} // namespace

const AnsiCodec &AnsiCodec::system()
{
    static const AnsiCodec codec([] {
        // The program's own locale is the user's (QCoreApplication sets it); ask without changing it.
        const char *previous = std::setlocale(LC_CTYPE, nullptr);
        const QByteArray saved = previous ? QByteArray(previous) : QByteArray();
        if (saved == "C" || saved == "POSIX")
            std::setlocale(LC_CTYPE, "");
        QByteArray name(nl_langinfo(CODESET));
        if (!saved.isEmpty())
            std::setlocale(LC_CTYPE, saved.constData());
        return name;
    }());
    return codec;
}

AnsiCodec::AnsiCodec(QByteArray codeset) : m_codeset(std::move(codeset)), m_utf8(namesUtf8(m_codeset))
{
    if (!m_utf8) {
        Iconv probe("UTF-8", m_codeset.constData());
        if (!probe.valid())
            m_utf8 = true;   // a code set iconv does not know: fall back to UTF-8
    }
}

QByteArray AnsiCodec::fromUnicode(const QString &text) const
{
    if (m_utf8)
        return text.toUtf8();
    Iconv cd(m_codeset.constData(), "UTF-16LE");
    // UTF-16LE input: skip one code unit per refused character.
    const QByteArray in(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return cd.convert(in, QByteArrayLiteral("?"), 2);
}

QString AnsiCodec::toUnicode(const QByteArray &bytes) const
{
    if (m_utf8)
        return QString::fromUtf8(bytes);
    Iconv cd("UTF-16LE", m_codeset.constData());
    const QByteArray bad("\xFD\xFF", 2);   // U+FFFD, little-endian
    const QByteArray out = cd.convert(bytes, bad, 1);
    return QString(reinterpret_cast<const QChar *>(out.constData()), out.size() / 2);
}
